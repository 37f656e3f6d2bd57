// The text of an outgoing message: body lines, the date line, the header block, dot stuffing,
// the terminator, reply texts and the send record.

#include "QtPrinting.h"
#include "TestApp.h"
#include "email_Encoding.h"

#include <QDateTime>
#include <QLocale>

namespace {

const QByteArray EAcute("\xC3\xA9");

// "0123456789" written `times` times.
QByteArray Digits(int times) { return QByteArray("0123456789").repeated(times); }

// ---- Body lines ----

struct BodyRow {
    const char* name;
    QByteArray text;
    QByteArray expected;
};

class BodyLinesAccepted : public ::testing::TestWithParam<BodyRow> {};

TEST_P(BodyLinesAccepted, EndsEveryLineWithCrLfAndLeavesTheMessage)
{
    QString message = QStringLiteral("untouched");
    EXPECT_EQ(CheckBodyLines(GetParam().text, message), GetParam().expected);
    EXPECT_EQ(message, QStringLiteral("untouched"));
}

INSTANTIATE_TEST_SUITE_P(CheckBodyLines, BodyLinesAccepted,
    ::testing::Values(
        BodyRow { "empty text", "", "" },
        BodyRow { "one line without LF", "a", "a\r\n" },
        BodyRow { "text ending in LF gains empty line", "a\n", "a\r\n\r\n" },
        BodyRow { "only LF", "\n", "\r\n\r\n" },
        BodyRow { "CR LF lines", "a\r\nb", "a\r\nb\r\n" },
        BodyRow { "empty line in the middle", "a\n\nb", "a\r\n\r\nb\r\n" },
        BodyRow { "lone CRs vanish", "a\rb\n\rc\r", "ab\r\nc\r\n" },
        BodyRow { "only CR", "\r", "\r\n" },
        BodyRow { "CR CR LF", "a\r\r\nb", "a\r\nb\r\n" },
        BodyRow { "77 characters", QByteArray(77, 'x'), QByteArray(77, 'x') + "\r\n" },
        BodyRow { "77 characters plus CR", QByteArray(77, 'x') + "\r", QByteArray(77, 'x') + "\r\n" },
        BodyRow { "CR inside a 77 character line", QByteArray(40, 'x') + "\r" + QByteArray(37, 'y'),
            QByteArray(40, 'x') + QByteArray(37, 'y') + "\r\n" },
        BodyRow { "77 two byte characters", EAcute.repeated(77), EAcute.repeated(77) + "\r\n" },
        BodyRow { "77 characters on the last of three lines", "a\r\nb\r\n" + QByteArray(77, 'z'),
            "a\r\nb\r\n" + QByteArray(77, 'z') + "\r\n" }),
    RowName());

struct LongLineRow {
    const char* name;
    QByteArray text;
    QString message;
};

class BodyLinesRefused : public ::testing::TestWithParam<LongLineRow> {};

TEST_P(BodyLinesRefused, NamesTheLineAndGivesNothing)
{
    QString message;
    EXPECT_EQ(CheckBodyLines(GetParam().text, message), QByteArray());
    EXPECT_EQ(message, GetParam().message);
}

const QString TooLong = QStringLiteral(" ... \r\nis longer than 77 characters.");

INSTANTIATE_TEST_SUITE_P(CheckBodyLines, BodyLinesRefused,
    ::testing::Values(
        LongLineRow { "78 characters first line", QByteArray(78, 'x') + "\nb",
            "String #0:\r\n" + QString(78, QLatin1Char('x')) + TooLong },
        LongLineRow { "78 characters plus CR", QByteArray(78, 'x') + "\r\n", "String #0:\r\n" + QString(78, QLatin1Char('x')) + TooLong },
        LongLineRow { "78 two byte characters", EAcute.repeated(78), "String #0:\r\n" + QString(78, QChar(0xE9)) + TooLong },
        LongLineRow { "100 characters third line cut to 80", "a\nb\n" + Digits(10) + "\nc",
            QStringLiteral("String #2:\r\n"
                           "01234567890123456789"
                           "01234567890123456789"
                           "01234567890123456789"
                           "01234567890123456789") + TooLong },
        LongLineRow { "100 two byte characters cut to 80 characters", "\r\n" + EAcute.repeated(100),
            "String #1:\r\n" + QString(80, QChar(0xE9)) + TooLong },
        LongLineRow { "first long line named when two are", QByteArray(78, 'x') + "\n\n" + QByteArray(90, 'y'),
            "String #0:\r\n" + QString(78, QLatin1Char('x')) + TooLong },
        LongLineRow { "long line after empty lines", "\n\n\n" + QByteArray(78, 'q'), "String #3:\r\n" + QString(78, QLatin1Char('q')) + TooLong }),
    RowName());

// ---- Date line ----

struct DateRow {
    const char* name;
    QDateTime localTime;
    int utcOffsetSeconds;
    QByteArray expected;
    QLocale::Language defaultLanguage = QLocale::English;
};

class DateLines : public ::testing::TestWithParam<DateRow> {
protected:
    ~DateLines() override { QLocale::setDefault(saved); }
    QLocale saved;
};

TEST_P(DateLines, WriteEnglishNamesAndTheOffset)
{
    QLocale::setDefault(QLocale(GetParam().defaultLanguage));
    EXPECT_EQ(DateLine(GetParam().localTime, GetParam().utcOffsetSeconds), GetParam().expected);
}

QDateTime At(int year, int month, int day, int hour, int minute, int second)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second));
}

