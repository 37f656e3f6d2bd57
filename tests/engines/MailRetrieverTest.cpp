#include "MailRetriever.h"

#include "Console.h"
#include "ScriptedPeer.h"
#include "TestApp.h"
#include "frmMain.h"
#include "modConsole.h"
#include "modGeneralExceptionHandler.h"

#include <QDir>
#include <QProgressBar>
#include <QTimer>

namespace {

const QStringList TwoMessages {
    "S: +OK ready",
    "C: USER joe",
    "S: +OK",
    "C: PASS secret",
    "S: +OK logged in",
    "C: STAT",
    "S: +OK 2 320",
    "C: RETR 1",
    "S: +OK 120 octets",
    "S: ..first line",
    "S: line two",
    "S: ..x",
    "S: ",
    "S: .",
    "C: DELE 1",
    "S: +OK deleted",
    "C: RETR 2",
    "S: +OK",
    "S: .",
    "C: DELE 2",
    "S: +OK",
    "C: QUIT",
    "S: +OK bye",
};

// The script up to and including the line, then what follows.
QStringList Until(const QStringList& script, const QString& line, const QStringList& rest = {})
{
    return script.mid(0, script.indexOf(line) + 1) + rest;
}

class MailRetrieverTest : public AppTest {
protected:
    MailRetrieverTest() : retriever(socket, progressBar)
    {
        clock.now = QDateTime(QDate(2026, 12, 5), QTime(3, 28, 43));
        AppState& app = App();
        app.ReceiveUser = "joe";
        app.ReceivePassword = " secret\t";
        app.ReceiveServer = "pop.example";
        app.MailFolderPath = AppPath("MailFolder");
        app.InBoxPath = AppPath("MailFolder/InBox");
        QDir(AppPath("")).mkpath("MailFolder/InBox");
        retriever.showReceivingIcon = [this](bool receiving) { icons.append(receiving); };
    }

    QByteArray Console() const { return App().mainConsole.boxText(); }
    QStringList Inbox() const { return QDir(App().InBoxPath).entryList(QDir::Files); }
    QByteArray Stored(int number) const { return ReadAppFile(QStringLiteral("MailFolder/InBox/261205_032843__%1.txt").arg(number)); }

    FakeSocket socket;
    QProgressBar progressBar;
    MailRetriever retriever;
    QList<bool> icons;
};

TEST_F(MailRetrieverTest, RetrievesStoresAndDeletesEachMessage)
{
    ScriptedPeer peer(socket, TwoMessages);

    retriever.RetrieveMail();

    EXPECT_TRUE(peer.Finished());
    EXPECT_EQ(peer.Unexpected(), "");
    EXPECT_EQ(peer.Written(), Fixture("retrieve-session/two-messages-client-wire.txt"));
    EXPECT_EQ(Console(), Fixture("retrieve-session/two-messages-console.txt"));
    EXPECT_EQ(Inbox(), QStringList({ "261205_032843__1.txt", "261205_032843__2.txt" }));
    EXPECT_EQ(Stored(1), Fixture("retrieve-session/message-1.txt"));
    EXPECT_EQ(Stored(2), Fixture("retrieve-session/message-2.txt"));
    EXPECT_EQ(App().SinceLastAttentionCounter, 2);
    EXPECT_EQ(beeps, 2);
    EXPECT_EQ(App().mainConsole.statusColour(), StatusColour::LightCyan);
    EXPECT_EQ(icons, QList<bool>({ true, false }));
    EXPECT_TRUE(progressBar.isHidden());
    EXPECT_EQ(socket.state, SocketState::Closed);
    EXPECT_FALSE(retriever.Busy());
}

class MailRetrieverSplitTest : public MailRetrieverTest, public ::testing::WithParamInterface<int> {};

TEST_P(MailRetrieverSplitTest, RepliesAndMessagesSplitAnywhereGiveTheSameFiles)
{
    ScriptedPeer peer(socket, TwoMessages);
    peer.pieceSize = GetParam();

    retriever.RetrieveMail();

    EXPECT_TRUE(peer.Finished());
    EXPECT_EQ(Console(), Fixture("retrieve-session/two-messages-console.txt"));
    EXPECT_EQ(Stored(1), Fixture("retrieve-session/message-1.txt"));
    EXPECT_EQ(Stored(2), Fixture("retrieve-session/message-2.txt"));
}

// Every split point of the longest piece the peer sends (the first message, 53 bytes).
INSTANTIATE_TEST_SUITE_P(PieceSizes, MailRetrieverSplitTest, ::testing::Range(1, 55));

struct RefusalCase {
    const char* name;
    const char* refusedAfter; // the script line the refusal replaces the answer to
    int stored;
    const char* received;
};

class MailRetrieverRefusalTest : public MailRetrieverTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(MailRetrieverRefusalTest, NegativeReplyEndsTheDialogWithoutFurtherCommands)
{
    const RefusalCase& row = GetParam();
    const QStringList script = QString(row.refusedAfter).isEmpty()
        ? QStringList { "S: -ERR go away" }
        : Until(TwoMessages, row.refusedAfter, { "S: -ERR go away" });
    ScriptedPeer peer(socket, script);

