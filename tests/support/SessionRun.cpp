#include "SessionRun.h"

#include "Console.h"
#include "MailRetriever.h"
#include "MailSender.h"
#include "modGeneralExceptionHandler.h"

#include <QDir>
#include <QFile>
#include <optional>

namespace {

// One session in a fresh home, as the scenario sets it up.
class SessionRun : public TestHome {
public:
    SessionRun(const QString& fixture, int pieceSize) : scenario(fixture), peer(socket, scenario.Lines("script"))
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
        peer.pieceSize = pieceSize ? pieceSize : scenario.Setting("pieces").toInt();
        const QByteArray connect = scenario.Setting("connect");
        if (connect == "refused")
            socket.onConnect = [this] { socket.raiseError(10061); };
        if (connect == "unreachable")
            socket.onConnect = [] { throw AppError(10049, "Address is not available from the local machine"); };
        if (connect == "connected")
            socket.state = SocketState::Connected;
        socket.tlsRefusal = QString::fromUtf8(scenario.Setting("tls-refusal"));
        if (!scenario.Setting("trusted-certificates").isEmpty())
            WriteFile(AppPath("trusted-certificates.pem"), scenario.Setting("trusted-certificates"));
        for (const QByteArray& answer : scenario.Setting("answers").split(' '))
            if (!answer.isEmpty())
                dialogs.msgBoxAnswers.enqueue(answer == "Yes" ? MsgBoxResult::Yes : answer == "No" ? MsgBoxResult::No : MsgBoxResult::Cancel);
        // A question asked while the program closes.
        if (scenario.Setting("closing") == "while-asking")
            dialogs.whileOpen = [](const ShownDialog&) { App().lifecycle.closing = true; };
        // A console full to the brim, whose spills console.txt stops taking once the console
        // shows the given line.
        const QByteArray lastLogged = scenario.Setting("log-fails-after");
        for (Console* console : { &app.consoles.mainConsole, &app.consoles.sendConsole }) {
            console->setBoxText(QByteArray(scenario.Setting("console-fill").toInt(), '.'));
            QObject::connect(console, &Console::boxChanged, console, [this, console, lastLogged] {
                if (lastLogged.isEmpty() || !console->boxText().endsWith(lastLogged + "\r\n"))
                    return;
                QFile::remove(AppPath("console.txt"));
                QDir().mkpath(AppPath("console.txt/blocked"));
            });
        }
    }

    // Runs the session, with the peer's actions; then checks everything the scenario says.
    void Run(const std::function<void()>& session, const Console& console, const SessionActions& actions)
    {
        peer.act = [&](const QByteArray& action) {
            if (action == "again")
                session();
            else if (action == "inbox-gone")
                QDir().rename(App().paths.InBoxPath, App().paths.InBoxPath + ".gone");
            else if (action == "file-size-limit")
                fileSizeLimit.emplace(4096);
            else if (action == "flood")
                socket.injectFromPeer(QByteArray(78, 'x').append("\r\n").repeated(4096));
            else if (actions.contains(action))
                actions.at(action)();
            else
                ADD_FAILURE() << "unknown action " << action.constData();
        };
        session();
        fileSizeLimit.reset();
        EXPECT_TRUE(peer.Finished());
        EXPECT_EQ(peer.Unexpected(), "");
        EXPECT_EQ(socket.state, SocketState::Closed);
        EXPECT_FALSE(progress.shown);
        EXPECT_LE(progress.value, 0);
        if (actions.contains("after"))
            actions.at("after")();
        scenario.ExpectOutcome(console.boxText(), folder.path(), dialogs, console.statusColour());
    }

    int WaitMs() const { return scenario.Setting("waits") == "short" ? 300 : 3000; }

    const Scenario scenario;
    FakeSocket socket;
    ScriptedPeer peer;
    FakeProgress progress;
    std::optional<FileSizeLimit> fileSizeLimit;
};

} // namespace

void SendAsWritten(const QString& fixture, int pieceSize, const SessionActions& actions)
{
    SessionRun run(fixture, pieceSize);
    const Scenario& s = run.scenario;
    App().prefs.SendServer = s.Setting("server");
    App().prefs.SendUser = s.Setting("user");
    App().prefs.SendPassword = s.Setting("password");
    MailSender sender(run.socket, run.progress, App().consoles.sendConsole, App().services);
    sender.replyWaitMs = run.WaitMs();
    run.Run([&] { sender.SendEmailMessage("", s.Setting("to"), s.Setting("from"), s.Setting("subject"), s.Setting("body"), s.Setting("cc"), ""); },
        App().consoles.sendConsole, actions);
    EXPECT_FALSE(sender.Busy());
}

void RetrieveAsWritten(const QString& fixture, int pieceSize, const SessionActions& actions)
{
    SessionRun run(fixture, pieceSize);
    AppState& app = App();
    app.prefs.ReceiveUser = "joe";
    app.prefs.ReceivePassword = " secret\t";
    app.prefs.ReceiveServer = run.scenario.Setting("server", "pop.example");
    app.autoretrieve.RetrieveIntervalMs = 300000;
    MailRetriever retriever(run.socket, run.progress, app.consoles.mainConsole, app.services);
    retriever.replyWaitMs = retriever.messageSilenceMs = run.WaitMs();
    QList<bool> icons;
    retriever.showReceivingIcon = [&icons](bool receiving) { icons.append(receiving); };
    // The user types the right password into the account window.
    retriever.showAccountWindow = [] { App().prefs.ReceivePassword = "right"; };
    run.Run([&] { retriever.RetrieveMail(); }, app.consoles.mainConsole, actions);
    EXPECT_EQ(icons, app.lifecycle.UserFormOpen ? QList<bool>() : QList<bool>({ true, false }));
    EXPECT_EQ(run.beeps, app.autoretrieve.SinceLastAttentionCounter);
    EXPECT_FALSE(retriever.Busy());
}

