// The program driven as its user drives it, in scenarios written down by hand in
// tests/fixtures/windows/scenarios (what a scenario shows is said above its first section).
// Besides the sections of support/Scenario.h, a scenario has:
//   "given"         the files in the home before start-up, "PATH<TAB>BYTES" (escaped as in FixtureRows);
//   "script"        what the user does from start-up on, a line at a time, in the window on top (a
//                   modal window until it closes, else the compose window while it is shown, else
//                   the main window):
//                     look            adds the window's controls as they read (see Shown) to "seen"
//                     captions        adds its caption and menus (see Captions)
//                     tab             presses Tab and adds the control it moves to
//                     menu TEXT       chooses that menu item (the window's own, else the main window's)
//                     NAME<TAB>TEXT   puts TEXT in place of the text of the box held in member NAME
//                     NAME KEY        presses the key there (as Qt writes it: Return, Enter, Esc, Ctrl+Space)
//                     NAME click      clicks there ("window" for NAME is the window itself)
//                     window close    closes the window
//                     wait            waits until the local server has started or stopped and the
//                                     compose window's send has been made
//                     way             one line of "ways";
//   "ways"          each a run of its own, the line "way" stands for (at the end without one);
//   "seen"          what look, captions and tab added;
//   "send console"  the compose window's console;
//   "stored"        the stored values, the folder the local server serves, and every folder and
//                   file of the home with its permissions;
//   and in the setup: "answer" the file chosen in the open-file dialog, and "outcome": whether the
//   program runs on, with its clock, its local server, the compose window, and how each modal
//   window ended, what it received and sent (Receive and the compose window's send are recorded,
//   not made).

#include "Attention.h"
#include "ConsoleView.h"
#include "NestedLoop.h"
#include "Peers.h"
#include "ProgressBarView.h"
#include "ProtocolObjects.h"
#include "QtPrinting.h"
#include "Scenario.h"
#include "SessionRun.h"
#include "StartUp.h"
#include "TestApp.h"
#include "frmFile.h"
#include "frmMain.h"
#include "frmPOP3User.h"
#include "frmSend.h"
#include "frmUser.h"
#include "modConsole.h"
#include "modMain.h"

#include <QTcpServer>
#include <QTest>
#include <QtDBus>
#include <QtWidgets>
#include <sys/stat.h>

