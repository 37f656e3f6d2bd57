#include "SocketAdapter.h"

#include "modGeneralExceptionHandler.h"

QString SocketStateName(int state)
{
    static const char* const names[] = { "Closed", "Open", "Listening", "Connection pending", "Resolving host",
        "Host resolved", "Connecting", "Connected", "Peer is closing the connection", "Error" };
    if (state < 0 || state >= 10)
        throw AppError(ErrorNumbers::SubscriptOutOfRange, QStringLiteral("Subscript out of range"));
    return QString::fromLatin1(names[state]);
}

namespace SocketErrors {

// The one table of socket errors, by number.
QString Description(int number)
{
    switch (number) {
    case AddressNotAvailable: return QStringLiteral("Address is not available from the local machine");
    case PermissionDenied: return QStringLiteral("Permission denied");
    case AddressInUse: return QStringLiteral("Address in use");
    case NetworkUnreachable: return QStringLiteral("The network cannot be reached from this host at this time");
    case ConnectionAborted: return QStringLiteral("Connection is aborted due to timeout or other failure");
    case ConnectionReset: return QStringLiteral("Connection is reset by remote side");
    case TimedOut: return QStringLiteral("Connection timed out");
    case ConnectionRefused: return QStringLiteral("Connection is forcefully rejected");
    case HostNotFound: return QStringLiteral("Authoritative answer: Host not found");
    case TlsFailed: return QStringLiteral("The secure connection failed");
    case WrongState: return QStringLiteral("Wrong protocol or connection state for the requested transaction or request");
    default: return QStringLiteral("Socket error");
    }
}

} // namespace SocketErrors
