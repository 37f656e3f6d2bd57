#pragma once
// The platform services the program's parts use and tests replace: the dialogs, the clock and
// the system beep.

#include <functional>

class Clock;
class Dialogs;

struct Services {
    Dialogs* dialogs = nullptr;
    Clock* clock = nullptr;
    std::function<void()> beep;
};