    retriever.RetrieveMail();

    EXPECT_TRUE(peer.Finished());
    EXPECT_EQ(peer.Unexpected(), "");
    EXPECT_TRUE(Console().contains(":Code Expected: +. Code Recieved: -ERR go away\r\n\r\nServer Dialog Error\r\n"))
        << Console().toStdString();
    EXPECT_TRUE(Console().endsWith(QByteArray(":") + row.received + " message(s) received in this retrieve session.\r\n:"
            + row.received + " message(s) received since last attention.\r\n"));
    EXPECT_EQ(Inbox().size(), row.stored);
    EXPECT_EQ(App().mainConsole.statusColour(), StatusColour::Red);
    EXPECT_EQ(socket.state, SocketState::Closed);
}

INSTANTIATE_TEST_SUITE_P(Steps, MailRetrieverRefusalTest,
    ::testing::Values(RefusalCase { "Greeting", "", 0, "0" }, RefusalCase { "User", "C: USER joe", 0, "0" },
        RefusalCase { "Stat", "C: STAT", 0, "0" }, RefusalCase { "Retr", "C: RETR 1", 0, "0" },
        RefusalCase { "Dele", "C: DELE 1", 1, "1" }, RefusalCase { "Quit", "C: QUIT", 2, "2" }),
    [](const auto& info) { return std::string(info.param.name); });

const QStringList RefusedPassword { "S: +OK ready", "C: USER joe", "S: +OK", "C: PASS secret", "S: -ERR [AUTH] Authentication failed." };

TEST_F(MailRetrieverTest, RefusedPasswordCorrectedInTheAccountWindowLogsInAgain)
{
    QStringList script = RefusedPassword;
    script += TwoMessages.mid(1);
    script.replace(script.indexOf("C: PASS secret", 5), "C: PASS right");
    ScriptedPeer peer(socket, script);
    dialogs.msgBoxAnswers.enqueue(MsgBoxResult::Yes);
    retriever.showAccountWindow = [] { App().ReceivePassword = "right"; };

    retriever.RetrieveMail();

    EXPECT_TRUE(peer.Finished());
    EXPECT_EQ(peer.Unexpected(), "");
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].style, 3);
    EXPECT_EQ(dialogs.shown[0].text,
        "Password submission is failed.\r\n[AUTH] Authentication failed.\r\nSubmit password again or cancel?");
    EXPECT_EQ(Inbox().size(), 2);
    EXPECT_EQ(Console().count(">USER joe\r\n"), 2);
    EXPECT_FALSE(Console().contains("right"));
}

TEST_F(MailRetrieverTest, RefusedPasswordAnsweredNoEndsWithoutQuit)
{
    ScriptedPeer peer(socket, RefusedPassword);
    App().RetrieveIntervalMs = 300000;
    dialogs.msgBoxAnswers.enqueue(MsgBoxResult::No);

    retriever.RetrieveMail();

    EXPECT_TRUE(peer.Finished());
    EXPECT_FALSE(peer.Written().contains("QUIT"));
    EXPECT_TRUE(Console().contains(":Session cancelled.\r\n:Socket is in state"));
    EXPECT_EQ(App().RetrieveIntervalMs, 300000);
    EXPECT_NE(App().mainConsole.statusColour(), StatusColour::Red);
    EXPECT_EQ(socket.state, SocketState::Closed);
}

TEST_F(MailRetrieverTest, RefusedPasswordAnsweredCancelTurnsAutoretrieveOff)
{
    ScriptedPeer peer(socket, RefusedPassword);
    App().RetrieveIntervalMs = 300000;
    App().SaveReceivePassword = "Y";
    dialogs.msgBoxAnswers.enqueue(MsgBoxResult::Cancel);

    retriever.RetrieveMail();

    EXPECT_FALSE(peer.Written().contains("QUIT"));
    EXPECT_EQ(App().RetrieveIntervalMs, 0);
    EXPECT_TRUE(Console().contains(":AUTORETRIEVE DISABLED\r\n:Session cancelled. Autoretrieve disabled.\r\n"));
    EXPECT_TRUE(ReadAppFile("preferences.txt").contains("\r\nretrieve interval=0\r\n"));
}

