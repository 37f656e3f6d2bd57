#pragma once
// Server names as users type them. Without a scheme: "host", "host:port", "[IPv6]:port" or
// "[IPv6]", spoken in plain text; a text with several colons and no brackets is a bare IPv6
// address, and anything else (a port outside 1 to 65535, say) is taken whole as the host name,
// so that resolving it fails as usual. With a scheme the name chooses TLS: "smtps://" and
// "pop3s://" from the first byte, "smtp://" and "pop3://" after STARTTLS or STLS; there the
// name must be well formed, or nothing is connected.

#include <QString>

enum class Security {
    Plain,
    // TLS from the first byte.
    Tls,
    // A plain connection upgraded before anything else is sent.
    StartTls,
};

// A protocol's schemes and default ports.
struct ServerSchemes {
    quint16 plainPort;
    const char* tlsScheme;
    quint16 tlsPort;
    const char* startTlsScheme;
    quint16 startTlsPort;
};
inline constexpr ServerSchemes SmtpSchemes { 25, "smtps", 465, "smtp", 587 };
inline constexpr ServerSchemes Pop3Schemes { 110, "pop3s", 995, "pop3", 110 };

struct ServerAddress {
    QString host;
    quint16 port = 0;
    Security security = Security::Plain;
    // "smtps://" as typed in lower case; empty without a scheme.
    QString scheme {};
    // Why a name with a scheme is no server name; empty when it is one.
    QString error {};
};

ServerAddress ParseServerName(const QString& text, const ServerSchemes& schemes);
