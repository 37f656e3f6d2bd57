// Retrieval through MailRetriever and a real socket from a real POP3 server (a private dovecot on
// 127.0.0.1): every stored inbox file is compared byte for byte with a hand-written file in
// tests/fixtures/peers/retrieve, named <message>.expected.txt beside the <message>.eml put into
// the server's mailbox. An expected file holds the lines as dovecot sends them, joined by CR LF,
// each line's leading byte-stuffing dot removed, then CR LF "." CR LF.
#include "Dovecot.h"
#include "PeerHarness.h"

#include "AppState.h"
#include "Console.h"
#include "MailRetriever.h"
#include "QtSocket.h"
#include "TestApp.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProgressBar>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

const QByteArray User = "wren";
const QByteArray Password = "Tr0ub4dor-7x";
const QByteArray WrongPassword = "Tr0ub4dor-6y";

// A session that has not ended by then is stopped the way a closing program stops it (the fake
// clock never lets the retriever's own time-outs run out).
constexpr int SessionLimitMs = 30000;
// How long dovecot may take to remove the deleted messages once the session has ended.
constexpr int ExpungeWaitMs = 5000;

QByteArray RetrieveFixture(const QString& name) { return Fixture(QStringLiteral("peers/retrieve/") + name); }

class RetrievePeerTest : public AppTest {
protected:
    void SetUp() override
    {
        // Saturday 14 March 2026, 15:09:26 local time.
        clock.now = QDateTime(QDate(2026, 3, 14), QTime(15, 9, 26));
        AppState& app = App();
        app.MailFolderPath = AppPath(QStringLiteral("MailFolder"));
        app.InBoxPath = AppPath(QStringLiteral("MailFolder/InBox"));
        ASSERT_TRUE(QDir().mkpath(app.InBoxPath));
        app.ReceiveUser = User;
        app.ReceivePassword = Password;
        ASSERT_TRUE(server.Start()) << server.Failure().toStdString();
        app.ReceiveServer = server.ServerName();
    }

    void Put(const QString& name, const QByteArray& bytes) { ASSERT_TRUE(server.PutMessage(name, bytes)) << server.Failure().toStdString(); }

    // One whole retrieval through a fresh socket; returns once the session has ended.
    void Retrieve()
    {
        QProgressBar progressBar;
        QtSocket socket;
        MailRetriever retriever(socket, progressBar);
        retriever.showAccountWindow = [this] {
            ++accountWindowShown;
            if (accountWindow)
                accountWindow();
        };
        bool stopped = false;
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, [&stopped] {
            stopped = true;
            App().closing = true;
        });
        limit.start(SessionLimitMs);
        retriever.RetrieveMail();
        EXPECT_FALSE(stopped) << "the retrieval did not end within " << SessionLimitMs / 1000 << " s\n"
                              << Console().toStdString() << "\n--- dovecot.log:\n" << server.Log().toStdString();
        EXPECT_FALSE(retriever.Busy());
    }

    // The whole console: what spilled into console.txt and what the box still holds.
    QByteArray Console() const { return ReadAppFile(QStringLiteral("console.txt")) + App().mainConsole.boxText(); }

    QStringList Inbox() const { return QDir(App().InBoxPath).entryList(QDir::Files | QDir::Hidden, QDir::Name); }
    QByteArray Stored(const QString& name) const { return ReadFile(QDir(App().InBoxPath).filePath(name)); }

    // What every session must show: the password masked, and never in clear.
    void ExpectPasswordsHidden() const
    {
        const QByteArray console = Console();
        EXPECT_TRUE(console.contains(">PASS *******\r\n")) << console.toStdString();
        EXPECT_FALSE(console.contains(Password)) << console.toStdString();
        EXPECT_FALSE(console.contains(WrongPassword)) << console.toStdString();
    }

    Dovecot server { User, Password };
    int accountWindowShown = 0;
    std::function<void()> accountWindow;
};

