// The rules over bytes and text, each checked against hand-written tables in
// tests/fixtures/text: how command lines are read, how message text is shaped for the wire,
// console lines, server names, window layout and preference lookups; and how preferences.txt
// is read once and written whole.

#include "FileHandlers.h"
#include "FormHelpers.h"
#include "MessageStream.h"
#include "MiscUtilities.h"
#include "ParsePreferences.h"
#include "POP3Commands.h"
#include "QtPrinting.h"
#include "ServerName.h"
#include "TestApp.h"
#include "email_Encoding.h"
#include "frmFile.h"
#include "modMain.h"
#include "modSendForm.h"

#include <QBuffer>
#include <QDir>
#include <QLocale>

#include <functional>
#include <map>

namespace {

using namespace POP3Commands;

// What a rule makes of a row's input; `argument` is what follows the rule's name in the row.
using Rule = std::function<QByteArray(const QByteArray& input, const QByteArray& argument)>;

QByteArray Shown(const NumberArgument& number)
{
    const QByteArray read =
        number.errorNumber ? "error " + QByteArray::number(number.errorNumber) : QByteArray::number(number.value);
    return number.present ? read : "absent";
}

// Lays out the four blank-separated numbers of the input.
QByteArray Laid(TwipRect (*layout)(qint32, qint32, qint32, qint32), const QByteArray& input)
{
    const QByteArrayList n = input.split(' ');
    const TwipRect rect = layout(n.value(0).toInt(), n.value(1).toInt(), n.value(2).toInt(), n.value(3).toInt());
    return QString::asprintf("%d %d %d %d", rect.left, rect.top, rect.width, rect.height).toLatin1();
}

// The text shaped for the wire from pieces of each size, 1 to its length: the result when all
// agree, otherwise the first that differs.
QByteArray ShapedInPieces(const QByteArray& text, qint64 bodyLines)
{
    QByteArray first;
    for (qsizetype size = 1; size <= std::max<qsizetype>(text.size(), 1); ++size) {
        MessageShaper shaper(bodyLines);
        QByteArray wire;
        for (qsizetype at = 0; at < text.size(); at += size)
            wire += shaper.Shape(text.mid(at, size));
        wire += shaper.Finish();
        if (size > 1 && wire != first)
            return "in pieces of " + QByteArray::number(size) + ": " + wire;
        first = wire;
    }
    return first;
}

// Writes with the writer of that name in each window. Gives what the writer's own console then
// shows, "box|status", once when both windows agree; the other console must stay empty.
QByteArray Written(const QByteArray& writer, const QByteArray& text)
{
    using Writer = void (*)(const QByteArray&);
    const std::map<QByteArray, std::pair<Writer, Writer>> writers { { "note", { WriteMainNote, WriteSendNote } },
        { "sent", { WriteMainSent, WriteSendSent } }, { "received", { WriteMainReceived, WriteSendReceived } },
        { "line", { WriteMainConsoleLine, WriteSendConsoleLine } }, { "append", { AppendMainConsole, AppendSendConsole } },
        { "status", { SetMainStatus, SetSendStatus } } };
    QByteArrayList shown;
    for (Console* own : { &App().consoles.mainConsole, &App().consoles.sendConsole }) {
        Console* other = own == &App().consoles.mainConsole ? &App().consoles.sendConsole : &App().consoles.mainConsole;
        for (Console* console : { own, other }) {
            console->setBoxText({});
            console->setStatusText({});
        }
        (own == &App().consoles.mainConsole ? writers.at(writer).first : writers.at(writer).second)(text);
        shown.append(own->boxText() + '|' + own->statusText() + other->boxText() + other->statusText());
    }
    return shown[0] == shown[1] ? shown[0] : "main " + shown[0] + ", compose " + shown[1];
}

// The outgoing body's pieces joined; its size and its count of dot lines must agree with them.
QByteArray Outgoing(const QByteArray& text, const QByteArray& boundary)
{
    const OutgoingBody body({ .boundary = boundary }, text);
    QByteArray joined;
    body.WriteTo([&joined](QByteArrayView piece) { return !joined.append(piece).isNull(); });
    EXPECT_EQ(body.Size(), joined.size());
    EXPECT_EQ(body.LineDots(), joined.count("\n.") + (joined.startsWith('.') ? 1 : 0));
    return joined;
}

const std::map<QByteArray, Rule> Rules = {
    { "CommandOf", [](auto& line, auto&) { return CommandOf(line); } },
    { "NameArgument", [](auto& line, auto&) { return NameArgument(line); } },
    { "NumberField", [](auto& line, auto& index) { return Shown(NumberField(line, index.toInt())); } },
    { "ToNumber", [](auto& text, auto&) { return Shown(ToNumber(text)); } },
    { "StuffedMessage", [](auto& text, auto&) { return ShapedInPieces(text, MessageShaper::WholeText); } },
    { "StuffedTop", [](auto& text, auto& lines) { return ShapedInPieces(text, lines.toInt()); } },
    { "UniqueId", [](auto& name, auto&) { return UniqueId(name); } },
    { "CheckBodyLines",
        [](auto& text, auto&) {
            const QString refusal = CheckBodyLines(text);
            return refusal.isEmpty() ? Outgoing(text, {}) : "refused: " + refusal.toUtf8();
        } },
    { "DateLine",
        [](auto& input, auto&) {
            const QByteArrayList fields = input.split(' ');
            const QDateTime localTime = QDateTime::fromString(QString::fromLatin1(fields.value(0)), Qt::ISODate);
            return DateLine(localTime, fields.value(1).toInt());
        } },
    { "HeaderBlock",
        [](auto& input, auto&) {
            const QByteArrayList f = input.split('|');
            return HeaderBlock({ f.value(0), f.value(1), f.value(2), f.value(3), f.value(4) }, f.value(5));
        } },
    { "MessageBody", [](auto& text, auto& boundary) { return Outgoing(text, boundary); } },
    { "DotStuff", [](auto& content, auto&) { return DotStuff(content); } },
    { "Terminator", [](auto& text, auto&) { return OutgoingBody({}, text).Terminator(); } },
    { "ReplyText", [](auto& reply, auto&) { return ReplyText(reply); } },
    { "ReplyFirstLine", [](auto& reply, auto&) { return ReplyFirstLine(reply); } },
    { "ConsoleWriter", [](auto& text, auto& writer) { return Written(writer, text); } },
    { "ParseServerName",
        [](auto& text, auto& protocol) {
            const ServerAddress a = ParseServerName(QString::fromUtf8(text), protocol == "smtp" ? SmtpSchemes : Pop3Schemes);
            const char* const security[] = { "", " TLS", " STARTTLS" };
            return (a.error.isEmpty() ? a.scheme + a.host + " port " + QString::number(a.port) + security[int(a.security)] : a.error).toUtf8();
        } },
    { "CenteredFormRect", [](auto& sizes, auto&) { return Laid(CenteredFormRect, sizes); } },
    { "FittedControlRect", [](auto& sizes, auto&) { return Laid(FittedControlRect, sizes); } },
    { "ViewerCaption", [](auto& path, auto&) { return ViewerCaption(QString::fromUtf8(path)).toUtf8(); } },
    { "GetPreference",
        [](auto& fileText, auto& key) {
            EXPECT_EQ(write_f(AppFilePath(QStringLiteral("preferences.txt")), fileText), "");
            App().prefs.PreferencesText.clear(); // read the file afresh
            return GetPreference(key);
        } },
};

class TextRules : public AppTest {
protected:
    // Arabic digits and names wherever a rule wrongly follows the default locale.
    TextRules() { QLocale::setDefault(QLocale(QLocale::Arabic, QLocale::Egypt)); }
    ~TextRules() override { QLocale::setDefault(savedLocale); }
    const QLocale savedLocale;
};

// Each row: the rule (with its argument after a blank), the input, the expected result; a
// field left out is empty.
TEST_F(TextRules, GiveTheTabledResults)
{
    for (const char* table :
        { "pop3-commands", "message-text", "console-writers", "server-names", "form-layout", "preference-lookup", "viewer-captions" })
        for (const QByteArrayList& row : FixtureRows(QStringLiteral("text/%1.txt").arg(table))) {
            SCOPED_TRACE(table + (" " + ::testing::PrintToString(row)));
            const qsizetype nameEnd = row[0].contains(' ') ? row[0].indexOf(' ') : row[0].size();
            const auto rule = Rules.find(row[0].left(nameEnd));
            ASSERT_TRUE(rule != Rules.end() && row.size() <= 3);
            EXPECT_EQ(rule->second(row.value(1), row[0].mid(nameEnd + 1)), row.value(2));
        }
}

// What was read goes out, but no terminator: the client must not take the message as whole.
TEST(MessageStream, AReadFailingMidTextEndsItUnterminated)
{
    struct FailingAtEnd : QBuffer {
        qint64 readData(char* data, qint64 size) override { return atEnd() ? -1 : QBuffer::readData(data, size); }
    };
    auto text = std::make_unique<FailingAtEnd>();
    text->setData(".one\r\ntwo\r\n");
    text->open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    MessageStream stream(std::move(text));
    EXPECT_EQ(stream.Next(), "..one\r\n");
    EXPECT_TRUE(stream.AtEnd() && stream.Failed());
}

// Later replies replace earlier ones.
TEST_F(TextRules, SendRecordListsTheSentLinesThenTheLastReplies)
{
    SendRecord record;
    record.SetStartupInfo(QStringLiteral("192.0.2.7"), QStringLiteral("smtp.example"), 25);
    for (const char* line : { "HELO me\r\n", "MAIL FROM: a@x\r\n", "RCPT TO: b@y\r\n" })
        record.AddSent(line);
    record.SetConnResponse("421 busy\r\n");
    record.SetConnResponse("220 hello\r\n");
    record.SetHeloResponse("250 hi\r\n");
    record.SetBodyEndResponse("250-ok queued\r\n250 more\r\n");
    record.SetBodyEndResponse("250 ok queued\r\n");
    EXPECT_EQ(record.Text(), Fixture(QStringLiteral("text/send-record.txt")));
}

TEST_F(TextRules, PreferencesAreWrittenWholeWithPasswordsOnlyWhenSaved)
{
    EXPECT_EQ(GetPreference("user"), "");
    AppState& app = App();
    app.prefs.ReceiveUser = "joe";
    app.prefs.SendUser = "joe2";
    app.prefs.ReceivePassword = "rpw";
    app.prefs.SaveReceivePassword = "N";
    app.autoretrieve.RetrieveIntervalMs = 300000;
    ASSERT_TRUE(WritePreferences());
    EXPECT_EQ(ReadAppFile("preferences.txt"), Fixture("text/preferences_joe.txt"));
    EXPECT_EQ(FileMode(AppPath("preferences.txt")), 0600u);
    // The file is read by the first lookup only (a missing one as empty), not again.
    EXPECT_EQ(GetPreference("user"), "");

    app.prefs.SendPassword = "spw";
    app.prefs.POP3UserPassword = "lpw";
    app.prefs.SaveReceivePassword = app.prefs.SaveSendPassword = app.prefs.POP3UserSavePassword = "Y";
    app.prefs.ReceiveServer = "pop.example.net";
    app.prefs.SendServer = "smtp.example.net";
    app.autoretrieve.RetrieveIntervalMs = 90000;
    app.prefs.POP3User = "local";
    app.prefs.POP3UserFolder = "/home/joe/mail";
    app.prefs.POP3RunsAtStartup = app.prefs.POP3DeleteIfRequested = "Y";
    ASSERT_TRUE(WritePreferences());
    EXPECT_EQ(ReadAppFile("preferences.txt"), Fixture("text/preferences_all_saved.txt"));

    for (const QByteArray flag : { "y", "YES", " Y", "" }) {
        app.prefs.SaveReceivePassword = app.prefs.SaveSendPassword = app.prefs.POP3UserSavePassword = flag;
        EXPECT_FALSE(PreferencesFileText().contains("pw")) << "flag " << flag.constData();
    }
}

TEST_F(TextRules, PreferencesWriteFailuresAreShownAndLeaveNoTemporary)
{
    App().paths.applicationFolder = AppPath("gone");
    EXPECT_FALSE(WritePreferences());
    App().paths.applicationFolder = folder.path();
    const QDir home(folder.path());
    ASSERT_TRUE(home.mkpath("preferences.txt/keep"));
    EXPECT_FALSE(WritePreferences());

    const QString gone = AppPath("gone/preferences.txt");
    EXPECT_EQ(dialogs.Texts(), (QStringList {
        "Exception 2 No such file or directory\r\nwhen opening a file `" + gone + "` in `write_f` module",
        "Exception 21 Is a directory\r\n when writing a file `" + AppPath("preferences.txt") + "` in `write_f` module" }));
    EXPECT_EQ(home.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList { "preferences.txt" });
    EXPECT_TRUE(home.exists("preferences.txt/keep"));
}

} // namespace
