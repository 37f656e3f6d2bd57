#include "modConsole.h"

#include "AppState.h"
#include "Console.h"
#include "FileHandlers.h"
#include "Text8.h"

#include <QFile>

QString ConsoleLogPath() { return AppFilePath(QStringLiteral("console.txt")); }

void AppendToConsoleBox(const QByteArray& text, Console& box)
{
    const qsizetype added = Text8::CharCount(text);
    if (added == 0)
        return;
    const QByteArray& current = box.boxText();
    if (added > ConsoleBoxKeep) {
        const qsizetype cut = Text8::ByteOffsetOfChar(text, added - ConsoleBoxKeep);
        OpenAndAppendToFile(ConsoleLogPath(), current + text.left(cut));
        box.setBoxText(text.mid(cut));
        return;
    }
    const qsizetype held = box.boxChars();
    if (held <= ConsoleBoxKeep) {
        box.appendBoxText(text, added);
        return;
    }
    const qsizetype cut = Text8::ByteOffsetOfChar(current, held - ConsoleBoxKeep);
    OpenAndAppendToFile(ConsoleLogPath(), current.left(cut));
    box.setBoxText(current.mid(cut) + text);
}

void DeleteConsoleLog() { QFile::remove(ConsoleLogPath()); }

void SaveConsoleToLog(const Console& box) { OpenAndAppendToFile(ConsoleLogPath(), box.boxText()); }

QByteArray ConsoleLine(const QByteArray& line)
{
    if (!line.endsWith('\n'))
        return line + "\r\n";
    if (line.endsWith("\r\n"))
        return line;
    return line.left(line.size() - 1) + "\r\n";
}
