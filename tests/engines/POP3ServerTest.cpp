#include "POP3Server.h"

#include "FakeSocket.h"
#include "QtPrinting.h"
#include "QtSocket.h"
#include "SocketAdapter.h"
#include "TestApp.h"

#include <QCoreApplication>
#include <QDir>
#include <QTcpServer>

namespace {

const QByteArray Greeting = "+OK Wrenpost. 1.0.27. Corvane, Inc.\r\n";
const QByteArray ExpectingUser = "-ERR expecting \"USER \", \"NOP\", or \"QUIT\". \r\n";
const QByteArray ExpectingPass = "-ERR Authentication failed. Expecting \"PASS\" or \"QUIT\", or \"USER\". Closing connection.\r\n";
const QByteArray ExpectingCommand = "-ERR Expecting \"STAT\" or \"LIST\" or \"RETR\" or \"DELE\" or \"NOP\" or \"QUIT\" .\r\n";

class POP3ServerTest : public AppTest {
protected:
    POP3ServerTest() : server(listener, transceiver)
    {
        clock.now = QDateTime(QDate(2026, 12, 5), QTime(3, 28, 43));
        AppState& app = App();
        app.POP3User = "bob";
        app.POP3UserPassword = "secret";
        app.MailFolderPath = AppPath("MailFolder");
        app.POP3MailBoxPath = AppPath("MailFolder/POP3MailBox");
        app.DeletedMessagesPath = AppPath("MailFolder/Deleted_Messages");
        QDir(AppPath("")).mkpath("MailFolder/POP3MailBox");
        QDir(AppPath("")).mkpath("MailFolder/Deleted_Messages");
    }

    void Place(const QString& name, const QByteArray& text) { WriteAppFile("MailFolder/POP3MailBox/" + name, text); }
    void PlaceThree()
    {
        Place("1-first.txt", "Subject: one\r\n\r\nHello\r\n");
        Place("2-second.txt", "Subject: two\n\n.hidden dot\n");
        Place("3-third.txt", "x");
    }
    QStringList Mailbox() const { return QDir(App().POP3MailBoxPath).entryList(QDir::Files); }
    QStringList Deleted() const { return QDir(App().DeletedMessagesPath).entryList(QDir::Files); }
    QByteArray Console() const { return App().mainConsole.boxText(); }
    QByteArray State() const { return App().POP3ServerState; }

    // Runs queued events (socket events and immediate steps) until nothing is left to do.
    static void Settle()
    {
        for (int round = 0; round < 200; ++round)
            QCoreApplication::processEvents();
    }

    void Start()
    {
        server.Run();
        Settle();
        ASSERT_EQ(State(), "L");
    }
    // Connects a client and returns the greeting it got.
    QByteArray Connect(qintptr request = 1)
    {
        listener.requestConnection(request);
        Settle();
        return transceiver.takeWritten();
    }
    // Sends the client's bytes and returns the server's answer.
    QByteArray Send(const QByteArray& bytes)
    {
        transceiver.injectFromPeer(bytes);
        Settle();
        return transceiver.takeWritten();
    }
    QByteArray Say(const QByteArray& line) { return Send(line + "\r\n"); }
    void LogIn()
    {
        Start();
        ASSERT_EQ(Connect(), Greeting);
        ASSERT_EQ(Say("USER bob"), "+OK User name accepted, password please\r\n");
        ASSERT_EQ(Say("PASS secret"), "+OK Ready to deliver mail.\r\n");
        ASSERT_EQ(State(), "T");
    }
    // The client's connection was closed by the server and it listens for the next one.
    void ExpectClosedAndListening()
    {
        EXPECT_EQ(transceiver.state, SocketState::Closed);
        EXPECT_EQ(State(), "L");
    }

