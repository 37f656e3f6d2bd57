#include "ServerName.h"

namespace {

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

} // namespace

ServerAddress ParseServerName(const QString& text, quint16 defaultPort)
{
    const ServerAddress whole { text, defaultPort };
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 2)
            return whole;
        const QString host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (rest.isEmpty())
            return { host, defaultPort };
        const quint16 port = rest.startsWith(QLatin1Char(':')) ? PortOf(rest.mid(1)) : 0;
        return port ? ServerAddress { host, port } : whole;
    }
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon <= 0 || text.indexOf(QLatin1Char(':'), colon + 1) >= 0)
        return whole;
    const quint16 port = PortOf(text.mid(colon + 1));
    return port ? ServerAddress { text.left(colon), port } : whole;
}
