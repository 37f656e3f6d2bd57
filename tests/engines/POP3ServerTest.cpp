// The local POP3 server over fake sockets, each scenario a hand-written transcript
// (tests/fixtures/engines/pop3server; see support/Scenario.h). In its script, "C: " lines are
// what the client sends (consecutive ones in one write), "S: " lines what the server must
// answer to them ("S* N LINE": that line N times), and "!" lines what else happens:
//   !put NAME BYTES      a message file in the served folder (BYTES escaped as in FixtureRows)
//   !fill NAME N BYTES   a message file of BYTES N times
//   !write PATH BYTES    a file under the application folder written anew
//   !mkdir PATH          a folder made under the application folder
//   !send BYTES          the client sends these bytes as they are, in a write of their own
//   !repeat N BYTES      the client sends BYTES N times in one write
// (what the client does queues behind the lines it sent before unless those were answered:
// "C: QUIT" then "!close" arrive together)
//   !run, !stop          the Tools menu's Run and Stop
//   !connect             a client asks to connect; !knock: the request arrives at once
//   !close               the client closes its end
//   !error N             the session's socket fails; !listen-error N: the listening socket
//   !data-error N        taking the next data fails with error N
//   !step                one step of the dialog, as the clock's tick makes it
//   !set-state X         the dialog state set to X
//   !state [X]           the dialog state must be X (stopped when X is missing)
// The files under the application folder are checked once the script has ended.

#include "POP3Server.h"

#include "FakeSocket.h"

#include "QtPrinting.h"
#include "QtSocket.h"
#include "Scenario.h"
#include "TestApp.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDir>
#include <QTcpServer>

#include <functional>
#include <map>

namespace {

class ServerRun : public TestHome {
public:
    explicit ServerRun(const QString& fixture)
        : scenario(fixture), server(listener, transceiver, App().consoles.mainConsole, App().services)
    {
        clock.now = QDateTime(QDate(2026, 12, 5), QTime(3, 28, 43));
        AppState& app = App();
        app.prefs.POP3User = scenario.Setting("user", "bob");
        app.prefs.POP3UserPassword = scenario.Setting("password", "secret");
        app.prefs.POP3DeleteIfRequested = scenario.Setting("delete");
        app.paths.MailFolderPath = AppPath("MailFolder");
        app.paths.POP3MailBoxPath = AppPath(scenario.Setting("mailbox") == "missing" ? "MailFolder/Missing" : "MailFolder/POP3MailBox");
        app.paths.DeletedMessagesPath = AppPath("MailFolder/Deleted_Messages");
        QDir(AppPath("")).mkpath("MailFolder/POP3MailBox");
        QDir(AppPath("")).mkpath("MailFolder/Deleted_Messages");
        // With the clock this slow, only the steps taken at once can carry a session.
        if (scenario.Setting("clock") == "slow")
            server.tmrPOP3.setInterval(3600 * 1000);
    }

