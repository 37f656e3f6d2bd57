// Journeys through the real program as a person takes them: the test tree's executable, copied
// into a folder of its own, on a private X display, driven by X key events (xdotool), with real
// servers. Keys go with --window to a window that does not have X focus: with focus, a window
// opened between the press and the release of Ctrl+Space would leave Ctrl held. Menu access
// keys need a window manager; only the journey that opens a menu runs one.
#include "Peers.h"
#include "TestApp.h"

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>

namespace {

// What xdotool printed.
QString Xdo(const QStringList& arguments)
{
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"), arguments);
    xdotool.waitForFinished();
    return QString::fromLatin1(xdotool.readAllStandardOutput().trimmed());
}

// The id of the shown window with this title, once there is one ("" if none comes).
QString Window(const QString& title)
{
    QString id;
    WaitFor([&] { return !(id = Xdo({ "search", "--onlyvisible", "--name", '^' + title + '$' }).section('\n', 0, 0)).isEmpty(); }, 20000);
    EXPECT_FALSE(id.isEmpty()) << "no window " << title.toStdString();
    return id;
}

// Presses Esc in the window with this title (the active one, where a window manager runs), and
// waits for the window to go.
void Close(const QString& title, bool active = false)
{
    Xdo(active ? QStringList { "key", "Escape" } : QStringList { "key", "--window", Window(title), "Escape" });
    EXPECT_TRUE(WaitFor([&] { return Xdo({ "search", "--onlyvisible", "--name", '^' + title + '$' }).isEmpty(); })) << title.toStdString();
}

class Journey : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        qputenv("QT_QPA_PLATFORM", "xcb");
        // The suppressions cover a leak inside libdbus under X only: the program's own still fail it.
        qputenv("LSAN_OPTIONS", "suppressions=" WRENPOST_LSAN_SUPPRESSIONS ":print_suppressions=0");
    }

    // Each journey has a display of its own, so that none finds the keyboard or the windows
    // another left. Xvfb takes the number asked for, or ends at once when another X server holds
    // it; it writes the number once it takes clients. -noreset: by default it starts over whenever
    // its last client leaves (an xdotool call, say), and a program connecting meanwhile finds no
    // display.
    void SetUp() override
    {
        qunsetenv("DISPLAY");
        for (int n = 100 + int(QCoreApplication::applicationPid() % 800); !qgetenv("DISPLAY").startsWith(':') && n < 1000; n += 7) {
            display = std::make_unique<ChildProcess>();
            display->process.start(
                QStringLiteral("Xvfb"), { ':' + QString::number(n), "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset" });
            if (WaitFor([this] { return display->process.canReadLine() || display->process.state() == QProcess::NotRunning; }, 20000)
                && display->process.canReadLine())
                qputenv("DISPLAY", ':' + display->process.readLine().trimmed());
        }
        ASSERT_TRUE(qgetenv("DISPLAY").startsWith(':')) << "Xvfb did not start";
        ASSERT_TRUE(QFile::copy(QStringLiteral(WRENPOST_EXECUTABLE), Path("wrenpost")));
    }

    QString Path(const QString& name) const { return program.folder.filePath(name); }

    // preferences.txt from a fixture, its @SERVER@ filled in.
    void WritePreferences(const QString& fixture, const QByteArray& server) const
    {
        ASSERT_TRUE(WriteFile(Path(QStringLiteral("preferences.txt")), Fixture(fixture).replace("@SERVER@", server)));
    }

    void Start() { program.process.start(Path(QStringLiteral("wrenpost")), {}); }

    // The program ends with exit status 0: a crash, a sanitizer's finding (leaks included) or a
    // program that does not end fails the journey, with what it wrote to its standard error.
    void ExpectEndedWell()
    {
        const bool ended = program.process.waitForFinished(20000) && program.process.exitStatus() == QProcess::NormalExit;
        EXPECT_TRUE(ended && program.process.exitCode() == 0) << program.process.readAllStandardError().toStdString();
    }

    // `text` with the time it carries (the first group of `pattern`: a Date line's value, or
    // YYMMDD_HHMMSS in a file's name) as @TIME@, once that time is found to lie within this journey.
    QByteArray TimeMarked(QByteArray text, const QString& pattern) const
    {
        const QString time = QRegularExpression(pattern).match(QString::fromLatin1(text)).captured(1);
        QDateTime when = QDateTime::fromString(time, Qt::RFC2822Date);
        if (!when.isValid())
            when = QDateTime::fromString("20" + time, QStringLiteral("yyyyMMdd_HHmmss"));
        EXPECT_TRUE(when >= begun.addSecs(-1) && when <= QDateTime::currentDateTime()) << text.toStdString();
        return time.isEmpty() ? text : text.replace(time.toLatin1(), "@TIME@");
    }

    std::unique_ptr<ChildProcess> display;
    ChildProcess program;
    const QDateTime begun = QDateTime::currentDateTime();
};

const QString DateLine = QStringLiteral("\r\nDate: ([^\r]+)\r\n");
const QString NameStamp = QStringLiteral("(\\d{6}_\\d{6})");

TEST_F(Journey, FirstStartAsksForTheAccountAndTheNextStartNotesIt)
{
    Start();
    // User name, password, "save to disk", server; send user, password (not saved), send server.
    Xdo({ "type", "--window", Window("SET USRER DATA"),
        "wren\tKestrel-42x\t \tpop.example.test:1100\talice\tWren-Pass-1\t\tsmtp.example.test:2525\r" });
    Close("Wrenpost");
    ExpectEndedWell();
    EXPECT_EQ(ReadFile(Path("preferences.txt")), Fixture("journeys/first-start-preferences.txt"));
    EXPECT_EQ(ReadFile(Path("console.txt")), Fixture("journeys/first-start-console.txt"));
    Start();
    Close("Wrenpost");
    ExpectEndedWell();
    EXPECT_EQ(ReadFile(Path("console.txt")), Fixture("journeys/next-start-console.txt"));
}

