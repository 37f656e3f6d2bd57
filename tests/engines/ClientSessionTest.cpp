// The two client sessions, each run against a scripted peer as a hand-written scenario says
// (tests/fixtures/engines/send and engines/retrieve; see support/Scenario.h): the transcript
// must be used up with nothing else written, and the console, the files, the message boxes and
// the status colour must be exactly as written down.

#include "Console.h"
#include "FakeProgress.h"
#include "MailRetriever.h"
#include "MailSender.h"
#include "QtPrinting.h"
#include "Scenario.h"
#include "ScriptedPeer.h"
#include "TestApp.h"
#include "frmMain.h"
#include "modConsole.h"
#include "modGeneralExceptionHandler.h"

#include <QDir>
#include <QRegularExpression>
#include <QTimer>
#include <optional>

namespace {

// One session in a fresh home, as the scenario sets it up.
class SessionRun : public TestHome {
public:
    explicit SessionRun(const QString& fixture) : scenario(fixture), peer(socket, scenario.Lines("script"))
    {
        clock.now = QDateTime(QDate(2026, 12, 5), QTime(3, 28, 43));
        clock.utcOffsetSeconds = -7 * 3600;
        // The tick follows real time, so that a session waits out its time-outs: a scenario says
        // when a silent peer is meant, and any other wait ends soon as a failure.
        clock.ticking = true;
        AppState& app = App();
        app.paths.MailFolderPath = AppPath("MailFolder");
        app.paths.InBoxPath = AppPath("MailFolder/InBox");
        QDir(AppPath("")).mkpath("MailFolder/SentMessages");
        QDir(AppPath("")).mkpath("MailFolder/InBox");
        app.lifecycle.UserFormOpen = scenario.Setting("account-window") == "open";
        peer.pieceSize = scenario.Setting("pieces").toInt();
        const QByteArray connect = scenario.Setting("connect");
        if (connect == "refused")
            socket.onConnect = [this] { socket.raiseError(10061); };
        if (connect == "unreachable")
            socket.onConnect = [] { throw AppError(10049, "Address is not available from the local machine"); };
        if (connect == "connected")
            socket.state = SocketState::Connected;
        for (const QByteArray& answer : scenario.Setting("answers").split(' '))
            if (!answer.isEmpty())
                dialogs.msgBoxAnswers.enqueue(answer == "Yes" ? MsgBoxResult::Yes : answer == "No" ? MsgBoxResult::No : MsgBoxResult::Cancel);
        // A question asked while the program closes.
        if (scenario.Setting("closing") == "while-asking")
            dialogs.whileOpen = [](const ShownDialog&) { App().lifecycle.closing = true; };
    }

    // Runs the session, with the peer's actions; then checks everything the scenario says.
    void Run(const std::function<void()>& session, const Console& console)
    {
        peer.act = [&](const QByteArray& action) {
            if (action == "again")
                session(); // a second call while the first waits; the console shows it added nothing
            else if (action == "close-window")
                CloseMainWindow();
            else if (action == "inbox-gone")
                QDir().rename(App().paths.InBoxPath, App().paths.InBoxPath + ".gone");
            else
                ADD_FAILURE() << "unknown action " << action.constData();
        };
        session();
        EXPECT_TRUE(peer.Finished());
        EXPECT_EQ(peer.Unexpected(), "");
        EXPECT_EQ(socket.state, SocketState::Closed);
        EXPECT_FALSE(progress.shown);
        EXPECT_LE(progress.value, 0);
        if (window)
            EXPECT_TRUE(WaitFor([this] { return !window->isVisible(); }));
        scenario.ExpectOutcome(console.boxText(), folder.path(), dialogs, console.statusColour());
    }

    int WaitMs() const { return scenario.Setting("waits") == "short" ? 300 : 3000; }

    const Scenario scenario;
    FakeSocket socket;
    ScriptedPeer peer;
    FakeProgress progress;
    std::optional<frmMain> window;

private:
    // The user closes the program while the session waits: the close is held until the
    // session has ended, then the consoles go to console.txt.
    void CloseMainWindow()
    {
        window.emplace();
        window->closeComposeWindow = [] { SaveConsoleToLog(App().consoles.sendConsole); };
        window->show();
        QTimer::singleShot(0, &*window, &QWidget::close);
    }
};

void Send(const QString& fixture, int pieceSize = 0)
{
    SessionRun run(fixture);
    if (pieceSize)
        run.peer.pieceSize = pieceSize;
    const Scenario& s = run.scenario;
    App().prefs.SendServer = s.Setting("server");
    MailSender sender(run.socket, run.progress, App().consoles.sendConsole, App().services);
    sender.replyWaitMs = run.WaitMs();
    run.Run([&] { sender.SendEmailMessage("", s.Setting("to"), s.Setting("from"), s.Setting("subject"), s.Setting("body"), s.Setting("cc"), ""); },
        App().consoles.sendConsole);
    EXPECT_FALSE(sender.Busy());
}

void Retrieve(const QString& fixture, int pieceSize = 0)
{
    SessionRun run(fixture);
    if (pieceSize)
        run.peer.pieceSize = pieceSize;
    AppState& app = App();
    app.prefs.ReceiveUser = "joe";
    app.prefs.ReceivePassword = " secret\t";
    app.prefs.ReceiveServer = "pop.example";
    app.autoretrieve.RetrieveIntervalMs = 300000;
    MailRetriever retriever(run.socket, run.progress, app.consoles.mainConsole, app.services);
    retriever.replyWaitMs = retriever.messageSilenceMs = run.WaitMs();
    QList<bool> icons;
    retriever.showReceivingIcon = [&icons](bool receiving) { icons.append(receiving); };
    // The user types the right password into the account window.
    retriever.showAccountWindow = [] { App().prefs.ReceivePassword = "right"; };
    run.Run([&] { retriever.RetrieveMail(); }, app.consoles.mainConsole);
    EXPECT_EQ(icons, app.lifecycle.UserFormOpen ? QList<bool>() : QList<bool>({ true, false }));
    EXPECT_EQ(run.beeps, app.autoretrieve.SinceLastAttentionCounter);
    EXPECT_FALSE(retriever.Busy());
}

class SendScenario : public ::testing::TestWithParam<QString> {};
class RetrieveScenario : public ::testing::TestWithParam<QString> {};

TEST_P(SendScenario, GoesAsWrittenDown) { Send("engines/send/" + GetParam()); }
TEST_P(RetrieveScenario, GoesAsWrittenDown) { Retrieve("engines/retrieve/" + GetParam()); }

// A file name as a test name: letters and digits.
std::string NameOf(const ::testing::TestParamInfo<QString>& info)
{
    return QString(info.param).chopped(4).replace(QRegularExpression("[^A-Za-z0-9]"), "_").toStdString();
}

INSTANTIATE_TEST_SUITE_P(Engines, SendScenario, ::testing::ValuesIn(ScenarioFiles("engines/send")), NameOf);
INSTANTIATE_TEST_SUITE_P(Engines, RetrieveScenario, ::testing::ValuesIn(ScenarioFiles("engines/retrieve")), NameOf);

// Replies and messages cut into pieces of every size up to the longest piece the peer sends
// (one byte: a cut at every position) give the same session.
TEST(SplitReplies, GiveTheSameSession)
{
    for (int piece = 1; piece <= 56; ++piece) {
        SCOPED_TRACE(piece);
        Send("engines/send/copy-recipient.txt", piece);
        Retrieve("engines/retrieve/two-messages.txt", piece);
    }
}

} // namespace