TEST_F(MailRetrieverTest, FailedStoreLeavesThatMessageAndTheRestOnTheServer)
{
    const QStringList script { "S: +OK ready", "C: USER joe", "S: +OK", "C: PASS secret", "S: +OK", "C: STAT",
        "S: +OK 3 30", "C: RETR 1", "S: +OK", "S: one", "S: .", "C: DELE 1", "S: +OK", "C: RETR 2", "S: +OK", "S: two",
        "S: .", "C: QUIT", "S: +OK bye" };
    ScriptedPeer peer(socket, script);
    // The inbox goes away while the second message arrives.
    peer.atExchange = [](int exchange) {
        if (exchange == 5)
            QDir(App().InBoxPath).rename(App().InBoxPath, App().InBoxPath + ".gone");
    };

    retriever.RetrieveMail();

    EXPECT_TRUE(peer.Finished());
    EXPECT_EQ(peer.Unexpected(), "");
    EXPECT_FALSE(peer.Written().contains("DELE 2"));
    ASSERT_EQ(dialogs.shown.size(), 2);
    EXPECT_TRUE(dialogs.shown[0].text.startsWith("EXCEPTION 2048\r\n"));
    EXPECT_EQ(dialogs.shown[1].text, "Exception in saving the mail in local computer,\r\nMessage and the rest of mail are left on the server.");
    EXPECT_EQ(dialogs.shown[1].style, 64);
    EXPECT_TRUE(Console().contains(":1 message(s) received in this retrieve session.\r\n"));
}

TEST_F(MailRetrieverTest, ConnectionDroppedInsideAMessageStoresAndDeletesNothing)
{
    ScriptedPeer peer(socket, Until(TwoMessages, "C: RETR 1", { "S: +OK 120 octets", "S: ..first line" }));
    peer.atExchange = [this](int exchange) {
        if (exchange == 4)
            QTimer::singleShot(20, &socket, [this] { socket.peerCloses(); });
    };

    retriever.RetrieveMail();

    EXPECT_TRUE(Inbox().isEmpty());
    EXPECT_FALSE(peer.Written().contains("DELE"));
    EXPECT_TRUE(Console().contains("before the message ended.\r\n\r\nServer Dialog Error\r\n"));
    EXPECT_EQ(App().mainConsole.statusColour(), StatusColour::Red);
}

TEST_F(MailRetrieverTest, ServerClosingWhileAReplyIsAwaitedEndsTheWaitAtOnce)
{
    ScriptedPeer peer(socket, { "S: +OK ready", "C: USER joe" });
    peer.atExchange = [this](int exchange) {
        if (exchange == 1)
            socket.peerCloses();
    };

    retriever.RetrieveMail();

    EXPECT_TRUE(Console().contains(":POP3 Server Exception. The server closed the connection.\r\n\r\nServer Dialog Error\r\n"));
}

struct SilenceCase {
    const char* name;
    QStringList script;
    const char* error;
};

class MailRetrieverSilenceTest : public MailRetrieverTest, public ::testing::WithParamInterface<SilenceCase> {};

TEST_P(MailRetrieverSilenceTest, SilentServerTimesOut)
{
    SystemClock realClock;
    App().clock = &realClock;
    retriever.replyWaitMs = 200;
    retriever.messageSilenceMs = 200;
    ScriptedPeer peer(socket, GetParam().script);

    retriever.RetrieveMail();

    EXPECT_TRUE(Console().contains(GetParam().error)) << Console().toStdString();
    EXPECT_TRUE(Inbox().isEmpty());
    EXPECT_EQ(socket.state, SocketState::Closed);
}

INSTANTIATE_TEST_SUITE_P(Waits, MailRetrieverSilenceTest,
    ::testing::Values(SilenceCase { "Greeting", {}, ":POP3 Server Exception. Timeout while waiting for response.\r\n" },
        SilenceCase { "Message", Until(TwoMessages, "C: RETR 1", { "S: +OK", "S: part of it" }),
            ":POP3 Server Exception. Timeout while waiting for the message.\r\n" }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MailRetrieverTest, MalformedStatGoesTheExceptionPath)
{
    ScriptedPeer peer(socket, Until(TwoMessages, "C: STAT", { "S: +OK two 320" }));

    retriever.RetrieveMail();

    EXPECT_TRUE(Console().contains(":13 Type mismatch\r\n"));
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].text, "13 Type mismatch\r\n\r\nModule:   MailRetriever\r\nFunction: RetrieveMail\r\n");
    EXPECT_FALSE(peer.Written().contains("QUIT"));
    EXPECT_EQ(socket.state, SocketState::Closed);
    EXPECT_FALSE(retriever.Busy());
}