INSTANTIATE_TEST_SUITE_P(DateLine, DateLines,
    ::testing::Values(
        DateRow { "seven hours west", At(2026, 12, 5, 3, 28, 43), -7 * 3600, "Date: Sat, 05 Dec 2026 03:28:43 -0700\r\n" },
        DateRow { "one hour east", At(2026, 12, 5, 3, 28, 43), 3600, "Date: Sat, 05 Dec 2026 03:28:43 +0100\r\n" },
        DateRow { "utc", At(2026, 12, 5, 3, 28, 43), 0, "Date: Sat, 05 Dec 2026 03:28:43 +0000\r\n" },
        DateRow { "five and a half hours east", At(2026, 12, 5, 3, 28, 43), 5 * 3600 + 1800, "Date: Sat, 05 Dec 2026 03:28:43 +0530\r\n" },
        DateRow { "three and a half hours west", At(2026, 12, 5, 3, 28, 43), -(3 * 3600 + 1800), "Date: Sat, 05 Dec 2026 03:28:43 -0330\r\n" },
        DateRow { "half an hour west", At(2026, 12, 5, 3, 28, 43), -1800, "Date: Sat, 05 Dec 2026 03:28:43 -0030\r\n" },
        DateRow { "fourteen hours east", At(2026, 3, 2, 23, 59, 59), 14 * 3600, "Date: Mon, 02 Mar 2026 23:59:59 +1400\r\n" },
        DateRow { "summer time", At(2026, 7, 15, 14, 5, 9), 2 * 3600, "Date: Wed, 15 Jul 2026 14:05:09 +0200\r\n" },
        DateRow { "sunday in january at midnight", At(2026, 1, 4, 0, 0, 0), 0, "Date: Sun, 04 Jan 2026 00:00:00 +0000\r\n" },
        DateRow { "german default locale", At(2026, 12, 5, 3, 28, 43), -7 * 3600, "Date: Sat, 05 Dec 2026 03:28:43 -0700\r\n",
            QLocale::German },
        DateRow { "french default locale in may", At(2026, 5, 1, 12, 0, 0), 7200, "Date: Fri, 01 May 2026 12:00:00 +0200\r\n",
            QLocale::French }),
    RowName());

// ---- Header block and body preamble ----