namespace {

// The values start-up loads and the settings windows store, by their preference keys.
const std::pair<const char*, QByteArray AppState::Preferences::*> StoredValues[] = { { "user", &AppState::Preferences::ReceiveUser },
    { "password", &AppState::Preferences::ReceivePassword }, { "save_password", &AppState::Preferences::SaveReceivePassword },
    { "server", &AppState::Preferences::ReceiveServer }, { "send user", &AppState::Preferences::SendUser },
    { "send password", &AppState::Preferences::SendPassword }, { "save_send_password", &AppState::Preferences::SaveSendPassword },
    { "send server", &AppState::Preferences::SendServer }, { "POP3User", &AppState::Preferences::POP3User },
    { "POP3UserPassword", &AppState::Preferences::POP3UserPassword }, { "POP3UserSavePassword", &AppState::Preferences::POP3UserSavePassword },
    { "POP3UserFolder", &AppState::Preferences::POP3UserFolder }, { "POP3RunsAtStartup", &AppState::Preferences::POP3RunsAtStartup },
    { "POP3_delete_message_if_client_requested", &AppState::Preferences::POP3DeleteIfRequested } };

QByteArray Stored(const TestHome& home)
{
    QByteArray stored;
    for (const auto& [key, value] : StoredValues)
        stored += key + ('=' + App().prefs.*value) + "\r\n";
    stored += "served folder=" + App().paths.POP3MailBoxPath.toUtf8() + "\r\n";
    QStringList entries;
    QDirIterator it(home.folder.path(), QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        entries.append(it.next());
    entries.sort();
    for (const QString& entry : entries)
        stored += (QFileInfo(entry).isDir() ? "folder " : "file ") + entry.toUtf8() + ' '
            + QByteArray::number(FileMode(entry), 8) + "\r\n";
    return stored.replace(home.folder.path().toUtf8(), "@HOME@");
}

// The controls of a window as a user reads them: each that shows a text (by its name, else its
// kind), with [x] when ticked, (disabled) when it cannot be used and (masked) when it hides what
// is typed.
QByteArray Shown(const QWidget& window)
{
    QString shown;
    for (const QWidget* control : window.findChildren<QWidget*>()) {
        const QString text = QString(control->property("text").toString() + control->property("title").toString()
            + control->property("plainText").toString()).replace('\n', "\r\n");
        const QString name = control->objectName().isEmpty() ? control->metaObject()->className() : control->objectName();
        if (!text.isEmpty() && control->isVisibleTo(&window))
            shown += name + ": " + text + (control->property("checked").toBool() ? " [x]" : "")
                + (control->isEnabled() ? "" : " (disabled)") + (control->property("echoMode").toInt() ? " (masked)" : "")
                + "\r\n";
    }
    return shown.toUtf8();
}

// A window's caption, then its menu items, those of a menu under its title.
QByteArray Captions(const QWidget& window)
{
    QString captions = window.windowTitle() + "\r\n";
    for (const QAction* item : window.findChildren<QAction*>())
        if (!item->text().isEmpty())
            captions += QString(item->menu() || !item->parent()->inherits("QMenu") ? 2 : 4, ' ') + item->text() + "\r\n";
    return captions.toUtf8();
}

// Names each control the scenarios reach after the member that holds it.
void NameControls(QWidget& window)
{
#define NAMED(member) { w->member, #member }
    QList<std::pair<QWidget*, const char*>> named;
    if (auto* w = qobject_cast<frmUser*>(&window))
        named = { NAMED(txtUserName), NAMED(txtPassword), NAMED(chkSaveToDisk), NAMED(txtServer), NAMED(txtSendUser),
            NAMED(txtSendPassword), NAMED(chkSendSaveToDisk), NAMED(txtSendServer), NAMED(cmdApply), NAMED(cmdCancel) };
    if (auto* w = qobject_cast<frmPOP3User*>(&window))
        named = { NAMED(frmReceiveServer), NAMED(txtUserName), NAMED(txtPassword), NAMED(chkSaveToDisk), NAMED(txtFolder),
            NAMED(chkRunAtStartup), NAMED(chkDeleteIfRequested), NAMED(cmdApply), NAMED(cmdCancel) };
    if (auto* w = qobject_cast<frmMain*>(&window))
        named = { NAMED(txtConsole), NAMED(txtStatus) };
    if (auto* w = qobject_cast<frmSend*>(&window))
        named = { NAMED(txtFrom), NAMED(txtTo), NAMED(txtCC), NAMED(txtSubject), NAMED(txtMessage), NAMED(txtStatus) };
    if (auto* w = qobject_cast<frmFile*>(&window))
        named = { NAMED(txtHelp) };
#undef NAMED
    for (const auto& [control, name] : named)
        control->setObjectName(name);
}

void Do(QWidget& window, const frmMain& main, const QByteArray& line, QByteArray& seen)
{
    const QByteArray name = line.left(line.indexOf(line.contains('\t') ? '\t' : ' '));
    const QString rest = QString::fromUtf8(Unescaped(line.mid(name.size() + 1)));
    QWidget* control = name == "window" ? &window : window.findChild<QWidget*>(QString::fromUtf8(name));
    if (line == "tab")
        QTest::keyClick(window.focusWidget(), Qt::Key_Tab);
    if (line == "look" || line == "captions" || line == "tab")
        seen += line == "look" ? Shown(window)
            : line == "captions" ? Captions(window) : window.focusWidget()->objectName().toUtf8() + "\r\n";
    else if (name == "menu" || !control) {
        for (QAction* action : window.findChildren<QAction*>() + main.findChildren<QAction*>())
            if (name == "menu" && action->text() == rest && !action->menu())
                return action->trigger();
        ADD_FAILURE() << "no such menu item or control: " << line.toStdString();
    } else if (line.contains('\t'))
        control->setProperty(control->property("plainText").isValid() ? "plainText" : "text", rest);
    else if (rest == "click")
        QTest::mouseClick(control, Qt::LeftButton);
    else if (rest == "close")
        control->close();
    else
        QTest::keySequence(control, QKeySequence::fromString(rest));
}

void Play(const Scenario& scenario, const QByteArray& way)
{
    TestHome home;
    ::umask(022); // the modes of what the test lays out, as listed in "stored"
    App().localServer.POP3ServerPort = 0; // any free port, not 110
    for (const QByteArray& line : scenario.Lines("given")) {
        const QString path = QString::fromUtf8(line.left(line.indexOf('\t')));
        QDir(home.folder.path()).mkpath(QFileInfo(path).path());
        home.WriteAppFile(path, Unescaped(line.mid(line.indexOf('\t') + 1)));
    }
    if (!scenario.Setting("answer").isEmpty())
        home.dialogs.textAnswers.enqueue(home.AppPath(QString::fromUtf8(scenario.Setting("answer"))));
    QByteArrayList script = scenario.Lines("script");
    script.contains("way") ? script.replace(script.indexOf("way"), way) : script.append(way);
    qsizetype next = 0;
    QByteArray seen, outcome;
    frmMain main;
    ProtocolObjects objects;
    // The local server started or stopped, the compose window's send made.
    const auto settled = [&] {
        return App().localServer.POP3ServerState != "S" && App().localServer.POP3ServerState != "F"
            && !(objects.composeWindow && objects.composeWindow->tmrSend.isActive());
    };
    const auto play = [&](QDialog* modal) {
        while (next < script.size() && (!modal || modal->isVisible())) {
            frmSend* compose = objects.composeWindow.get();
            QWidget& window = modal ? *modal : compose && compose->isVisible() ? *compose : static_cast<QWidget&>(main);
            NameControls(window);
            if (const QByteArray line = script[next++]; line == "wait")
                EXPECT_TRUE(WaitFor(settled));
            else if (!line.isEmpty())
                Do(window, main, line, seen);
        }
    };
    home.dialogs.whileModal = [&](QDialog& shown) {
        outcome += App().lifecycle.UserFormOpen ? "; the account window" : "; a window";
        play(&shown);
        outcome += shown.isVisible() ? " stays open" : shown.result() == QDialog::Accepted ? " is set" : " is cancelled";
    };
    const bool runs = Main(main, objects) == StartUpOutcome::Running;
    main.retrieveMail = [&] { outcome += "; receives"; };
    if (frmSend* compose = objects.composeWindow.get())
        compose->send = [&outcome, compose](const auto&... fields) {
            outcome += "; sends " + QByteArrayList { fields... }.join('|')
                + (compose->txtMessage->isVisible() ? "" : " with the console shown");
        };
    play(nullptr);
    EXPECT_TRUE(WaitFor(settled));

    scenario.ExpectOutcome(App().consoles.mainConsole.boxText(), home.folder.path(), home.dialogs, App().consoles.mainConsole.statusColour());
    EXPECT_EQ(App().consoles.sendConsole.boxText(), scenario.Section("send console"));
    EXPECT_EQ(seen, scenario.Section("seen"));
    EXPECT_EQ(Stored(home), scenario.Section("stored"));
    EXPECT_EQ((runs ? "runs" : "ends") + QByteArray(main.Timer1.isActive() ? " with its clock" : "")
            + (App().localServer.POP3ServerState == "L" ? ", its local server listening" : "")
            + (objects.composeWindow && objects.composeWindow->isVisible() ? ", composing" : "") + outcome
            + (App().lifecycle.UserFormOpen ? "; the account window still taken for open" : ""),
        scenario.Setting("outcome"));
}

TEST(ProgramScenarios, GoAsWrittenDown)
{
    for (const QString& file : ScenarioFiles("windows/scenarios")) {
        const Scenario scenario("windows/scenarios/" + file);
        for (const QByteArray& way : scenario.Lines("ways").isEmpty() ? QByteArrayList { "" } : scenario.Lines("ways")) {
            SCOPED_TRACE((file + ": " + way).toStdString());
            Play(scenario, way);
        }
    }
}

// What the scenarios do not reach: the main window's closing during a wait, its boxes and its
// clock, the interval's rules, start-up's own failures and clock.

class MainWindowTest : public AppTest {
protected:
    MainWindowTest() { window.retrieveMail = [this] { ++retrievals; }; }
    frmMain window;
    int retrievals = 0;
};

TEST_F(MainWindowTest, ACloseDuringANestedWaitIsHeldUntilTheWaitEnds)
{
    window.show();
    WriteAppFile("console.txt", "spilled earlier\r\n");
    WriteMainNote("waiting");
    {
        NestedLoop waiting;
        window.mnuExit->trigger();
        EXPECT_TRUE(window.isVisible());
        EXPECT_EQ(dialogs.dismissed, 1);
        WriteMainNote("session ended");
    }
    ASSERT_TRUE(WaitFor([this] { return !window.isVisible(); }));
    EXPECT_EQ(ReadAppFile("console.txt"), "spilled earlier\r\n:waiting\r\n:session ended\r\n");
}

// The interval's rules (tests/fixtures/windows/retrieve-interval.txt), as typed in the Interval
// box; start-up reads the preference by the same rules.
TEST(RetrieveInterval, TheBoxSetsAndStoresItByItsRules)
{
    for (const QByteArrayList& row : FixtureRows("windows/retrieve-interval.txt")) {
        SCOPED_TRACE(row.join('|').toStdString());
        TestHome home;
        frmMain window;
        App().autoretrieve.RetrieveIntervalMs = 300000;
        App().autoretrieve.NextRetrieveTick = 4242;
        NoteNewMail();
        home.dialogs.textAnswers.enqueue(QString::fromUtf8(row[0]));
        if (row[2].isEmpty()) // the box closed because the program is closing: no answer of the user's
            home.dialogs.whileOpen = [](const ShownDialog&) { App().lifecycle.closing = true; };

        window.mnuSetRetrievalInterval->trigger();

        const ShownDialog box = home.dialogs.shown.value(0);
        EXPECT_EQ(box.title + '|' + box.text,
            "SET AUTORETRIEVE|Please enter interval in minutes.\r\nZero value will disable autoretrieve.");
        EXPECT_EQ(home.dialogs.Texts().mid(1).join('|'), QString::fromUtf8(row.value(4)));
        EXPECT_EQ(App().autoretrieve.RetrieveIntervalMs, row[1].toInt());
        EXPECT_EQ(App().autoretrieve.NextRetrieveTick, 4242);
        EXPECT_EQ(App().consoles.mainConsole.boxText(),
            row[2].isEmpty() ? "" : ":\"Since last attention counter\" is reset to 0.\r\n:" + row[2] + "\r\n");
        EXPECT_EQ(window.txtStatus->palette().color(QPalette::Base).name(), row[2].isEmpty() ? "#80ffff" : "#c0c0c0");
        EXPECT_EQ(App().autoretrieve.SinceLastAttentionCounter, row[2].isEmpty() ? 1 : 0);
        const QString stored = QString::fromUtf8(home.ReadAppFile("preferences.txt"));
        EXPECT_EQ(QRegularExpression("\r\nretrieve interval=([^\r]*)\r\n").match(stored).captured(1), row[3]);
    }
}

// The clock's ticks (tests/fixtures/windows/autoretrieve-clock.txt), one after another.
TEST_F(MainWindowTest, TheAutoretrieveClockFiresOnlyOnceTheDeadlineHasPassed)
{
    for (const QByteArrayList& row : FixtureRows("windows/autoretrieve-clock.txt")) {
        SCOPED_TRACE(row.join(' ').toStdString());
        clock.tickMs = row[1].toLongLong();
        App().autoretrieve.RetrieveIntervalMs = row[2].toInt();
        row[0] == "tick" ? window.Timer1Tick() : window.mnuReceiveMail->trigger();
        EXPECT_EQ(App().autoretrieve.NextRetrieveTick, row[3].toLongLong());
        EXPECT_EQ(retrievals, row[4].toInt());
    }
}

TEST_F(MainWindowTest, TheBoxesShowNewMailAndTheIconReceiving)
{
    const qint64 normalIcon = window.windowIcon().cacheKey();
    WriteMainNote("one");
    WriteMainNote("New mail\r\nsecond line");
    NoteNewMail();
    NoteNewMail();
    window.ShowReceivingIcon(true);
    window.consoleView().Refresh();

    EXPECT_EQ(window.txtStatus->text(), "New mail");
    EXPECT_EQ(beeps, 2);
    EXPECT_EQ(App().autoretrieve.SinceLastAttentionCounter, 2);
    // The caret at the start of the last line keeps the box scrolled to it.
    EXPECT_EQ(window.txtConsole->toPlainText(), ":one\n:New mail\nsecond line\n");
    EXPECT_EQ(window.txtConsole->textCursor().position(), 15);
    EXPECT_NE(window.windowIcon().cacheKey(), normalIcon);
    window.ShowReceivingIcon(false);
    EXPECT_EQ(window.windowIcon().cacheKey(), normalIcon);
}

TEST_F(MainWindowTest, AutoretrieveRunsTheRetrievalOneIntervalAfterStartUp)
{
    QTcpServer server; // turns every client away at once
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    QObject::connect(&server, &QTcpServer::newConnection,
        [&server] { server.nextPendingConnection()->write("-ERR not now\r\n"); });
    WriteAppFile("preferences.txt", "user=joe\r\nsave_password=Y\r\nretrieve interval=1\r\nserver=127.0.0.1:"
            + QByteArray::number(server.serverPort()) + "\r\n");
    ProtocolObjects objects;
    Main(window, objects);
    ASSERT_TRUE(WaitFor([] { return App().autoretrieve.NextRetrieveTick != 0; }));
    EXPECT_EQ(App().autoretrieve.NextRetrieveTick, clock.tickMs + 60000);

    clock.tickMs += 60001;
    EXPECT_TRUE(WaitFor([] { return App().consoles.mainConsole.boxText().contains("<-ERR not now\r\n"); }));
}

// With a console that cannot spill (console.txt is a folder), start-up reports the error and the
// window stays; the account window's menu reports its own error as every menu does.
TEST_F(MainWindowTest, ErrorsAtStartUpAndInTheUserMenuAreReportedAndTheWindowStays)
{
    App().consoles.mainConsole.setBoxText(QByteArray(10001, 'x'));
    QDir(folder.path()).mkpath("console.txt/blocked");
    ProtocolObjects objects;

    EXPECT_EQ(Main(window, objects), StartUpOutcome::Running);
    window.mnuUser->trigger();
    const QStringList shown = dialogs.Texts();
    ASSERT_EQ(shown.size(), 2);
    EXPECT_TRUE(shown[0].startsWith("EXCEPTION 21\r\n") && shown[0].endsWith("\r\nIn StartUp Main Module.")) << shown[0].toStdString();
    EXPECT_TRUE(shown[1].startsWith("EXCEPTION 21\r\n") && shown[1].endsWith("\r\nIn frmMain menu &User.")) << shown[1].toStdString();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.Timer1.isActive());
    EXPECT_FALSE(App().lifecycle.UserFormOpen);
}

// The user closes the program while a session waits (tests/fixtures/windows/closing): the close
// is held until the session has ended through its own path, then the consoles go to console.txt.
TEST(ProgramClosing, MidSessionLosesNothing)
{
    for (const auto run : { &SendAsWritten, &RetrieveAsWritten }) {
        std::optional<frmMain> window;
        const SessionActions actions { { "close-window",
                                           [&window] {
                                               window.emplace();
                                               window->closeComposeWindow = [] { SaveConsoleToLog(App().consoles.sendConsole); };
                                               window->show();
                                               QTimer::singleShot(0, &*window, &QWidget::close);
                                           } },
            { "after", [&window] { EXPECT_TRUE(WaitFor([&window] { return !window->isVisible(); })); } } };
        run(run == &SendAsWritten ? "windows/closing/mid-send.txt" : "windows/closing/mid-retrieval.txt", 0, actions);
    }
}

// The compose window's console pane is grey, and a window shown anew stands centred again.
TEST(ComposeWindow, ShownAnewItIsCentredAgainItsConsoleGrey)
{
    TestHome home;
    frmSend compose;
    compose.ShowWindow();
    const QPoint centred = compose.pos();
    compose.move(centred + QPoint(40, 30));
    compose.Unload();
    compose.ShowWindow();
    EXPECT_EQ(compose.pos(), centred);
    EXPECT_EQ(compose.txtConsole->palette().color(QPalette::Base), QColor(192, 192, 192));
}

TEST(Viewer, ViewTellsWhenTheInboxIsNoFolder)
{
    TestHome home;
    App().paths.InBoxPath = home.AppPath("InBox");
    ViewMail(nullptr);
    home.WriteAppFile("InBox", "");
    ViewMail(nullptr);
    const QStringList texts { "Mail folder\r\n%1\r\ndoes not exist.", "File \r\n%1\r\nis not a Mail Folder." };
    EXPECT_EQ(home.dialogs.Texts(), QStringList(texts).replaceInStrings("%1", App().paths.InBoxPath));
}

// New mail told to the desktop, on a private session bus (tests/fixtures/windows/desktop) that
// dbus-monitor watches; the test plays the notification service and answers with the id 7.
struct NotificationService : QDBusVirtualObject {
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& call, const QDBusConnection& bus) override { return bus.send(call.createReply(7u)); }
};

