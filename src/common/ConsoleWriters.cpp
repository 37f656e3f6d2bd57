#include "ConsoleWriters.h"

#include "Console.h"
#include "MiscUtilities.h"
#include "modConsole.h"

namespace ConsoleWriters {

void Note(Console& console, const QByteArray& text)
{
    Line(console, ':' + text);
    Status(console, FirstLine(text));
}

void Sent(Console& console, const QByteArray& text) { Line(console, '>' + text); }

void Received(Console& console, const QByteArray& text) { Line(console, '<' + text); }

void Line(Console& console, const QByteArray& line) { Append(console, ConsoleLine(line)); }

void Append(Console& console, const QByteArray& text) { AppendToConsoleBox(text, console); }

void Status(Console& console, const QByteArray& text) { console.setStatusText(text); }

} // namespace ConsoleWriters
