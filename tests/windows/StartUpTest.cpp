#include "StartUp.h"

#include "Console.h"
#include "POP3Server.h"
#include "ProtocolObjects.h"
#include "QtSocket.h"
#include "frmSend.h"
#include "TestApp.h"
#include "frmMain.h"

#include <QDir>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

namespace {

const QStringList MailStoreFolders { "MailFolder", "MailFolder/SentMessages", "MailFolder/InBox",
    "MailFolder/SavedMessages", "MailFolder/Deleted_Messages", "MailFolder/POP3MailBox" };

class StartUpTest : public AppTest {
protected:
    // The local server takes any free port instead of 110.
    StartUpTest() { App().POP3ServerPort = 0; }
    StartUpOutcome Start() { return Main(window, objects); }
    QByteArray ConsoleText() const { return App().mainConsole.boxText(); }
    bool IsFolder(const QString& relative) const { return QFileInfo(AppPath(relative)).isDir(); }

    frmMain window;
    ProtocolObjects objects;
};

TEST_F(StartUpTest, FirstRunWithoutPreferencesLaysOutTheStoreAndDisablesAutoretrieve)
{
    WriteAppFile("console.txt", "the previous run\r\n");

    EXPECT_EQ(Start(), StartUpOutcome::Running);

    for (const QString& folder : MailStoreFolders)
        EXPECT_TRUE(IsFolder(folder)) << folder.toStdString();
    EXPECT_FALSE(QFileInfo::exists(AppPath("console.txt")));
    // The account window opens (and counts as the user's attention).
    EXPECT_EQ(ConsoleText(), QByteArray(":\"Since last attention counter\" is reset to 0.\r\n:AUTORETRIEVE DISABLED\r\n"
                                        ":\"Since last attention counter\" is reset to 0.\r\n"));
    EXPECT_EQ(App().POP3UserFolder, "POP3MailBox");
    EXPECT_EQ(App().POP3MailBoxPath, AppPath("MailFolder/POP3MailBox"));
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].kind, ShownDialog::Kind::Window);
    EXPECT_EQ(dialogs.shown[0].title, "SET USRER DATA");
    EXPECT_FALSE(App().UserFormOpen);
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.ProgressBar1->isHidden());
    EXPECT_TRUE(window.Timer1.isActive());
    EXPECT_EQ(window.Timer1.interval(), 100);
}

TEST_F(StartUpTest, CompleteSettingsWriteTheNotesInOrder)
{
    WriteAppFile("preferences.txt", Fixture("startup-complete-preferences.txt"));

    Start();

    EXPECT_EQ(ConsoleText(), Fixture("startup-complete-console.txt"));
    EXPECT_EQ(App().RetrieveIntervalMs, 150000);
    EXPECT_EQ(App().ReceivePassword, "secret");
    EXPECT_EQ(App().NextRetrieveTick, 0);
}

TEST_F(StartUpTest, FlagsAreUpperCasedOnlyForTheLocalServer)
{
    WriteAppFile("preferences.txt",
        "user=joe\r\nsave_password=y\r\nPOP3RunsAtStartup=y\r\nPOP3_delete_message_if_client_requested=n\r\n");

    Start();

    EXPECT_EQ(App().POP3RunsAtStartup, "Y");
    EXPECT_EQ(App().POP3DeleteIfRequested, "N");
    EXPECT_EQ(App().SaveReceivePassword, "y");
    // "y" is not "Y": the receive account counts as incomplete, so no account notes.
    EXPECT_FALSE(ConsoleText().contains("Receive User: "));
}

// Connects to the local server and returns its greeting.
QByteArray GreetingFrom(quint16 port)
{
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port);
    QByteArray greeting;
    WaitFor([&] {
        greeting += client.readAll();
        return greeting.endsWith("\r\n");
    });
    return greeting;
}

