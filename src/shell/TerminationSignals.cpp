#include "TerminationSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace TerminationSignals {
namespace {

int gPipe[2] = { -1, -1 };

void OnSignal(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(gPipe[0], &byte, 1);
    errno = savedErrno;
}

} // namespace

void Install()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gPipe) != 0)
        return;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : { SIGTERM, SIGINT, SIGHUP })
        ::sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

void Watch(std::function<void()> onSignal)
{
    if (gPipe[1] < 0)
        return;
    // Lives as long as the application object.
    auto* notifier = new QSocketNotifier(gPipe[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [onSignal = std::move(onSignal)] {
        char bytes[16];
        const ssize_t count = ::read(gPipe[1], bytes, sizeof bytes);
        for (ssize_t i = 0; i < count; ++i)
            onSignal();
    });
}

} // namespace TerminationSignals