// Retrievals from a real POP3 server as the autoretrieve clock starts them, the n-th storing n
// messages while the window named is active; the first finds no service on the bus.
TEST_F(MainWindowTest, NewMailIsToldToTheDesktopWhenTheWindowIsNotActive)
{
    ChildProcess bus, monitor;
    bus.process.start(
        "dbus-daemon", { "--config-file=" WRENPOST_FIXTURES "/windows/desktop/session-bus.conf", "--print-address", "--nofork" });
    const QString address = bus.process.waitForReadyRead() ? bus.process.readLine().trimmed() : "";
    qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
    monitor.process.start("dbus-monitor", { "--address", address, "interface=org.freedesktop.Notifications" });
    ASSERT_TRUE(monitor.process.waitForReadyRead());
    Dovecot pop3;
    ASSERT_EQ(pop3.Start(), QString());
    WriteAppFile("preferences.txt", Fixture("journeys/retrieve-preferences.txt").replace("@SERVER@", pop3.ServerName()));
    ProtocolObjects objects;
    Main(window, objects);
    QWidget other;
    other.show();
    NotificationService service;
    QDBusConnection listener = QDBusConnection::connectToBus(address, "listener");
    QString seen;
    const auto monitored = [&](const char* text) { return WaitFor([&] { return (seen += monitor.process.readAll()).contains(text); }); };
    int n = 0;
    for (QWidget* active : { &other, &other, static_cast<QWidget*>(&window), &other }) {
        // The service comes once the bus has turned the first notification away.
        if (++n == 2)
            ASSERT_TRUE(monitored("member=Notify") && listener.registerVirtualObject("/org/freedesktop/Notifications", &service)
                && listener.registerService("org.freedesktop.Notifications"));
        active->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(active));
        for (int message = 0; message < n; ++message)
            pop3.Put(Fixture("peers/retrieve/dots.eml"));
        window.retrieveMail();
    }
    // The notification's action, with the desktop's token ahead of it, brings the main window
    // forward (on Wayland, Qt hands the token on) and counts as attention.
    ASSERT_TRUE(monitored("4 message(s)"));
    for (const auto& [signal, text] : { std::pair { "ActivationToken", "token-7" }, { "ActionInvoked", "default" } })
        listener.send(
            QDBusMessage::createSignal("/org/freedesktop/Notifications", "org.freedesktop.Notifications", signal) << 7u << QString(text));
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    EXPECT_EQ(qgetenv("XDG_ACTIVATION_TOKEN"), "token-7");
    EXPECT_EQ(App().autoretrieve.SinceLastAttentionCounter, 0);
    EXPECT_EQ(dialogs.Texts(), QStringList());
    EXPECT_TRUE(monitored("ActionInvoked"));
    // The icon's bytes are left out: they are Qt's drawing.
    EXPECT_EQ(seen.replace(pop3.ServerName(), "@SERVER@").replace(QRegularExpression("time=.* path="), "path=")
                  .replace(QRegularExpression("bytes \\[[^\\]]*\\]"), "bytes [...]"),
        Fixture("windows/desktop/notifications.txt"));
}

} // namespace

TEST(ProgressBar, ShowsTheLatestValueAtMostOnceAFrame)
{
    QProgressBar bar;
    ProgressBarView view(bar);
    view.Show();
    view.SetValue(10);
    view.SetValue(20);
    view.SetValue(30);
    EXPECT_EQ(bar.value(), 10);
    EXPECT_TRUE(WaitFor([&bar] { return bar.value() == 30; }, 1000));
    view.SetValue(40);
    view.Hide();
    EXPECT_EQ(bar.value(), 40);
}