    FakeSocket listener;
    FakeSocket transceiver;
    POP3Server server;
};

TEST_F(POP3ServerTest, ServesAWholeSessionAndMovesTheDeletedMessage)
{
    PlaceThree();
    WriteAppFile("MailFolder/Deleted_Messages/2-second.txt", "an older message of the same name");
    Start();

    QByteArray wire = Connect();
    for (const QByteArray line : { "USER bob", "PASS secret", "STAT", "LIST", "RETR 2", "DELE 2", "QUIT" })
        wire += Say(line);

    EXPECT_EQ(wire, Fixture("pop3server/session-wire.txt"));
    EXPECT_EQ(Console(), Fixture("pop3server/session-console.txt"));
    EXPECT_EQ(Mailbox(), QStringList({ "1-first.txt", "3-third.txt" }));
    EXPECT_EQ(ReadAppFile("MailFolder/Deleted_Messages/2-second.txt"), "Subject: two\n\n.hidden dot\n");
    ExpectClosedAndListening();
}

TEST_F(POP3ServerTest, AuthorizationAcceptsOnlyTheConfiguredUser)
{
    Start();
    Connect();
    EXPECT_EQ(Say("user bob"), "+OK User name accepted, password please\r\n");
    EXPECT_EQ(State(), "P");

    Connect(2); // refused: the session runs; the refusal closes it
    EXPECT_EQ(transceiver.closes, 1);
    ExpectClosedAndListening();

    Connect(3);
    EXPECT_EQ(Say("NOOP"), "+OK\r\n");
    EXPECT_EQ(Say("USER Bob"), "-ERR user Bob does not exist.\r\n");
    ExpectClosedAndListening();

    for (const QByteArray& line : { QByteArray("PASS secret"), QByteArray(""), QByteArray("AUTH PLAIN") }) {
        Connect();
        EXPECT_EQ(Say(line), ExpectingUser) << line.constData();
        ExpectClosedAndListening();
    }
    Connect();
    EXPECT_EQ(Say("QUIT"), "+OK POP3 signing off.\r\n");
    ExpectClosedAndListening();
}

TEST_F(POP3ServerTest, AnEmptyUserNameMatchesUserWithoutArgument)
{
    App().POP3User = "";
    Start();
    for (const QByteArray& line : { QByteArray("USER"), QByteArray("USER ") }) {
        Connect();
        EXPECT_EQ(Say(line), "+OK User name accepted, password please\r\n") << line.constData();
        Say("QUIT");
    }
    Connect();
    EXPECT_EQ(Say("USER bob"), "-ERR user bob does not exist.\r\n");
}

TEST_F(POP3ServerTest, PasswordAnswers)
{
    App().POP3UserPassword = "two";
    Start();
    Connect();
    Say("USER bob");
    // Lines sent ahead of a refused password are dropped.
    EXPECT_EQ(Send("PASS wrong\r\nNOOP\r\n"), "-ERR incorrect logon\r\n");
    EXPECT_EQ(State(), "A");
    Say("USER bob");
    EXPECT_EQ(Say("PASS"), "missing password argument.\r\n");
    EXPECT_EQ(State(), "A");
    Say("USER bob");
    // A client may change its mind about the user before the password.
    EXPECT_EQ(Say("USER bob"), "+OK User name accepted, password please\r\n");
    EXPECT_EQ(State(), "P");
    EXPECT_EQ(Say("PASS two words"), "+OK Ready to deliver mail.\r\n");
    EXPECT_EQ(State(), "T");

    const QByteArray console = Console();
    EXPECT_TRUE(console.contains("<POP3: PASS *******\r\n:POP3: incorrect password.\r\n>POP3: -ERR incorrect logon\r\n"));
    EXPECT_TRUE(console.contains("<POP3: PASS\r\n>POP3: missing password argument.\r\n"));
    EXPECT_TRUE(console.contains(":POP3: repeat previous state \"A\".\r\n<POP3: USER bob\r\n"));
    EXPECT_FALSE(console.contains("wrong"));
    EXPECT_FALSE(console.contains("two words"));

    Connect(2);
    Connect();
    Say("USER bob");
    EXPECT_EQ(Say("STAT"), ExpectingPass);
    ExpectClosedAndListening();
    Connect();
    Say("USER bob");
    EXPECT_EQ(Say("QUIT"), "+OK POP3 signing off.\r\n");
    ExpectClosedAndListening();
}

TEST_F(POP3ServerTest, AnEmptyPasswordSettingAcceptsPassWithoutArgument)
{
    App().POP3UserPassword = "";
    Start();
    Connect();
    Say("USER bob");
    EXPECT_EQ(Say("PASS"), "+OK Ready to deliver mail.\r\n");
    EXPECT_EQ(State(), "T");
}

TEST_F(POP3ServerTest, EmptyMailbox)
{
    LogIn();
    EXPECT_EQ(Say("STAT"), "+OK 0 0\r\n");
    EXPECT_EQ(Say("LIST"), "+OK 0 (0 octets.)\r\n.\r\n");
    EXPECT_EQ(Say("UIDL"), "+OK\r\n.\r\n");
}

TEST_F(POP3ServerTest, NumberArgumentsAndMessagesThatDoNotExist)
{
    PlaceThree();
    LogIn();
    EXPECT_EQ(Say("LIST 2"), "+OK 2 26\r\n");
    EXPECT_EQ(Say("LIST 0"), "-ERR No message 0 exists.\r\n");
    EXPECT_EQ(Say("LIST 9"), "-ERR No message 9 exists.\r\n");
    EXPECT_EQ(Say("LIST x"), "-ERR cannot interpret parameter x as a number. Exception 13\r\n");
    EXPECT_EQ(Say("LIST "), "-ERR cannot interpret parameter  as a number. Exception 13\r\n");
    EXPECT_EQ(Say("LIST 99999999999"), "-ERR cannot interpret parameter 99999999999 as a number. Exception 6\r\n");
    EXPECT_EQ(Say("RETR x"), "-ERR cannot interpret parameter x as message number. Exception 13\r\n");
    EXPECT_EQ(Say("DELE x"), "-ERR cannot interpret parameter x as message number. Exception 13\r\n");
    EXPECT_EQ(Say("RETR"), "-ERR Missed argument in command RETR.\r\n");
    EXPECT_EQ(Say("DELE"), "-ERR Missed argument in command RETR.\r\n");
    EXPECT_EQ(Say("RETR 0"), "-ERR POP3 exception. Message is empty.\r\n");
    EXPECT_EQ(Say("DELE 0"), "+OK message 0 marked for deletion.\r\n");
    // Numbers beyond the listing are the client's mistake: the session goes on.
    EXPECT_EQ(Say("RETR 9"), "-ERR No message 9 exists.\r\n");
    EXPECT_EQ(Say("DELE -1"), "-ERR No message -1 exists.\r\n");
    EXPECT_EQ(Say("NOOP"), "+OK\r\n");
    EXPECT_EQ(State(), "T");

    EXPECT_EQ(Say("QUIT"), "+OK Have a Wrenpost. (3 messages left.)\r\n");
    EXPECT_EQ(Mailbox().size(), 3);
    EXPECT_TRUE(Deleted().isEmpty());
}

TEST_F(POP3ServerTest, UnknownCommandsAndEmptyLinesEndTheTransaction)
{
    for (const QByteArray& line : { QByteArray("XTND"), QByteArray(""), QByteArray("APOP bob 0123") }) {
        SCOPED_TRACE(line.constData());
        if (State().isEmpty())
            LogIn();
        else {
            Connect();
            Say("USER bob");
            Say("PASS secret");
        }
        EXPECT_EQ(Say(line), ExpectingCommand);
        ExpectClosedAndListening();
    }
}

TEST_F(POP3ServerTest, RetrStuffsEveryDotLineWhateverTheFileForm)
{
    Place("a-terminated.txt", ".first\r\nmid\r\n.\r\n..x\r\n.\r\n");
    Place("b-bare-lf.txt", ".first\nmid\n.\n..x\n");
    Place("c-no-line-end.txt", "one\r\n.two");
    LogIn();
    EXPECT_EQ(Say("RETR 1"), "+OK 24 octets.\r\n..first\r\nmid\r\n..\r\n...x\r\n.\r\n");
    EXPECT_EQ(Say("RETR 2"), "+OK 17 octets.\r\n..first\r\nmid\r\n..\r\n...x\r\n.\r\n");
    EXPECT_EQ(Say("RETR 3"), "+OK 9 octets.\r\none\r\n..two\r\n.\r\n");
    // The message text itself is not traced.
    EXPECT_FALSE(Console().contains("mid"));
    EXPECT_TRUE(Console().contains(":POP3: Sending message 3: c-no-line-end.txt\r\n"));
}

TEST_F(POP3ServerTest, AMessageEmptiedAfterTheListingIsEmpty)
{
    Place("1.txt", "text\r\n");
    LogIn();
    Place("1.txt", "");
    EXPECT_EQ(Say("RETR 1"), "-ERR POP3 exception. Message is empty.\r\n");
    EXPECT_EQ(State(), "T");
}

TEST_F(POP3ServerTest, DeletionKeptWhenTheSettingSaysSo)
{
    App().POP3DeleteIfRequested = "N";
    PlaceThree();
    LogIn();
    EXPECT_EQ(Say("DELE 1"), "+OK message 1 will be preserved due POP3 internal settings.\r\n");
    EXPECT_EQ(Say("DELE 1"), "+OK message 1 will be preserved due POP3 internal settings.\r\n");
    EXPECT_EQ(Say("QUIT"), "+OK Have a Wrenpost. (3 messages left.)\r\n");
    EXPECT_EQ(Mailbox().size(), 3);
    EXPECT_TRUE(Deleted().isEmpty());
}

TEST_F(POP3ServerTest, AFailedMoveIsNotCountedAsMoved)
{
    PlaceThree();
    LogIn();
    Say("DELE 1");
    Say("DELE 3");
    // The second move fails: a folder holds its name in Deleted_Messages.
    QDir(App().DeletedMessagesPath).mkpath("3-third.txt/inside");
    EXPECT_EQ(Say("QUIT"), "+OK Have a Wrenpost. (2 messages left.)\r\n");
    EXPECT_EQ(Mailbox(), QStringList({ "2-second.txt", "3-third.txt" }));
    EXPECT_EQ(ReadAppFile("MailFolder/Deleted_Messages/1-first.txt"), "Subject: one\r\n\r\nHello\r\n");
    EXPECT_TRUE(Console().contains(":POP3: Cannot move message 3: 3-third.txt: "));
}

TEST_F(POP3ServerTest, AClientThatQuitsAndClosesAtOnceMovesNothing)
{
    PlaceThree();
    LogIn();
    Say("DELE 1");
    // The close is seen before the step that would take QUIT has run.
    transceiver.injectFromPeer("QUIT\r\n");
    transceiver.peerCloses();
    Settle();

    EXPECT_EQ(transceiver.takeWritten(), "");
    EXPECT_EQ(Mailbox().size(), 3);
    EXPECT_TRUE(Console().contains(":POP3: Close event detectd in Retrieve socket.\r\n"));
    EXPECT_TRUE(Console().contains(":POP3: going to state \"UPDATE\".\r\n:POP3: Preparing Transceive Socket.\r\n"));
    // Its socket was left half closed: the next client is refused once, the one after served.
    EXPECT_EQ(State(), "L");
    EXPECT_EQ(Connect(2), "");
    EXPECT_TRUE(Console().contains(
        ":POP3: Cannot accept new incoming connection while Tranceive Socket is still in not-closed state.\r\n"));
    EXPECT_EQ(Connect(3), Greeting);
}

TEST_F(POP3ServerTest, LinesReceivedBeforeTheClientClosedAreStillAnswered)
{
    PlaceThree();
    LogIn();
    transceiver.injectFromPeer("ST");
    transceiver.injectFromPeer("AT\r\nNOOP\r\n");
    transceiver.peerCloses();
    Settle();
    EXPECT_EQ(transceiver.takeWritten(), "");
    EXPECT_TRUE(Console().contains("<POP3: STAT\r\n>POP3: +OK 3 50\r\n<POP3: NOOP\r\n>POP3: +OK\r\n"));
    EXPECT_EQ(State(), "L");
}

TEST_F(POP3ServerTest, AWholeSessionInOneWriteAndAFloodOfLinesRunWithoutTheClock)
{
    PlaceThree();
    // With the clock this slow, only the immediate steps can carry the session.
    server.tmrPOP3.setInterval(3600 * 1000);
    Start();
    Connect();
    EXPECT_EQ(Send("USER bob\r\nPASS secret\r\nSTAT\r\n"),
        "+OK User name accepted, password please\r\n+OK Ready to deliver mail.\r\n+OK 3 50\r\n");

    QByteArray flood;
    for (int i = 0; i < 2000; ++i)
        flood += "NOOP\r\n";
    transceiver.injectFromPeer(flood + "QUIT\r\n");
    EXPECT_TRUE(WaitFor([this] { return State() == "L"; }, 10000));
    const QByteArray answers = transceiver.takeWritten();
    EXPECT_EQ(answers.count("+OK\r\n"), 2000);
    EXPECT_TRUE(answers.endsWith("+OK Have a Wrenpost. (3 messages left.)\r\n"));
}

TEST_F(POP3ServerTest, BackToBackSessionsNeverStopTheServer)
{
    Start();
    for (int session = 1; session <= 20; ++session) {
        SCOPED_TRACE(session);
        listener.requestConnection(session);
        transceiver.injectFromPeer("USER bob\r\nPASS secret\r\nQUIT\r\n");
        Settle();
        EXPECT_EQ(transceiver.takeWritten(), Greeting + "+OK User name accepted, password please\r\n"
                + "+OK Ready to deliver mail.\r\n+OK Have a Wrenpost. (0 messages left.)\r\n");
        ExpectClosedAndListening();
    }
}

TEST_F(POP3ServerTest, AClientReturningBeforeTheListeningStepIsAccepted)
{
    LogIn();
    App().POP3ServerState = "C";
    server.ProcessDialog();
    ASSERT_EQ(State(), "2");
    emit listener.ConnectionRequest(7);
    EXPECT_EQ(State(), "R");
    Settle();
    EXPECT_EQ(transceiver.takeWritten(), Greeting);
    EXPECT_EQ(State(), "A");
}

TEST_F(POP3ServerTest, AReceiveBufferPastItsBoundEndsTheSession)
{
    PlaceThree();
    LogIn();
    EXPECT_EQ(Send(QByteArray(POP3Server::RecvBufferLimit + 1, 'x')), ExpectingCommand);
    ExpectClosedAndListening();

    Connect();
    Send(QByteArray(POP3Server::RecvBufferLimit - 10, 'y'));
    EXPECT_EQ(Send(QByteArray(20, 'y') + "\r\n"), ExpectingUser);
    ExpectClosedAndListening();

    // The server goes on serving.
    Connect();
    EXPECT_EQ(Say("USER bob"), "+OK User name accepted, password please\r\n");
    EXPECT_EQ(Send(QByteArray(POP3Server::RecvBufferLimit + 1, 'z')), ExpectingPass);
    ExpectClosedAndListening();
}

TEST_F(POP3ServerTest, CapabilitiesUniqueIdsAndTop)
{
    const QByteArray capabilities = "+OK Capability list follows\r\nUSER\r\nUIDL\r\nTOP\r\nPIPELINING\r\n.\r\n";
    Place("1-first.txt", "From: a\r\nSubject: one\r\n\r\n.dot\r\nline 2\r\nline 3\r\n");
    Place("2-second.txt", "From: b\n\nbody\n");
    Start();
    Connect();
    EXPECT_EQ(Say("CAPA"), capabilities);
    EXPECT_EQ(Say("AUTH"), "+OK\r\n.\r\n");
    EXPECT_EQ(State(), "A");
    Say("USER bob");
    EXPECT_EQ(Say("capa"), capabilities);
    EXPECT_EQ(State(), "P");
    Say("PASS secret");
    EXPECT_EQ(Say("CAPA"), capabilities);

    // printf %s 1-first.txt | sha1sum; printf %s 2-second.txt | sha1sum
    EXPECT_EQ(Say("UIDL"), "+OK\r\n1 5b504056ba10b94d534afbaed215820fb8486fa7\r\n2 be820f1fee55be1dabbb4ac2c6b2a878d8d668e1\r\n.\r\n");
    EXPECT_EQ(Say("UIDL 2"), "+OK 2 be820f1fee55be1dabbb4ac2c6b2a878d8d668e1\r\n");
    EXPECT_EQ(Say("UIDL 3"), "-ERR No message 3 exists.\r\n");
    EXPECT_EQ(Say("UIDL x"), "-ERR cannot interpret parameter x as a number. Exception 13\r\n");

    EXPECT_EQ(Say("TOP 1 1"), "+OK\r\nFrom: a\r\nSubject: one\r\n\r\n..dot\r\n.\r\n");
    EXPECT_EQ(Say("TOP 1 -3"), "+OK\r\nFrom: a\r\nSubject: one\r\n\r\n.\r\n");
    EXPECT_EQ(Say("TOP 2 5"), "+OK\r\nFrom: b\r\n\r\nbody\r\n.\r\n");
    EXPECT_EQ(Say("TOP 3 0"), "-ERR No message 3 exists.\r\n");
    EXPECT_EQ(Say("TOP 1"), "-ERR cannot interpret parameter  as message number. Exception 13\r\n");
    EXPECT_EQ(Say("TOP x 1"), "-ERR cannot interpret parameter x as message number. Exception 13\r\n");
    EXPECT_EQ(State(), "T");
}

TEST_F(POP3ServerTest, RunningTwiceAndStoppingWhileStopped)
{
    server.Stop();
    EXPECT_EQ(State(), "");
    EXPECT_EQ(Console(), "");

    Start();
    server.Run();
    EXPECT_EQ(dialogs.Texts(), QStringList({ "POP3 server is already running." }));
    EXPECT_EQ(State(), "L");

    server.Stop();
    Settle();
    EXPECT_EQ(State(), "");
    EXPECT_EQ(listener.state, SocketState::Closed);
    EXPECT_TRUE(Console().endsWith(":POP3: Stopping POP3 Server.\r\n:POP3: Transceive socket is already closed.\r\n"
                                   ":POP3: closing Listen socket.\r\n"));
    Start();
}

TEST_F(POP3ServerTest, StoppingMidSessionClosesBothSockets)
{
    PlaceThree();
    LogIn();
    Say("DELE 1");
    server.Stop();
    // A client knocking now does not undo the stop.
    listener.requestConnection(2);
    Settle();
    EXPECT_EQ(State(), "");
    EXPECT_EQ(transceiver.state, SocketState::Closed);
    EXPECT_EQ(listener.state, SocketState::Closed);
    EXPECT_EQ(Mailbox().size(), 3);
    EXPECT_TRUE(Console().endsWith(":POP3: Stopping POP3 Server.\r\n:POP3: closing Transceive socket.\r\n"
                                   ":POP3: closing Listen socket.\r\n"));
}

TEST_F(POP3ServerTest, AStopBeforeTheFirstStepFindsBothSocketsClosed)
{
    server.Run();
    server.Stop();
    Settle();
    EXPECT_EQ(State(), "");
    EXPECT_EQ(Console(), ":POP3: Stopping POP3 Server.\r\n:POP3: Transceive socket is already closed.\r\n"
                         ":POP3: Listen socket is already closed.\r\n");
    // The clock stops at its first tick after that.
    EXPECT_TRUE(server.tmrPOP3.isActive());
    EXPECT_TRUE(WaitFor([this] { return !server.tmrPOP3.isActive(); }, 1000));
}

TEST_F(POP3ServerTest, ErrorsStopTheServer)
{
    LogIn();
    transceiver.raiseError(SocketErrors::ConnectionReset);
    Settle();
    EXPECT_EQ(State(), "");
    EXPECT_TRUE(Console().contains(":POP3: Exception at POP3 Dialog:\r\n10054 Connection is reset by remote side\r\n"
                                   "Code: 10054 Source: TCP socket\r\n:POP3: closing Transceive socket.\r\n:POP3: setting \"Terminate state\".\r\n"));

    LogIn();
    listener.raiseError(SocketErrors::ConnectionAborted);
    Settle();
    EXPECT_EQ(State(), "");
    EXPECT_EQ(transceiver.takeWritten(), "");
    EXPECT_TRUE(Console().contains(":POP3: POP3 Listen Socket Exception:\r\n10053 Connection is aborted due to timeout "
                                   "or other failure\r\nSource: TCP socket\r\n:POP3: Stopping POP3 Server.\r\n"));

    Start();
    App().POP3ServerState = "Z";
    EXPECT_TRUE(WaitFor([this] { return State().isEmpty(); }, 1000));
    EXPECT_TRUE(Console().contains(":POP3: Impossible POP3 Dialog state: \"Z\". Bug in program.\r\n"));
}

TEST_F(POP3ServerTest, AFailedDataArrivalIsReportedAtOnceAndStopsTheServer)
{
    LogIn();
    transceiver.getDataError = SocketErrors::ConnectionAborted;
    transceiver.injectFromPeer("STAT\r\n");
    Settle();
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].title, "EXCEPTION");
    EXPECT_TRUE(dialogs.shown[0].text.contains("mRetrSock_DataArrival"));
    EXPECT_TRUE(Console().contains(":POP3: Exception at POP3 Dialog:\r\n10053 Connection is aborted due to timeout or "
                                   "other failure\r\nIn DataArrival.\r\n"));
    EXPECT_EQ(State(), "");
    EXPECT_EQ(transceiver.takeWritten(), "");
}