TEST_F(StartUpTest, LocalServerStartsWithTheProgramWhenSetAndRunsAndStopsFromTheMenu)
{
    WriteAppFile("preferences.txt", "POP3RunsAtStartup=y\r\n");
    Start();
    ASSERT_TRUE(objects.MainPOP3Server);
    EXPECT_EQ(App().POP3ServerState, "S");
    ASSERT_TRUE(WaitFor([] { return App().POP3ServerState == "L"; }));
    EXPECT_EQ(GreetingFrom(objects.wsPOP3Listener->LocalPort()), "+OK Wrenpost. 1.0.27. Corvane, Inc.\r\n");

    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        window.mnuStopPOP3Server->trigger();
        ASSERT_TRUE(WaitFor([] { return App().POP3ServerState.isEmpty(); }));
        EXPECT_EQ(objects.wsPOP3Listener->State(), SocketState::Closed);
        // Stopping a stopped server changes nothing.
        const QByteArray console = ConsoleText();
        window.mnuStopPOP3Server->trigger();
        QTest::qWait(120);
        EXPECT_EQ(ConsoleText(), console);
        EXPECT_FALSE(objects.MainPOP3Server->tmrPOP3.isActive());

        window.mnuRunPOP3->trigger();
        window.mnuRunPOP3->trigger();
        EXPECT_EQ(dialogs.Texts().count("POP3 server is already running."), round);
        ASSERT_TRUE(WaitFor([] { return App().POP3ServerState == "L"; }));
        EXPECT_EQ(GreetingFrom(objects.wsPOP3Listener->LocalPort()), "+OK Wrenpost. 1.0.27. Corvane, Inc.\r\n");
    }
}

TEST_F(StartUpTest, LocalServerStaysStoppedUnlessSetToRun)
{
    WriteAppFile("preferences.txt", "POP3RunsAtStartup=yes\r\n");
    Start();
    ASSERT_TRUE(objects.MainPOP3Server);
    EXPECT_EQ(App().POP3ServerState, "");
    EXPECT_FALSE(objects.MainPOP3Server->tmrPOP3.isActive());
}

TEST_F(StartUpTest, BlankUserCountsAsEmpty)
{
    WriteAppFile("preferences.txt", "server=pop.example.org\r\nuser= \t \r\nsave_password=Y\r\n");

    Start();

    EXPECT_FALSE(ConsoleText().contains("Receive User: "));
}

TEST_F(StartUpTest, ExistingMailboxFolderIsUsedAsItIs)
{
    QDir(AppPath("")).mkpath("MailFolder/Shared box");
    WriteAppFile("MailFolder/Shared box/kept.txt", "x");
    WriteAppFile("preferences.txt", "POP3UserFolder=Shared box\r\n");

    EXPECT_EQ(Start(), StartUpOutcome::Running);

    EXPECT_EQ(App().POP3MailBoxPath, AppPath("MailFolder/Shared box"));
    EXPECT_EQ(ReadAppFile("MailFolder/Shared box/kept.txt"), "x");
    EXPECT_FALSE(IsFolder("MailFolder/POP3MailBox"));
}

TEST_F(StartUpTest, FileInPlaceOfTheMailFolderEndsTheProgram)
{
    WriteAppFile("MailFolder", "not a folder");
    WriteAppFile("console.txt", "the previous run\r\n");

    EXPECT_EQ(Start(), StartUpOutcome::EndProgram);

    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].text, "Folder name: \r\n" + AppPath("MailFolder") + "\r\nis aready occupied by file.");
    EXPECT_EQ(dialogs.shown[0].style, 0);
    EXPECT_TRUE(dialogs.shown[0].title.isEmpty());
    EXPECT_EQ(ReadAppFile("console.txt"), "the previous run\r\n");
    EXPECT_EQ(QDir(AppPath("")).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList());
    EXPECT_FALSE(window.Timer1.isActive());
}

TEST_F(StartUpTest, FileInPlaceOfTheMailboxFolderEndsTheProgramAfterThePreferences)
{
    QDir(AppPath("")).mkpath("MailFolder");
    WriteAppFile("MailFolder/POP3MailBox", "");

    EXPECT_EQ(Start(), StartUpOutcome::EndProgram);

    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_TRUE(dialogs.shown[0].text.startsWith("Folder name: \r\n"));
    EXPECT_TRUE(ConsoleText().contains("AUTORETRIEVE DISABLED"));
}

