#pragma once
// The writes one console offers: notes (":", first line also into the status box), lines sent
// (">") and received ("<"). The main window's family (modMain) and the compose window's
// (modSendForm) are this, bound to their console.

#include <QByteArray>

class Console;

namespace ConsoleWriters {
void Note(Console& console, const QByteArray& text);
void Sent(Console& console, const QByteArray& text);
void Received(Console& console, const QByteArray& text);
void Line(Console& console, const QByteArray& line);
void Append(Console& console, const QByteArray& text);
void Status(Console& console, const QByteArray& text);
} // namespace ConsoleWriters