TEST_F(POP3ServerTest, AListingThatFailsStopsTheServer)
{
    App().POP3MailBoxPath = AppPath("MailFolder/Missing");
    Start();
    Connect();
    Say("USER bob");
    EXPECT_EQ(Say("PASS secret"), "+OK Ready to deliver mail.\r\n");
    EXPECT_EQ(State(), "");
    EXPECT_EQ(transceiver.state, SocketState::Closed);
    EXPECT_TRUE(Console().contains("Exception in \"DirectoryList.\""));
}

TEST_F(POP3ServerTest, AClientKnockingBeforeTheServerListensStopsIt)
{
    server.Run();
    emit listener.ConnectionRequest(4);
    EXPECT_EQ(State(), "E");
    EXPECT_TRUE(Console().contains(":POP3: Incorrect Dialog state:\r\nS\r\n"));
    Settle();
    EXPECT_EQ(State(), "");
}

TEST(POP3ServerSocketTest, AStartOnATakenPortStopsTheServer)
{
    FakeDialogs dialogs;
    FakeClock clock;
    ResetAppState();
    App().dialogs = &dialogs;
    App().clock = &clock;
    QTcpServer occupant;
    ASSERT_TRUE(occupant.listen(QHostAddress::Any, 0));
    App().POP3ServerPort = occupant.serverPort();
    QtSocket listener;
    QtSocket transceiver;
    POP3Server server(listener, transceiver);

    server.Run();
    EXPECT_TRUE(WaitFor([] { return App().POP3ServerState.isEmpty(); }));
    EXPECT_TRUE(App().mainConsole.boxText().contains(
        ":POP3: Exception at Listen POP3 Socket startup:\r\n10048 Address in use\r\n"));
    EXPECT_EQ(App().LastErrNumber, 10048);
    ResetAppState();
}

} // namespace
