#pragma once
// The start-up module's shared operations: the main console's writers and EnsureFolder.
// (The start-up sequence itself is Main, in the shell.)

#include <QByteArray>
#include <QString>

void WriteMainNote(const QByteArray& text);
void WriteMainSent(const QByteArray& text);
void WriteMainReceived(const QByteArray& text);
void WriteMainConsoleLine(const QByteArray& line);
void AppendMainConsole(const QByteArray& text);
void SetMainStatus(const QByteArray& text);

// Whether the receive account is set (a user name that is not only whitespace, and the
// password saved); start-up asks for it otherwise.
bool ReceiveAccountComplete();

// Makes sure a folder of that name exists, creating it (owner-only: it holds mail) when nothing
// has the name. Returns ""
// when the folder exists or was created, otherwise a message for the user. Never raises.
QString EnsureFolder(const QString& path);