// 20 MB of numbered lines of about 100 bytes in the Maildir file (LF line ends, as Maildir files
// usually have them), some beginning with one or two dots. dovecot sends them with CR LF, the
// dots doubled, so the stored file is the same lines with CR LF, then the terminator.
struct LargeMessage {
    QByteArray maildirFile;
    QByteArray expected;
};

LargeMessage MakeLargeMessage()
{
    constexpr int Lines = 20 * 1024 * 1024 / 100;
    LargeMessage message;
    message.maildirFile.reserve(Lines * 100 + 200);
    message.expected.reserve(Lines * 101 + 200);
    const QList<QByteArray> header { "From: Ada <ada@example.org>", "Subject: Twenty megabytes", "" };
    for (const QByteArray& line : header) {
        message.maildirFile += line + '\n';
        message.expected += line + "\r\n";
    }
    for (int n = 1; n <= Lines; ++n) {
        QByteArray line = QByteArray::number(n).rightJustified(8, '0') + ' ' + QByteArray(90, 'a' + n % 26);
        if (n % 1000 == 0)
            line.prepend(".");
        if (n % 1000 == 500)
            line.prepend("..");
        message.maildirFile += line + '\n';
        message.expected += line + "\r\n";
    }
    message.expected += ".\r\n";
    return message;
}

TEST_F(RetrievePeerTest, StoresEachMessageAsSentUnstuffedAndEmptiesTheMailbox)
{
    Put(QStringLiteral("dots"), RetrieveFixture(QStringLiteral("dots.eml")));
    Put(QStringLiteral("empty-body"), RetrieveFixture(QStringLiteral("empty-body.eml")));
    Put(QStringLiteral("first-line-dot"), RetrieveFixture(QStringLiteral("first-line-dot.eml")));
    const LargeMessage large = MakeLargeMessage();
    Put(QStringLiteral("large"), large.maildirFile);
    ASSERT_EQ(server.MessageCount(), 4);

    QElapsedTimer elapsed;
    elapsed.start();
    Retrieve();
    RecordProperty("retrieval_ms", static_cast<int>(elapsed.elapsed()));

    ASSERT_EQ(Inbox(),
        QStringList({ "260314_150926__1.txt", "260314_150926__2.txt", "260314_150926__3.txt", "260314_150926__4.txt" }))
        << Console().toStdString();
    EXPECT_TRUE(SameBytes(RetrieveFixture(QStringLiteral("dots.expected.txt")), Stored("260314_150926__1.txt")));
    EXPECT_TRUE(SameBytes(RetrieveFixture(QStringLiteral("empty-body.expected.txt")), Stored("260314_150926__2.txt")));
    // dovecot sends the first line's leading dot as it is, so the retriever takes it for
    // stuffing: the stored message begins without it.
    EXPECT_TRUE(SameBytes(RetrieveFixture(QStringLiteral("first-line-dot.expected.txt")), Stored("260314_150926__3.txt")));
    const QByteArray storedLarge = Stored("260314_150926__4.txt");
    EXPECT_TRUE(SameBytes(large.expected, storedLarge));

    EXPECT_TRUE(WaitFor([this] { return server.MessageCount() == 0; }, ExpungeWaitMs))
        << server.MessageCount() << " messages are still on the server";
    const QByteArray console = Console();
    for (const char* command : { ">USER wren\r\n", ">STAT\r\n", ">RETR 1\r\n", ">DELE 1\r\n", ">RETR 4\r\n", ">DELE 4\r\n", ">QUIT\r\n" })
        EXPECT_TRUE(console.contains(command)) << command << " is missing from\n" << console.toStdString();
    EXPECT_TRUE(console.contains(":4 message(s) received in this retrieve session.\r\n")) << console.toStdString();
    ExpectPasswordsHidden();
    EXPECT_TRUE(dialogs.shown.isEmpty()) << dialogs.Texts().join(QStringLiteral("\n")).toStdString();
}

