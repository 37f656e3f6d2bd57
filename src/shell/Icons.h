#pragma once
// The two window icons, drawn in code so that the executable carries them.

#include <QIcon>

namespace Icons {
// The envelope shown normally.
QIcon MainIcon();
// The envelope with an arrow into it, shown while mail is being received.
QIcon ReceiveIcon();
} // namespace Icons