TEST_F(MailRetrieverTest, EmptyMaildropEndsCleanAndGreen)
{
    ScriptedPeer peer(socket, Until(TwoMessages, "C: STAT", { "S: +OK 0 0", "C: QUIT", "S: +OK bye" }));

    retriever.RetrieveMail();

    EXPECT_TRUE(peer.Finished());
    EXPECT_TRUE(Console().contains(":No mail has been found on a server.\r\n>QUIT\r\n"));
    EXPECT_TRUE(Console().contains(":0 message(s) received in this retrieve session.\r\n"));
    EXPECT_EQ(App().mainConsole.statusColour(), StatusColour::Green);
}

TEST_F(MailRetrieverTest, NoNetworkIsToldAsNoConnection)
{
    socket.onConnect = [] { throw AppError(10049, "Address is not available from the local machine"); };

    retriever.RetrieveMail();

    EXPECT_TRUE(Console().contains(":No Connection to Internet.\r\n"));
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].text, "No Connection to Internet.");
    EXPECT_EQ(icons, QList<bool>({ true, false }));
}

TEST_F(MailRetrieverTest, CallsWhileBusyOrWhileTheAccountWindowIsOpenChangeNothing)
{
    App().UserFormOpen = true;
    retriever.RetrieveMail();
    EXPECT_EQ(Console(), "");
    EXPECT_TRUE(icons.isEmpty());
    App().UserFormOpen = false;

    ScriptedPeer peer(socket, TwoMessages);
    QByteArray addedByNestedCall = "not called";
    peer.atExchange = [&](int exchange) {
        if (exchange != 3)
            return;
        const QByteArray before = Console();
        const QList<bool> iconsBefore = icons;
        retriever.RetrieveMail();
        addedByNestedCall = Console().mid(before.size());
        EXPECT_EQ(icons, iconsBefore);
    };
    retriever.RetrieveMail();

    EXPECT_EQ(addedByNestedCall, "");
    EXPECT_EQ(Inbox().size(), 2);
    EXPECT_EQ(socket.connects, 1);
}

TEST_F(MailRetrieverTest, ConnectedSocketIsNotReused)
{
    socket.state = SocketState::Connected;

    retriever.RetrieveMail();

    EXPECT_EQ(socket.connects, 0);
    EXPECT_TRUE(Console().contains(":Socket is in incorrect state.\r\nTo avoid sending information to incorrect host, closing it first."));
    EXPECT_EQ(socket.state, SocketState::Closed);
}

TEST_F(MailRetrieverTest, MainWindowClosingMidRetrievalLosesNothing)
{
    frmMain window;
    window.show();
    ScriptedPeer peer(socket, TwoMessages);
    // The user closes the program while the first message's deletion is awaited.
    peer.atExchange = [&](int exchange) {
        if (exchange == 5)
            QTimer::singleShot(0, &window, &QWidget::close);
    };

    retriever.RetrieveMail();

    EXPECT_EQ(Inbox(), QStringList { "261205_032843__1.txt" });
    EXPECT_FALSE(peer.Written().contains("RETR 2"));
    EXPECT_EQ(socket.state, SocketState::Closed);
    ASSERT_TRUE(WaitFor([&window] { return !window.isVisible(); }));
    EXPECT_TRUE(ReadAppFile("console.txt").endsWith(":1 message(s) received since last attention.\r\n"));
}

TEST_F(MailRetrieverTest, PasswordQuestionAskedWhileClosingIsTakenAsNo)
{
    ScriptedPeer peer(socket, RefusedPassword);
    dialogs.msgBoxAnswers.enqueue(MsgBoxResult::No);
    dialogs.whileOpen = [](const ShownDialog&) { App().closing = true; };

    retriever.RetrieveMail();

    EXPECT_FALSE(peer.Written().contains("QUIT"));
    EXPECT_EQ(Console().count(">PASS"), 1);
    EXPECT_TRUE(Console().contains(":Session cancelled.\r\n"));
}

} // namespace
