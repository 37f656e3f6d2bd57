#pragma once
// The console box keeps about its last 10000 characters plus the latest write; older text
// spills, oldest first, into console.txt in the application folder.

#include <QByteArray>
#include <QString>

class Console;

constexpr qsizetype ConsoleBoxKeep = 10000;

QString ConsoleLogPath();

// Appends the text to the box, spilling into console.txt; raises AppError when console.txt
// cannot be written (the box is then left as it was).
void AppendToConsoleBox(const QByteArray& text, Console& box);

// Deletes console.txt; every error is ignored.
void DeleteConsoleLog();

// Appends the box's whole text to console.txt (raises like AppendToConsoleBox).
void SaveConsoleToLog(const Console& box);

// The line with its end made CR LF (a bare LF becomes CR LF; one is added when missing).
QByteArray ConsoleLine(const QByteArray& line);
