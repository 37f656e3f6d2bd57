#pragma once
// Server names as users type them: "host", "host:port", "[IPv6]:port" or "[IPv6]". A text
// with several colons and no brackets is a bare IPv6 address; anything else (a port outside
// 1 to 65535, say) is taken whole as the host name, and resolving it then fails as usual.

#include <QString>

struct ServerAddress {
    QString host;
    quint16 port = 0;
};

ServerAddress ParseServerName(const QString& text, quint16 defaultPort);
