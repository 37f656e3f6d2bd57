#include "MailSender.h"

#include "Console.h"
#include "NestedLoop.h"
#include "ScriptedPeer.h"
#include "TestApp.h"
#include "frmMain.h"
#include "modConsole.h"
#include "modGeneralExceptionHandler.h"

#include <QDir>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTimer>

namespace {

const QStringList CcSession {
    "S: 220 smtp.example ready",
    "C: HELO composer",
    "S: 250 smtp.example",
    "C: MAIL FROM: ann@example.org",
    "S: 250 2.1.0 Ok",
    "C: RCPT TO: bob@example.net",
    "S: 250 2.1.5 Ok",
    "C: RCPT TO: cat@example.com",
    "S: 250 2.1.5 Ok",
    "C: data",
    "S: 354 End data with <CR><LF>.<CR><LF>",
    "C: From: <ann@example.org>",
    "C: To: <bob@example.net>",
    "C: Subject: Lunch",
    "C: Date: Sat, 05 Dec 2026 03:28:43 -0700",
    "C: X-Mailer: Wrenpost. 1.0.27. Corvane, Inc.",
    "C: ",
    "C: Hello Bob,",
    "C: ..hidden",
    "C: ..",
    "C: See you.",
    "C: .",
    "S: 250 2.0.0 Ok: queued as 1234",
    "C: quit",
    "S: 221 2.0.0 Bye",
};

class MailSenderTest : public AppTest {
protected:
    MailSenderTest() : sender(socket, progressBar)
    {
        clock.now = QDateTime(QDate(2026, 12, 5), QTime(3, 28, 43));
        clock.utcOffsetSeconds = -7 * 3600;
        App().SendServer = "smtp.example";
        App().MailFolderPath = AppPath("MailFolder");
        QDir(AppPath("")).mkpath("MailFolder/SentMessages");
        progressBar.setRange(0, 100);
    }

    void Send(const QByteArray& body = "Hello Bob,\n.hidden\n.\nSee you.", const QByteArray& cc = "cat@example.com")
    {
        sender.SendEmailMessage("", "bob@example.net", "ann@example.org", "Lunch", body, cc, "");
    }

    QByteArray Console() const { return App().sendConsole.boxText(); }
    QStringList SentFiles() const { return QDir(AppPath("MailFolder/SentMessages")).entryList(QDir::Files); }

    FakeSocket socket;
    QProgressBar progressBar;
    MailSender sender;
};

TEST_F(MailSenderTest, SendWithCopyRecipientTracesEveryLineAndStoresTheCopy)
{
    ScriptedPeer peer(socket, CcSession);

    Send();

    EXPECT_TRUE(peer.Finished());
    EXPECT_EQ(peer.Unexpected(), "");
    EXPECT_EQ(peer.Written(), Fixture("send-session/cc-client-wire.txt"));
    EXPECT_EQ(Console(), Fixture("send-session/cc-console.txt"));
    ASSERT_EQ(SentFiles(), QStringList { "bob@example.net__261205_032843.txt" });
    EXPECT_EQ(ReadAppFile("MailFolder/SentMessages/bob@example.net__261205_032843.txt"), Fixture("send-session/cc-stored-copy.txt"));
    EXPECT_EQ(App().sendConsole.statusColour(), StatusColour::Green);
    EXPECT_EQ(App().sendConsole.statusText(), "E-Mail has been sent. Closing socket.03:28:43");
    EXPECT_EQ(socket.state, SocketState::Closed);
    EXPECT_FALSE(sender.Busy());
    EXPECT_TRUE(progressBar.isHidden());
    EXPECT_EQ(progressBar.value(), 0);
    EXPECT_TRUE(dialogs.shown.isEmpty());
}

class MailSenderSplitTest : public MailSenderTest, public ::testing::WithParamInterface<int> {};

TEST_P(MailSenderSplitTest, RepliesSplitAnywhereGiveTheSameSession)
{
    ScriptedPeer peer(socket, CcSession);
    peer.pieceSize = GetParam();

    Send();

    EXPECT_TRUE(peer.Finished());
    EXPECT_EQ(peer.Unexpected(), "");
    EXPECT_EQ(Console(), Fixture("send-session/cc-console.txt"));
    EXPECT_EQ(ReadAppFile("MailFolder/SentMessages/bob@example.net__261205_032843.txt"), Fixture("send-session/cc-stored-copy.txt"));
}

// Every split point of the longest reply (38 bytes), then whole.
INSTANTIATE_TEST_SUITE_P(PieceSizes, MailSenderSplitTest, ::testing::Range(1, 40));

TEST_F(MailSenderTest, MultiLineGreetingIsJudgedWhenComplete)
{
    QStringList script = CcSession;
    script.replaceInStrings(QRegularExpression("^S: 220 smtp.example ready$"), "S: 220-smtp.example first");
    script.insert(1, "S: 220-second line");
    script.insert(2, "S: 220 smtp.example ready");
    ScriptedPeer peer(socket, script);
    peer.pieceSize = 3;

    Send();

    EXPECT_TRUE(peer.Finished());
    EXPECT_TRUE(Console().contains("\r\n<220-smtp.example first\r\n:Connected.\r\n"));
    EXPECT_EQ(SentFiles().size(), 1);
}

struct FailureCase {
    const char* name;
    QStringList script;
    const char* lastNote;
};

class MailSenderFailureTest : public MailSenderTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(MailSenderFailureTest, RefusalEndsTheSendWithoutStoring)
{
    ScriptedPeer peer(socket, GetParam().script);

