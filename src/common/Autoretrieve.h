#pragma once
// The autoretrieve interval and its clock.

#include <QByteArray>

// Validates and applies an interval given in minutes as text: read leniently, 0 to 14400
// minutes (ten days); anything else shows a message box and turns autoretrieve off. Also
// resets the attention counter and notes the outcome on the main console. An armed deadline
// stays in force.
void SetRetrieveInterval(const QByteArray& minutesText);

// One tick of the autoretrieve clock: arms the deadline one interval ahead when it is not
// armed; when the armed deadline has passed, disarms it and returns true (a retrieval is due).
bool AutoretrieveTick();
