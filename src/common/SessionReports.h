#pragma once
// What the two client sessions (sending and retrieving) share in reporting a run-time failure:
// the status turns red, a network that is not there is told as "No Connection to Internet.",
// anything else is noted with its number and reported in the EXCEPTION box.

#include <QString>

class Console;

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
