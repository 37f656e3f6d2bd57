#include "modSendForm.h"

#include "AppState.h"
#include "ConsoleWriters.h"

void WriteSendNote(const QByteArray& text) { ConsoleWriters::Note(App().consoles.sendConsole, text); }
void WriteSendSent(const QByteArray& text) { ConsoleWriters::Sent(App().consoles.sendConsole, text); }
void WriteSendReceived(const QByteArray& text) { ConsoleWriters::Received(App().consoles.sendConsole, text); }
void WriteSendConsoleLine(const QByteArray& line) { ConsoleWriters::Line(App().consoles.sendConsole, line); }
void AppendSendConsole(const QByteArray& text) { ConsoleWriters::Append(App().consoles.sendConsole, text); }
void SetSendStatus(const QByteArray& text) { ConsoleWriters::Status(App().consoles.sendConsole, text); }