    Send();

    EXPECT_TRUE(peer.Finished());
    EXPECT_EQ(peer.Unexpected(), "");
    EXPECT_TRUE(Console().contains(GetParam().lastNote)) << Console().toStdString();
    EXPECT_TRUE(Console().endsWith("Server Dialog Exception.\r\n:Socket is in state \"Connected\". Closing socket ... \r\n03:28:43\r\n"))
        << Console().toStdString();
    EXPECT_EQ(App().sendConsole.statusColour(), StatusColour::Red);
    EXPECT_TRUE(SentFiles().isEmpty());
    EXPECT_EQ(socket.state, SocketState::Closed);
    EXPECT_FALSE(sender.Busy());
}

INSTANTIATE_TEST_SUITE_P(Refusals, MailSenderFailureTest,
    ::testing::Values(FailureCase { "BusyGreeting", { "S: 421 4.3.2 Service not available" },
                          ":No Expected Code: 421 4.3.2 Service not available\r\n Server Dialog Exception.\r\n" },
        FailureCase { "RecipientRefused",
            { "S: 220 ok", "C: HELO composer", "S: 250 hi", "C: MAIL FROM: ann@example.org", "S: 250 ok",
                "C: RCPT TO: bob@example.net", "S: 550 5.1.1 no such user" },
            ":No Expected Code: 550 5.1.1 no such user\r\n Server Dialog Exception.\r\n" },
        FailureCase { "ContentRefused",
            { "S: 220 ok", "C: HELO composer", "S: 250 hi", "C: MAIL FROM: ann@example.org", "S: 250 ok",
                "C: RCPT TO: bob@example.net", "S: 250 ok", "C: RCPT TO: cat@example.com", "S: 250 ok", "C: data",
                "S: 554 no thanks" },
            ":No Expected Code: 554 no thanks\r\n Server Dialog Exception.\r\n" }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MailSenderTest, SilentServerTimesOutWithTheProgressBarFull)
{
    SystemClock realClock;
    App().clock = &realClock;
    sender.replyWaitMs = 300;
    int highestProgress = 0;
    QObject::connect(&progressBar, &QProgressBar::valueChanged, [&highestProgress](int value) {
        highestProgress = std::max(highestProgress, value);
    });
    ScriptedPeer peer(socket, { "S: 220 ok", "C: HELO composer" });

    Send();

    EXPECT_TRUE(peer.Finished());
    EXPECT_TRUE(Console().contains(":Send-Server Exception. Timeout while waiting for response. Server Dialog Exception.\r\n"));
    EXPECT_EQ(highestProgress, 100);
    EXPECT_TRUE(SentFiles().isEmpty());
    EXPECT_EQ(socket.state, SocketState::Closed);
}

TEST_F(MailSenderTest, RefusedConnectionIsTold)
{
    socket.onConnect = [this] { socket.raiseError(10061); };

    Send();

    EXPECT_TRUE(Console().contains(":10061 Connection is forcefully rejected\r\nCode: 10061 Source: TCP socket\r\n"
                                   "Exception when waiting for dialog code. Server Dialog Exception.\r\n"))
        << Console().toStdString();
    EXPECT_EQ(App().sendConsole.statusColour(), StatusColour::Red);
    EXPECT_EQ(socket.state, SocketState::Closed);
}

TEST_F(MailSenderTest, NoNetworkIsToldAsNoConnection)
{
    socket.onConnect = [] { throw AppError(10049, "Address is not available from the local machine"); };

    Send();

    EXPECT_TRUE(Console().contains(":No Connection to Internet.\r\n"));
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].text, "No Connection to Internet.");
    EXPECT_EQ(socket.closes, 1);
    EXPECT_FALSE(sender.Busy());
}

