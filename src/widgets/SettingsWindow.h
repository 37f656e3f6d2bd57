#pragma once
// What the two settings windows (the account window and the local server's) share: how a
// text box's value is stored, how a check box becomes a flag, and the keys of their text boxes.

#include <QByteArray>
#include <QString>

class QAbstractButton;
class QCheckBox;
class QEvent;

// A text box's value as stored: its bytes without blanks at either end (a tab is kept).
QByteArray StoredBoxText(const QString& text);

// "Y" for a checked box, "N" otherwise.
QByteArray CheckedFlag(const QCheckBox& box);

// A key pressed in one of the window's text boxes: Enter clicks `apply`, Esc clicks `cancel`.
// True when the event was one of those keys (it is then taken).
bool SettingsBoxKey(const QEvent& event, QAbstractButton& apply, QAbstractButton& cancel);