const QByteArray Date("Date: Sat, 05 Dec 2026 03:28:43 -0700\r\n");

struct HeaderRow {
    const char* name;
    MessageHeader header;
    const char* fixture;
};

class HeaderBlocks : public ::testing::TestWithParam<HeaderRow> {};

TEST_P(HeaderBlocks, MatchTheFixture)
{
    EXPECT_EQ(HeaderBlock(GetParam().header, Date), Fixture(QStringLiteral("send/") + QLatin1String(GetParam().fixture)));
}

INSTANTIATE_TEST_SUITE_P(HeaderBlock, HeaderBlocks,
    ::testing::Values(
        HeaderRow { "address only", { "", "b@y", "a@x", "Hi", "" }, "header-plain.txt" },
        HeaderRow { "recipient name quoted", { "Bob", "b@y", "a@x", "Hi", "" }, "header-named.txt" },
        HeaderRow { "boundary adds mime lines", { "", "b@y", "a@x", "Hi", "XYZ" }, "header-mime.txt" }),
    RowName());

struct BodyStartRow {
    const char* name;
    QByteArray boundary;
    QByteArray checkedBody;
    QByteArray expected;
};

class MessageBodies : public ::testing::TestWithParam<BodyStartRow> {};

TEST_P(MessageBodies, StartWithThePreambleOnlyForMime)
{
    const MessageHeader header { "", "b@y", "a@x", "Hi", GetParam().boundary };
    EXPECT_EQ(MessageBody(header, GetParam().checkedBody), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(MessageBody, MessageBodies,
    ::testing::Values(
        BodyStartRow { "plain body unchanged", "", "hello\r\n", "hello\r\n" },
        BodyStartRow { "mime body gets preamble", "XYZ", "--XYZ\r\n", "This is a multi-part message in MIME format.\r\n--XYZ\r\n" },
        BodyStartRow { "mime empty body", "XYZ", "", "This is a multi-part message in MIME format.\r\n" }),
    RowName());

// ---- Dot stuffing ----

struct StuffRow {
    const char* name;
    QByteArray content;
    QByteArray expected;
};

class DotStuffing : public ::testing::TestWithParam<StuffRow> {};

TEST_P(DotStuffing, DoublesTheDotAfterEveryLineFeed) { EXPECT_EQ(DotStuff(GetParam().content), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(DotStuff, DotStuffing,
    ::testing::Values(
        StuffRow { "empty", "", "" },
        StuffRow { "no line feed", "a.b.", "a.b." },
        StuffRow { "dot starting a line", "a\r\n.b\r\n", "a\r\n..b\r\n" },
        StuffRow { "dot only line", "a\r\n.\r\n", "a\r\n..\r\n" },
        StuffRow { "two dots become three in one pass", "\r\n..x", "\r\n...x" },
        StuffRow { "consecutive dot lines", "a\r\n.\r\n.\r\n.x\r\n", "a\r\n..\r\n..\r\n..x\r\n" },
        StuffRow { "dot first in the content left alone", ".a\r\n.b", ".a\r\n..b" },
        StuffRow { "dot after bare LF", "a\n.b", "a\n..b" },
        StuffRow { "dot after CR only left alone", "a\r.b", "a\r.b" },
        StuffRow { "dot not at line start left alone", "a\r\nb.\r\n", "a\r\nb.\r\n" },
        StuffRow { "content ending in LF dot", "a\n.", "a\n.." }),
    RowName());

TEST(DotStuffLarge, StuffsEveryLineOfAMegabyte)
{
    constexpr int Units = 1 << 16; // 16 bytes each
    const QByteArray head("From: <a@x>\r\n");
    const QByteArray unit(".a\r\nbb\r\n..c\r\n.\r\n");
    const QByteArray stuffedUnit("..a\r\nbb\r\n...c\r\n..\r\n");
    ASSERT_EQ(unit.size(), 16);

    const QByteArray stuffed = DotStuff(head + unit.repeated(Units));

    EXPECT_EQ(stuffed.size(), head.size() + 16 * Units + 3 * Units);
    EXPECT_TRUE(stuffed == head + stuffedUnit.repeated(Units));
}

// ---- Terminator ----

struct TerminatorRow {
    const char* name;
    QByteArray body;
    QByteArray expected;
};

class Terminators : public ::testing::TestWithParam<TerminatorRow> {};

TEST_P(Terminators, CloseTheLastLineFirst) { EXPECT_EQ(Terminator(GetParam().body), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Terminator, Terminators,
    ::testing::Values(
        TerminatorRow { "body ending in CR LF", "a\r\n", ".\r\n" },
        TerminatorRow { "body of one CR LF", "\r\n", ".\r\n" },
        TerminatorRow { "empty body", "", "\r\n.\r\n" },
        TerminatorRow { "body without line end", "a", "\r\n.\r\n" },
        TerminatorRow { "body ending in bare LF", "a\n", "\r\n.\r\n" },
        TerminatorRow { "body ending in CR", "a\r", "\r\n.\r\n" },
        TerminatorRow { "body ending in LF CR", "a\n\r", "\r\n.\r\n" }),
    RowName());

// ---- Reply text ----

struct ReplyRow {
    const char* name;
    QByteArray reply;
    QByteArray expected;
};

class ReplyTexts : public ::testing::TestWithParam<ReplyRow> {};

TEST_P(ReplyTexts, KeepTheFirstLineAfterTheCode) { EXPECT_EQ(ReplyText(GetParam().reply), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(ReplyText, ReplyTexts,
    ::testing::Values(
        ReplyRow { "greeting", "220 mail ready\r\n", " mail ready" },
        ReplyRow { "code only", "250", "" },
        ReplyRow { "code and CR LF", "250\r\n", "" },
        ReplyRow { "code and blank", "250 \r\n", " " },
        ReplyRow { "empty", "", "" },
        ReplyRow { "multi line keeps the first", "250-first\r\n250 last\r\n", "-first" },
        ReplyRow { "no CR LF", "354 go ahead", " go ahead" },
        ReplyRow { "bare LF is not a line end", "250 a\n250 b", " a\n250 b" },
        ReplyRow { "CR LF first", "\r\n250 late", "" }),
    RowName());

// ---- Send record ----

TEST(SendRecordText, SentLinesThenInformationLines)
{
    SendRecord record;
    record.SetStartupInfo(QStringLiteral("192.0.2.7"), QStringLiteral("smtp.example"), 25);
    record.AddSent("HELO me\r\n");
    record.AddSent("MAIL FROM: a@x\r\n");
    record.AddSent("RCPT TO: b@y\r\n");
    record.SetConnResponse("220 hello\r\n");
    record.SetHeloResponse("250 hi\r\n");
    record.SetBodyEndResponse("250 ok queued\r\n");

    EXPECT_EQ(record.Text(), Fixture(QStringLiteral("send/send-record.txt")));
}

TEST(SendRecordText, LaterRepliesReplaceEarlierOnes)
{
    SendRecord record;
    record.SetStartupInfo(QStringLiteral("192.0.2.7"), QStringLiteral("smtp.example"), 25);
    record.AddSent("HELO me\r\n");
    record.AddSent("MAIL FROM: a@x\r\n");
    record.AddSent("RCPT TO: b@y\r\n");
    record.SetConnResponse("421 busy\r\n");
    record.SetConnResponse("220 hello\r\n");
    record.SetHeloResponse("250 hi\r\n");
    record.SetBodyEndResponse("250-ok queued\r\n250 more\r\n");
    record.SetBodyEndResponse("250 ok queued\r\n");

    EXPECT_EQ(record.Text(), Fixture(QStringLiteral("send/send-record.txt")));
}

} // namespace