TEST_F(MailSenderTest, EmptyServerIsReportedWithoutConnecting)
{
    App().SendServer.clear();

    Send();

    EXPECT_EQ(socket.connects, 0);
    EXPECT_TRUE(Console().contains(":Setting address to , port 25.\r\n:0 Empty send-server name.\r\n"));
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].title, "EXCEPTION");
    EXPECT_EQ(dialogs.shown[0].style, 16);
    EXPECT_EQ(dialogs.shown[0].text, "0 Empty send-server name.\r\n\r\nModule:   MailSender\r\nFunction: SendEmailMessage\r\n");
}

TEST_F(MailSenderTest, ServerNameMayCarryAPort)
{
    App().SendServer = "[::1]:2525";
    socket.onConnect = [this] { socket.raiseError(10061); };

    Send();

    EXPECT_EQ(socket.RemoteHost(), "::1");
    EXPECT_EQ(socket.RemotePort(), 2525);
    EXPECT_TRUE(Console().contains(":Setting address to ::1, port 2525.\r\n"));
}

TEST_F(MailSenderTest, ConnectedSocketIsNotReusedButTheNextSendWorks)
{
    socket.state = SocketState::Connected;

    Send();

    EXPECT_EQ(socket.connects, 0);
    EXPECT_TRUE(Console().contains(":Socket is in incorrect state.\r\nTo avoid sending information to incorrect host, "
                                   "closing it first. Server Dialog Exception.\r\n"));
    EXPECT_EQ(socket.state, SocketState::Closed);

    ScriptedPeer peer(socket, CcSession);
    Send();
    EXPECT_TRUE(peer.Finished());
    EXPECT_EQ(SentFiles().size(), 1);
}

TEST_F(MailSenderTest, SecondSendWhileWaitingAndSendWhileAccountWindowOpenDoNothing)
{
    ScriptedPeer peer(socket, CcSession);
    QByteArray consoleDuringNestedCall;
    peer.atExchange = [&](int exchange) {
        if (exchange != 2)
            return;
        const QByteArray before = Console();
        Send();
        consoleDuringNestedCall = Console().mid(before.size());
    };

    Send();

    EXPECT_TRUE(peer.Finished());
    EXPECT_EQ(consoleDuringNestedCall, "");
    EXPECT_EQ(SentFiles().size(), 1);

    App().UserFormOpen = true;
    const QByteArray before = Console();
    Send();
    EXPECT_EQ(Console(), before);
    EXPECT_EQ(socket.connects, 1);
}

TEST_F(MailSenderTest, OverlongLineIsRefusedBeforeAnything)
{
    Send("short\n" + QByteArray(78, 'x'));

    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_TRUE(dialogs.shown[0].text.startsWith("String #1:\r\n"));
    EXPECT_EQ(Console(), "");
    EXPECT_EQ(socket.connects, 0);
    EXPECT_FALSE(sender.Busy());
}

TEST_F(MailSenderTest, EmptyBodyEndsWithTheLongTerminator)
{
    QStringList script = CcSession;
    const qsizetype body = script.indexOf("C: Hello Bob,");
    script.remove(body, 4);
    script.insert(body, "C: ");
    ScriptedPeer peer(socket, script);

    Send("");

    EXPECT_TRUE(peer.Finished());
    EXPECT_EQ(peer.Unexpected(), "");
    EXPECT_TRUE(peer.Written().contains("X-Mailer: Wrenpost. 1.0.27. Corvane, Inc.\r\n\r\n\r\n.\r\nquit\r\n"));
}

TEST_F(MailSenderTest, MainWindowClosingMidSendEndsItBeforeTheConsolesAreSaved)
{
    frmMain window;
    window.closeComposeWindow = [] { SaveConsoleToLog(App().sendConsole); };
    window.show();
    ScriptedPeer peer(socket, CcSession);
    peer.atExchange = [&](int exchange) {
        // The user closes the window while the send waits for the reply.
        if (exchange == 3)
            QTimer::singleShot(0, &window, &QWidget::close);
    };

    Send();

    EXPECT_FALSE(peer.Finished());
    EXPECT_FALSE(peer.Written().contains("quit"));
    EXPECT_EQ(socket.state, SocketState::Closed);
    EXPECT_FALSE(sender.Busy());
    EXPECT_TRUE(SentFiles().isEmpty());
    ASSERT_TRUE(WaitFor([&window] { return !window.isVisible(); }));
    const QByteArray log = ReadAppFile("console.txt");
    EXPECT_TRUE(log.contains(":The program is closing. Server Dialog Exception.\r\n")) << log.toStdString();
    EXPECT_TRUE(log.endsWith("Closing socket ... \r\n03:28:43\r\n"));
}

} // namespace