TEST_F(Journey, ComposeAndSendWithCtrlSpace)
{
    SmtpCapture server;
    ASSERT_EQ(server.Start(), QString());
    WritePreferences("journeys/send-preferences.txt", server.ServerName());
    Start();
    Xdo({ "key", "--window", Window("Wrenpost"), "ctrl+space" });
    // From, To, CC, Subject, then the body's lines, two of them starting with dots.
    const QString compose = Window("Prepare and Send Message");
    Xdo({ "type", "--window", compose,
        "alice@example.test\tbob@example.test\tcarol@example.test\tLunch on Friday\tShall we meet at noon?\r.\r..x\rAlice" });
    Xdo({ "key", "--window", compose, "ctrl+space" });
    QStringList sent;
    EXPECT_TRUE(WaitFor([&] { return !(sent = QDir(Path("MailFolder/SentMessages")).entryList(QDir::Files)).isEmpty(); }));
    Close("Prepare and Send Message");
    Close("Wrenpost");
    ExpectEndedWell();
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(TimeMarked(sent[0].toLatin1(), NameStamp), "bob@example.test__@TIME@.txt");
    const QByteArray copy = ReadFile(Path("MailFolder/SentMessages/" + sent[0]));
    EXPECT_EQ(server.Count(), 1);
    EXPECT_EQ(server.FolderFile("plain/1.envelope"), SentFixture("journeys/send.envelope", copy, server.port));
    EXPECT_EQ(TimeMarked(server.FolderFile("plain/1.data"), DateLine), Fixture("journeys/send.eml"));
    EXPECT_EQ(TimeMarked(copy, DateLine), SentFixture("journeys/send.sent.txt", copy, server.port));
}

TEST_F(Journey, ShiftSpaceRetrievesAndViewShowsAMessage)
{
    Dovecot server;
    ASSERT_EQ(server.Start(), QString());
    const QStringList messages { "dots", "empty-body", "first-line-dot" };
    for (const QString& name : messages)
        ASSERT_TRUE(server.Put(Fixture("peers/retrieve/" + name + ".eml")));
    WritePreferences("journeys/retrieve-preferences.txt", server.ServerName());
    ChildProcess windowManager;
    windowManager.process.start(QStringLiteral("openbox"), {});
    Start();
    // With a window manager, keys go to the active window, as a person types them.
    const QString main = Window("Wrenpost");
    EXPECT_TRUE(WaitFor([&main] { return Xdo({ "windowactivate", "--sync", main, "getactivewindow" }) == main; }));
    Xdo({ "key", "shift+space" });
    QStringList inbox;
    EXPECT_TRUE(
        WaitFor([&] { return (inbox = QDir(Path("MailFolder/InBox")).entryList(QDir::Files)).size() == 3 && server.Count() == 0; }));
    ASSERT_EQ(inbox.size(), 3);
    for (int n = 1; n <= 3; ++n) {
        EXPECT_EQ(TimeMarked(inbox[n - 1].toLatin1(), NameStamp), QStringLiteral("@TIME@__%1.txt").arg(n).toLatin1());
        EXPECT_EQ(ReadFile(Path("MailFolder/InBox/" + inbox[n - 1])), Fixture("peers/retrieve/" + messages[n - 1] + ".expected.txt"));
    }
    Xdo({ "key", "alt+v" });
    Window("Select mail or right click, to manage folders and mail.");
    Xdo({ "type", inbox[1] + '\r' });
    // The viewer's title is the file's name.
    Window(inbox[1]);
    Close(inbox[1], true);
    Close("Wrenpost", true);
    ExpectEndedWell();
}


// A fresh account installs the program (the test tree's executable in place of a Release build),
// starts it from its menu entry and uninstalls it: its home keeps the mail and the preferences,
// and the account is told where. Each command runs in a shell in the account's home.
TEST_F(Journey, InstalledItStartsFromTheMenuAndUninstalledItLeavesTheMail)
{
    const auto shell = [this](const QString& command) {
        QProcess sh;
        sh.start("sh", { "-c", "export HOME=\"$0\" && unset XDG_DATA_HOME && cd && " + command, program.folder.path() });
        EXPECT_TRUE(sh.waitForFinished(60000) && sh.exitCode() == 0) << command.toStdString() << sh.readAllStandardError().toStdString();
        return sh.readAllStandardOutput().replace(QFile::encodeName(program.folder.path()), "@HOME@");
    };
    const QString install = "bash '" WRENPOST_SOURCE_DIR "/scripts/install.sh' ", listing = " && find .local/share | LC_ALL=C sort";
    EXPECT_EQ(shell(install + "--from '" WRENPOST_EXECUTABLE "'" + listing), Fixture("journeys/installed.txt"));
    shell("desktop-file-validate .local/share/applications/wrenpost.desktop && appstreamcli validate --no-net .local/share/metainfo/*");
    WriteFile(Path(".local/share/wrenpost/preferences.txt"), Fixture("journeys/retrieve-preferences.txt"));
    shell("gtk-launch wrenpost");
    Close("Wrenpost");
    EXPECT_EQ(shell(install + "--uninstall" + listing), Fixture("journeys/uninstalled.txt"));
}

} // namespace
