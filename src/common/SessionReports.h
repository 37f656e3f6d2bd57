#pragma once
// What the two client sessions (sending and retrieving) share in reporting a run-time failure:
// the status turns red, a network that is not there is told as "No Connection to Internet.",
// anything else is noted with its number and reported in the EXCEPTION box.

#include <QByteArray>
#include <QString>

class Console;

// The local time of day, HH:MM:SS, as the sessions' notes show it.
QByteArray TimeOfDay();

// A whole percentage of `whole`, at most 100 (0 when there is no whole).
int Percent(qint64 part, qint64 whole);

// What a session's socket Error event leaves as its error text.
QString SocketErrorText(int number, const QString& description);

// Stores a failure caught inside a session's wait or handler and gives its text:
// number, blank, description, and the place on a line of its own when there is one.
QString CaughtErrorText(const std::exception& error, const QString& place = {});

// Why a wait ended when the program is closing.
QString ClosingText();

void ReportSessionFailure(Console& console, const QString& module, const QString& function);

// Runs a step of a session's finish; a failure there is passed over so the next step runs.
template <typename Step>
void PassOverFailure(Step&& step)
{
    try {
        step();
    } catch (const std::exception&) {
    }
}
