// Server names as users type them: host, host and port, bracketed IPv6 with or without a port,
// and everything else taken whole as the host.

#include "ServerName.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>

namespace {

constexpr quint16 DefaultPort = 110;

struct ServerRow {
    const char* name;
    QString text;
    QString host;
    quint16 port;
};

void PrintTo(const ServerRow& row, std::ostream* out) { *out << row.name; }

std::string RowName(const ::testing::TestParamInfo<ServerRow>& info)
{
    std::string name = info.param.name;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

class ServerNames : public ::testing::TestWithParam<ServerRow> {};

TEST_P(ServerNames, GiveHostAndPort)
{
    const ServerAddress address = ParseServerName(GetParam().text, DefaultPort);
    EXPECT_EQ(address.host.toStdString(), GetParam().host.toStdString());
    EXPECT_EQ(address.port, GetParam().port);
}

// A row whose text is taken whole as the host, with the default port.
ServerRow Whole(const char* name, const char* text)
{
    return { name, QString::fromUtf8(text), QString::fromUtf8(text), DefaultPort };
}

INSTANTIATE_TEST_SUITE_P(ParseServerName, ServerNames,
    ::testing::Values(
        ServerRow { "host only", QStringLiteral("mail.example"), QStringLiteral("mail.example"), DefaultPort },
        ServerRow { "host and port", QStringLiteral("mail.example:587"), QStringLiteral("mail.example"), 587 },
        ServerRow { "ipv4 and port 1", QStringLiteral("127.0.0.1:1"), QStringLiteral("127.0.0.1"), 1 },
        ServerRow { "highest port", QStringLiteral("host:65535"), QStringLiteral("host"), 65535 },
        ServerRow { "bracketed ipv6 and port", QStringLiteral("[::1]:2525"), QStringLiteral("::1"), 2525 },
        ServerRow { "bracketed ipv6 alone", QStringLiteral("[::1]"), QStringLiteral("::1"), DefaultPort },
        ServerRow { "bracketed long ipv6 and port", QStringLiteral("[fe80::1:2]:25"), QStringLiteral("fe80::1:2"), 25 },
        Whole("bare ipv6 loopback", "::1"),
        Whole("bare ipv6 several colons", "fe80::1:2"),
        Whole("bare ipv6 ending in a number", "2001:db8::25"),
        Whole("port zero", "host:0"),
        Whole("port above range", "host:65536"),
        Whole("port far above range", "host:100000"),
        Whole("empty port", "host:"),
        Whole("port with letter", "host:25x"),
        Whole("port with plus sign", "host:+25"),
        Whole("port with minus sign", "host:-25"),
        Whole("port with blank", "host: 25"),
        Whole("port in other digits", "host:\xD9\xA2\xD9\xA5"),
        Whole("port without host", ":25"),
        Whole("text after bracket", "[::1]x"),
        Whole("empty port after bracket", "[::1]:"),
        Whole("port zero after bracket", "[::1]:0"),
        Whole("port above range after bracket", "[::1]:65536"),
        Whole("bracket not closed", "[::1"),
        Whole("empty brackets", "[]:25")),
    RowName);

} // namespace
