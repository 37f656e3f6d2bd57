#include "modSendForm.h"

#include "AppState.h"
#include "ConsoleWriters.h"

void WriteSendNote(const QByteArray& text) { ConsoleWriters::Note(App().sendConsole, text); }
void WriteSendSent(const QByteArray& text) { ConsoleWriters::Sent(App().sendConsole, text); }
void WriteSendReceived(const QByteArray& text) { ConsoleWriters::Received(App().sendConsole, text); }
void WriteSendConsoleLine(const QByteArray& line) { ConsoleWriters::Line(App().sendConsole, line); }
void AppendSendConsole(const QByteArray& text) { ConsoleWriters::Append(App().sendConsole, text); }
void SetSendStatus(const QByteArray& text) { ConsoleWriters::Status(App().sendConsole, text); }