TEST_F(RetrievePeerTest, RefusedPasswordCorrectedInTheAccountWindowLogsIn)
{
    Put(QStringLiteral("dots"), RetrieveFixture(QStringLiteral("dots.eml")));
    Put(QStringLiteral("empty-body"), RetrieveFixture(QStringLiteral("empty-body.eml")));
    App().ReceivePassword = WrongPassword;
    dialogs.msgBoxAnswers.enqueue(MsgBoxResult::Yes);
    // The user types the right password, with blanks around it that are not part of it.
    accountWindow = [] { App().ReceivePassword = " " + Password + "\t "; };

    Retrieve();

    EXPECT_EQ(accountWindowShown, 1);
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].style, MsgBoxStyle::YesNoCancel);
    EXPECT_TRUE(dialogs.shown[0].text.startsWith(QStringLiteral("Password submission is failed.\r\n"))) << dialogs.shown[0].text.toStdString();
    ASSERT_EQ(Inbox(), QStringList({ "260314_150926__1.txt", "260314_150926__2.txt" })) << Console().toStdString();
    EXPECT_TRUE(SameBytes(RetrieveFixture(QStringLiteral("dots.expected.txt")), Stored("260314_150926__1.txt")));
    EXPECT_TRUE(SameBytes(RetrieveFixture(QStringLiteral("empty-body.expected.txt")), Stored("260314_150926__2.txt")));
    EXPECT_TRUE(WaitFor([this] { return server.MessageCount() == 0; }, ExpungeWaitMs))
        << server.MessageCount() << " messages are still on the server";

    const QByteArray console = Console();
    EXPECT_EQ(console.count(">USER wren\r\n"), 2) << console.toStdString();
    EXPECT_EQ(console.count(">PASS *******\r\n"), 2) << console.toStdString();
    EXPECT_TRUE(console.contains("<-ERR ")) << console.toStdString();
    EXPECT_TRUE(console.contains(":2 message(s) received in this retrieve session.\r\n")) << console.toStdString();
    ExpectPasswordsHidden();
}

TEST_F(RetrievePeerTest, RefusedPasswordAnsweredNoCancelsWithoutQuit)
{
    Put(QStringLiteral("dots"), RetrieveFixture(QStringLiteral("dots.eml")));
    Put(QStringLiteral("empty-body"), RetrieveFixture(QStringLiteral("empty-body.eml")));
    App().ReceivePassword = WrongPassword;
    dialogs.msgBoxAnswers.enqueue(MsgBoxResult::No);

    Retrieve();

    EXPECT_EQ(accountWindowShown, 0);
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].style, MsgBoxStyle::YesNoCancel);
    EXPECT_EQ(Inbox(), QStringList());
    EXPECT_EQ(server.MessageCount(), 2);
    const QByteArray console = Console();
    EXPECT_TRUE(console.contains(":Session cancelled.\r\n")) << console.toStdString();
    EXPECT_FALSE(console.contains(">QUIT")) << console.toStdString();
    EXPECT_FALSE(console.contains(">STAT")) << console.toStdString();
    EXPECT_EQ(console.count(">USER wren\r\n"), 1) << console.toStdString();
    EXPECT_TRUE(console.contains(":0 message(s) received in this retrieve session.\r\n")) << console.toStdString();
    ExpectPasswordsHidden();
}

TEST_F(RetrievePeerTest, EmptyMailboxEndsGreenWithNothingReceived)
{
    Retrieve();

    EXPECT_EQ(Inbox(), QStringList());
    const QByteArray console = Console();
    EXPECT_TRUE(console.contains("<+OK 0 0\r\n")) << console.toStdString();
    EXPECT_TRUE(console.contains(":No mail has been found on a server.\r\n")) << console.toStdString();
    EXPECT_FALSE(console.contains(">RETR")) << console.toStdString();
    EXPECT_TRUE(console.contains(">QUIT\r\n")) << console.toStdString();
    EXPECT_TRUE(console.contains(":0 message(s) received in this retrieve session.\r\n")) << console.toStdString();
    EXPECT_EQ(App().mainConsole.statusColour(), qRgb(0, 192, 0));
    EXPECT_TRUE(dialogs.shown.isEmpty()) << dialogs.Texts().join(QStringLiteral("\n")).toStdString();
    ExpectPasswordsHidden();
}

} // namespace
