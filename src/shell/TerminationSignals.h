#pragma once
// SIGTERM, SIGINT and SIGHUP close the main window exactly as Exit does, so that a logout or a
// service manager's stop loses nothing. The handler only writes a byte into a socket pair; the
// GUI thread reads it through a socket notifier.

#include <functional>

namespace TerminationSignals {

// Installs the handlers; call first thing in main, before the application object exists.
// Also ignores SIGPIPE and SIGXFSZ, so that a closed peer or a full file-size limit shows as
// a failed write rather than killing the program.
void Install();

// Starts watching on the GUI thread; `onSignal` runs there once per arriving signal.
void Watch(std::function<void()> onSignal);

} // namespace TerminationSignals