    void Run()
    {
        for (const QByteArray& line : scenario.Lines("script")) {
            SCOPED_TRACE(line.constData());
            if (line.startsWith("C: ") && !mAnswer.isEmpty())
                Settle();
            if (line.startsWith("C: "))
                mClientBytes += line.mid(3) + "\r\n";
            else if (line.startsWith("S: "))
                mAnswer += line.mid(3) + "\r\n";
            else if (line.startsWith("S* ")) // S* N LINE: the line N times
                mAnswer += line.mid(line.indexOf(' ', 3) + 1).append("\r\n").repeated(line.mid(3).split(' ')[0].toInt());
            else
                Act(line.mid(1, line.indexOf(' ') - 1), line.contains(' ') ? line.mid(line.indexOf(' ') + 1) : QByteArray());
        }
        Settle();
        // A stopped server's clock stops at its next tick.
        if (App().localServer.POP3ServerState.isEmpty())
            EXPECT_TRUE(WaitFor([this] { return !server.tmrPOP3.isActive(); }, 1000));
        scenario.ExpectOutcome(App().consoles.mainConsole.boxText(), folder.path(), dialogs, App().consoles.mainConsole.statusColour());
    }

private:
    void Act(const QByteArray& verb, const QByteArray& operand)
    {
        // Operands: PATH BYTES, PATH N BYTES, N BYTES, BYTES or X.
        const QByteArrayList fields = operand.split(' ');
        const QString path = QString::fromUtf8(fields[0]);
        const QByteArray bytes = Unescaped(operand.mid(operand.indexOf(' ') + 1));
        // What the client does queues behind what it sent before, unless that was answered; the
        // steps and state changes of the test act at once, between two events; all else first
        // lets everything queued run.
        const bool byClient = verb == "connect" || verb == "close" || verb == "send" || verb == "repeat";
        const bool atOnce = verb == "knock" || verb == "step" || verb == "set-state";
        if (byClient && mAnswer.isEmpty())
            Deliver();
        else if (!atOnce)
            Settle();
        const std::map<QByteArray, std::function<void()>> actions {
            { "put", [&] { WriteAppFile("MailFolder/POP3MailBox/" + path, bytes); } },
            { "fill", [&] { WriteAppFile("MailFolder/POP3MailBox/" + path, Unescaped(fields.value(2)).repeated(fields.value(1).toInt())); } },
            { "write", [&] { WriteAppFile(path, bytes); } },
            { "mkdir", [&] { QDir(AppPath("")).mkpath(operand); } },
            { "send", [&] { transceiver.injectFromPeer(Unescaped(operand)); } },
            { "repeat", [&] { transceiver.injectFromPeer(bytes.repeated(path.toInt())); } },
            { "run", [&] { server.Run(); } },
            { "stop", [&] { server.Stop(); } },
            { "connect", [&] { listener.requestConnection(++mRequests); } },
            { "knock", [&] { emit listener.ConnectionRequest(++mRequests); } },
            { "close", [&] { transceiver.peerCloses(); } },
            { "error", [&] { transceiver.raiseError(operand.toInt()); } },
            { "listen-error", [&] { listener.raiseError(operand.toInt()); } },
            { "data-error", [&] { transceiver.getDataError = operand.toInt(); } },
            { "step", [&] { server.ProcessDialog(); } },
            { "set-state", [&] { App().localServer.POP3ServerState = operand; } },
            // Reached now, or at a tick of the clock.
            { "state", [&] { EXPECT_TRUE(WaitFor([&] { return App().localServer.POP3ServerState == operand; }, 1000)); } },
        };
        if (actions.contains(verb))
            actions.at(verb)();
        else
            ADD_FAILURE() << "unknown action " << verb.constData();
        mSettle = !atOnce && verb != "state";
    }

    void Deliver()
    {
        if (!mClientBytes.isEmpty())
            transceiver.injectFromPeer(std::exchange(mClientBytes, QByteArray()));
    }

    // Hands the client's bytes over, runs every queued event and step, and checks the answer.
    void Settle()
    {
        if (!mSettle && mClientBytes.isEmpty() && mAnswer.isEmpty())
            return;
        Deliver();
        while (QCoreApplication::eventDispatcher()->processEvents(QEventLoop::AllEvents))
            continue;
        EXPECT_EQ(transceiver.takeWritten(), std::exchange(mAnswer, QByteArray()));
        mSettle = false;
    }

    const Scenario scenario;
    FakeSocket listener;
    FakeSocket transceiver;
    POP3Server server;
    QByteArray mClientBytes;
    QByteArray mAnswer;
    bool mSettle = false;
    qintptr mRequests = 0;
};

class ServerScenario : public ::testing::TestWithParam<QString> {};

TEST_P(ServerScenario, GoesAsWrittenDown) { ServerRun("engines/pop3server/" + GetParam()).Run(); }

INSTANTIATE_TEST_SUITE_P(Engines, ServerScenario, ::testing::ValuesIn(ScenarioFiles("engines/pop3server")), ScenarioTestName);

TEST(POP3ServerSocket, AStartOnATakenPortStopsTheServer)
{
    TestHome home;
    QTcpServer occupant;
    ASSERT_TRUE(occupant.listen(QHostAddress::Any, 0));
    App().localServer.POP3ServerPort = occupant.serverPort();
    QtSocket listener;
    QtSocket transceiver;
    POP3Server server(listener, transceiver, App().consoles.mainConsole, App().services);

    server.Run();
    EXPECT_TRUE(WaitFor([] { return App().localServer.POP3ServerState.isEmpty(); }));
    EXPECT_EQ(App().consoles.mainConsole.boxText(),
        ":\r\n\r\n:POP3: *********************************************\r\n:POP3: Server starts. Time: 09:30:00.\r\n"
        ":POP3: Exception at Listen POP3 Socket startup:\r\n10048 Address in use\r\n:POP3: setting \"Terminate state\".\r\n"
        ":POP3: Stopping POP3 Server.\r\n:POP3: Transceive socket is already closed.\r\n:POP3: Listen socket is already closed.\r\n");
}

} // namespace
