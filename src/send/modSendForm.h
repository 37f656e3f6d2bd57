#pragma once
// The compose window's console writers, twins of the main window's (modMain).

#include <QByteArray>

void WriteSendNote(const QByteArray& text);
void WriteSendSent(const QByteArray& text);
void WriteSendReceived(const QByteArray& text);
void WriteSendConsoleLine(const QByteArray& line);
void AppendSendConsole(const QByteArray& text);
void SetSendStatus(const QByteArray& text);
