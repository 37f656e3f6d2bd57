#include "ServerName.h"

#include <optional>

namespace {

const QString SchemeEnd = QStringLiteral("://");

// A port of 1 to 65535 written in decimal digits only; 0 otherwise.
quint16 PortOf(const QString& text)
{
    if (text.isEmpty() || text.size() > 5)
        return 0;
    for (const QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
    const int port = text.toInt();
    return port >= 1 && port <= 65535 ? static_cast<quint16>(port) : 0;
}

// The host and port of "host", "host:port", "[IPv6]", "[IPv6]:port" or a bare IPv6 address;
// nothing for a bracket left open or empty, text after it, or a port that is none.
std::optional<ServerAddress> HostAndPort(const QString& text, quint16 defaultPort)
{
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 2)
            return std::nullopt;
        const QString host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (rest.isEmpty())
            return ServerAddress { host, defaultPort };
        const quint16 port = rest.startsWith(QLatin1Char(':')) ? PortOf(rest.mid(1)) : 0;
        return port ? std::optional(ServerAddress { host, port }) : std::nullopt;
    }
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon < 0 || text.indexOf(QLatin1Char(':'), colon + 1) >= 0)
        return ServerAddress { text, defaultPort };
    const quint16 port = colon > 0 ? PortOf(text.mid(colon + 1)) : 0;
    return port ? std::optional(ServerAddress { text.left(colon), port }) : std::nullopt;
}

ServerAddress Refused(const QString& why) { return { .error = why }; }

} // namespace

ServerAddress ParseServerName(const QString& text, const ServerSchemes& schemes)
{
    const qsizetype schemeEnd = text.indexOf(SchemeEnd);
    if (schemeEnd < 0)
        return HostAndPort(text, schemes.plainPort).value_or(ServerAddress { text, schemes.plainPort });

    const QString scheme = text.left(schemeEnd).toLower();
    ServerAddress address;
    if (scheme == QLatin1String(schemes.tlsScheme))
        address = { .port = schemes.tlsPort, .security = Security::Tls };
    else if (scheme == QLatin1String(schemes.startTlsScheme))
        address = { .port = schemes.startTlsPort, .security = Security::StartTls };
    else
        return Refused(QStringLiteral("Unknown scheme \"%1\" in the server name \"%2\": use %3://, %4:// or no scheme.")
                           .arg(text.left(schemeEnd + SchemeEnd.size()), text, QLatin1String(schemes.tlsScheme),
                               QLatin1String(schemes.startTlsScheme)));
    // A link copied from a provider's page may end in a slash.
    QString rest = text.mid(schemeEnd + SchemeEnd.size());
    if (rest.endsWith(QLatin1Char('/')))
        rest.chop(1);
    const std::optional<ServerAddress> server = HostAndPort(rest, address.port);
    if (!server || server->host.isEmpty() || server->host.contains(QLatin1Char('/')))
        return Refused(QStringLiteral("The server name \"%1\" is not \"%2host\" or \"%2host:port\" with a port from 1 to 65535.")
                           .arg(text, scheme + SchemeEnd));
    address.host = server->host;
    address.port = server->port;
    address.scheme = scheme + SchemeEnd;
    return address;
}