TEST_F(StartUpTest, BadIntervalIsToldAndStartUpGoesOn)
{
    WriteAppFile("preferences.txt", "retrieve interval=20000\r\n");

    EXPECT_EQ(Start(), StartUpOutcome::Running);

    ASSERT_EQ(dialogs.shown.size(), 2);
    EXPECT_EQ(dialogs.shown[0].text, "Incrorect value 20000 was entered. Disabling autoretrieve.");
    EXPECT_EQ(dialogs.shown[1].kind, ShownDialog::Kind::Window);
    EXPECT_EQ(App().RetrieveIntervalMs, 0);
    EXPECT_TRUE(window.Timer1.isActive());
}

TEST_F(StartUpTest, UnexpectedErrorIsReportedAndTheWindowStays)
{
    // A console full enough to spill, and a console.txt that cannot be written.
    App().mainConsole.setBoxText(QByteArray(10001, 'x'));
    QDir(AppPath("")).mkpath("console.txt/blocked");

    EXPECT_EQ(Start(), StartUpOutcome::Running);

    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_TRUE(dialogs.shown[0].text.startsWith("EXCEPTION 21\r\n")) << dialogs.shown[0].text.toStdString();
    EXPECT_TRUE(dialogs.shown[0].text.endsWith("\r\nIn StartUp Main Module."));
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.Timer1.isActive());
}

TEST_F(StartUpTest, FirstAutoretrieveComesOneIntervalAfterStart)
{
    WriteAppFile("preferences.txt", "user=joe\r\nsave_password=Y\r\nretrieve interval=1\r\n");
    int retrievals = 0;

    Start();
    window.retrieveMail = [&retrievals] { ++retrievals; };
    ASSERT_TRUE(WaitFor([] { return App().NextRetrieveTick != 0; }));
    EXPECT_EQ(App().NextRetrieveTick, clock.tickMs + 60000);

    clock.tickMs += 60000;
    QTest::qWait(300);
    EXPECT_EQ(retrievals, 0);

    clock.tickMs += 1;
    ASSERT_TRUE(WaitFor([&retrievals] { return retrievals == 1; }));
    // The next tick arms the following deadline one interval later.
    ASSERT_TRUE(WaitFor([] { return App().NextRetrieveTick != 0; }));
    EXPECT_EQ(App().NextRetrieveTick, clock.tickMs + 60000);
    EXPECT_EQ(retrievals, 1);
}

TEST_F(StartUpTest, AutoretrieveRunsTheRealRetrievalOneIntervalAfterStart)
{
    // A POP3 server that turns every client away at once.
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    QObject::connect(&server, &QTcpServer::newConnection, [&server] {
        QTcpSocket* client = server.nextPendingConnection();
        client->write("-ERR not now\r\n");
    });
    WriteAppFile("preferences.txt",
        "user=joe\r\nsave_password=Y\r\nretrieve interval=1\r\nserver=127.0.0.1:" + QByteArray::number(server.serverPort()) + "\r\n");

    Start();
    ASSERT_TRUE(WaitFor([] { return App().NextRetrieveTick != 0; }));
    QTest::qWait(300);
    EXPECT_FALSE(ConsoleText().contains("New retrieve session began"));

    clock.tickMs += 60001;
    ASSERT_TRUE(WaitFor([this] { return ConsoleText().contains(" message(s) received since last attention."); }));
    EXPECT_TRUE(ConsoleText().contains("<-ERR not now\r\n"));
    EXPECT_TRUE(ConsoleText().contains(":0 message(s) received in this retrieve session.\r\n"));
    EXPECT_EQ(ConsoleText().count("New retrieve session began"), 1);
}

TEST_F(StartUpTest, SendMenuShowsTheComposeWindowAndClosingTheMainWindowClosesIt)
{
    Start();
    ASSERT_TRUE(objects.composeWindow);
    EXPECT_FALSE(objects.composeWindow->isVisible());

    window.mnuSend->trigger();
    EXPECT_TRUE(objects.composeWindow->isVisible());
    objects.composeWindow->txtMessage->setPlainText("unsent");

    window.close();
    EXPECT_FALSE(objects.composeWindow->isVisible());
    EXPECT_EQ(ReadAppFile("MailFolder/SavedMessages/saved_send_message_undo.txt"), "unsent");
}

} // namespace
