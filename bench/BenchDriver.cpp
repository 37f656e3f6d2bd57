// The benchmark driver that bench/run.sh starts. It drives the product's code the way the
// compose window and the main window do and prints what it measured as "key=value" lines on
// stdout, for the script to set beside the peer tools' figures.
//
//   wrenpost-bench body BYTES FILE        writes a message body of about BYTES (CR LF lines of
//                                         about 70 characters, some starting with ".")
//   wrenpost-bench send SERVER BODYFILE   one SendEmailMessage to SERVER ("127.0.0.1:PORT",
//                                         "smtps://localhost:PORT"); idle_rss_kb is the peak
//                                         resident set before the body is read, peak_rss_kb
//                                         the peak after the send
//   wrenpost-bench text BYTES REPEATS     CheckBodyLines and DotStuff on a body of BYTES
//   wrenpost-bench retrieve SERVER USER PASSWORD INBOX
//                                         one RetrieveMail from SERVER ("127.0.0.1:PORT",
//                                         "pop3s://localhost:PORT") into the folder INBOX
//   wrenpost-bench serve FOLDER USER PASSWORD PORT TICK_MS
//                                         runs the local POP3 server with FOLDER as the
//                                         application folder (the mailbox is
//                                         FOLDER/MailFolder/POP3MailBox) on PORT (0: a free one),
//                                         its clock ticking every TICK_MS (0: as built), until
//                                         stdin closes; prints "port=N" once it listens
//                                         and, at its end, the peak resident set when it
//                                         began to listen (idle_rss_kb) and the last one
//                                         (peak_rss_kb)
//
// Peak resident sets are the kernel's (getrusage), which counts whatever ran in the process
// before the driver's exec: start the driver from a small program (/usr/bin/time will do).
// A retrieval also prints since_main_at_call_ms and since_main_at_end_ms, the times from the
// start of main() to the call and to the end of the report, so that the start-up of the
// process can be told from the call.
//
// A send or a retrieval runs in an application folder of its own, without
// trusted-certificates.pem: over TLS it trusts the system's authorities, as for a mail provider.

#include "AppState.h"
#include "Clock.h"
#include "Console.h"
#include "ConsoleView.h"
#include "Dialogs.h"
#include "MailRetriever.h"
#include "MailSender.h"
#include "POP3Server.h"
#include "ProgressBarView.h"
#include "QtSocket.h"
#include "email_Encoding.h"
#include "modConsole.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// Answers every dialog at once, as a user pressing OK would, and prints its text.
class ConsoleDialogs : public Dialogs {
public:
    MsgBoxResult MsgBox(const QString& text, int, const QString&) override
    {
        Print("dialog", text);
        ++shown;
        return MsgBoxResult::Ok;
    }
    QString InputBox(const QString& prompt, const QString&, const QString&) override
    {
        Print("input_box", prompt);
        ++shown;
        return {};
    }
    QString OpenFile(const QString&, const QString&, const QString&) override { return {}; }
    // Closes the window at once, as a user would who closes it unread.
    void ShowModal(QDialog& window) override
    {
        Print("window", window.windowTitle());
        ++shown;
    }
    void DismissAll() override {}

    static void Print(const char* key, const QString& text)
    {
        std::printf("%s=%s\n", key, qPrintable(QString(text).replace(QLatin1String("\r\n"), QLatin1String(" | "))));
    }

    int shown = 0;
};

double CpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double MsSince(const QElapsedTimer& timer) { return static_cast<double>(timer.nsecsElapsed()) / 1e6; }

// The process's peak resident set so far, in KB.
long PeakRssKb()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Started first thing in main().
QElapsedTimer& SinceMain()
{
    static QElapsedTimer timer;
    return timer;
}

// The first line of what a console write added (the box's last line when it was trimmed).
QByteArray AddedLine(const QByteArray& box, qsizetype sizeBefore)
{
    qsizetype from = sizeBefore;
    if (from >= box.size()) {
        from = box.lastIndexOf("\r\n", box.size() - 3);
        from = from < 0 ? 0 : from + 2;
    }
    const qsizetype end = box.indexOf("\r\n", from);
    return box.mid(from, (end < 0 ? box.size() : end) - from).left(90);
}

// Lines of 60 to 76 characters; every 29th line starts with "." (every 87th is a lone ".").
QByteArray MakeBody(qsizetype bytes)
{
    static const QByteArray words("lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod tempor "
                                  "incididunt ut labore et dolore magna aliqua ut enim ad minim veniam quis ");
    QByteArray body;
    body.reserve(bytes + 100);
    for (qsizetype line = 0; body.size() < bytes; ++line) {
        if (line % 87 == 0) {
            body += ".\r\n";
            continue;
        }
        const qsizetype length = 60 + line % 17;
        const qsizetype from = (line * 7) % (words.size() - length);
        if (line % 29 == 0)
            body += '.';
        body.append(words.constData() + from, length - (line % 29 == 0 ? 1 : 0));
        body += "\r\n";
    }
    return body;
}

int WriteBody(qsizetype bytes, const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(MakeBody(bytes)) < 0) {
        std::fprintf(stderr, "wrenpost-bench: cannot write %s\n", qPrintable(path));
        return 1;
    }
    return 0;
}

int SendOnce(const QByteArray& server, const QString& bodyPath)
{
    QTemporaryDir folder;
    const QString sentFolder = folder.filePath(QStringLiteral("MailFolder/SentMessages"));
    QDir().mkpath(sentFolder);
    SystemClock clock;
    ConsoleDialogs dialogs;
    AppState& app = App();
    app.paths.applicationFolder = folder.path();
    app.paths.MailFolderPath = folder.filePath(QStringLiteral("MailFolder"));
    app.prefs.SendServer = server;
    app.services.dialogs = &dialogs;
    app.services.clock = &clock;
    app.services.beep = [] {};

    QtSocket socket;
    QProgressBar progressBar;
    ProgressBarView progress(progressBar);
    MailSender sender(socket, progress, app.consoles.sendConsole, app.services);
    // In the program the compose window is on screen before a send: showing the bar once here
    // keeps the one-time font set-up of the first widget shown out of the send's figures.
    progressBar.show();
    QCoreApplication::processEvents();
    progressBar.hide();

    // The program ready to send, before it holds the body.
    const long idleRss = PeakRssKb();
    QFile bodyFile(bodyPath);
    if (!bodyFile.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "wrenpost-bench: cannot read %s\n", qPrintable(bodyPath));
        return 1;
    }
    // In the program the body has just been made from the compose box's text: its buffer is
    // written by the processor before the file is read into it, as that one would be.
    QByteArray body(bodyFile.size(), '\0');
    if (bodyFile.read(body.data(), body.size()) != body.size()) {
        std::fprintf(stderr, "wrenpost-bench: cannot read %s\n", qPrintable(bodyPath));
        return 1;
    }

    // A timeline of the send: the time of every console write and the line it added.
    QElapsedTimer timer;
    std::vector<std::pair<double, QByteArray>> timeline;
    qsizetype boxSize = 0;
    QObject::connect(&app.consoles.sendConsole, &Console::boxChanged, [&] {
        timeline.emplace_back(MsSince(timer), AddedLine(app.consoles.sendConsole.boxText(), boxSize));
        boxSize = app.consoles.sendConsole.boxText().size();
    });

    const double cpuBefore = CpuSeconds();
    timer.start();
    sender.SendEmailMessage("Bench Recipient", "recipient@example.test", "sender@example.test", "Benchmark message",
        body, QByteArray(), QByteArray());
    const double sendMs = MsSince(timer);
    const double cpu = CpuSeconds() - cpuBefore;
    const long rssPeak = PeakRssKb();

    const qsizetype stored = QDir(sentFolder).entryList(QDir::Files).size();
    const bool sent = app.consoles.sendConsole.statusColour() == StatusColour::Green && stored == 1 && dialogs.shown == 0;
    std::printf("send_ms=%.3f\ncpu_s=%.4f\nidle_rss_kb=%ld\npeak_rss_kb=%ld\nreply_wait_ms=%d\nstored_copies=%lld\n"
                "console_txt_bytes=%lld\n",
        sendMs, cpu, idleRss, rssPeak, sender.replyWaitMs, static_cast<long long>(stored),
        static_cast<long long>(QFileInfo(folder.filePath(QStringLiteral("console.txt"))).size()));
    for (const auto& [ms, line] : timeline)
        std::printf("console=%9.1f ms  %s\n", ms, line.constData());
    ConsoleDialogs::Print("last_status", QString::fromLocal8Bit(app.consoles.sendConsole.statusText()));
    std::printf("result=%s\n", sent ? "sent" : "failed");
    ResetAppState();
    return 0;
}

int RetrieveOnce(const QByteArray& server, const QByteArray& user, const QByteArray& password, const QString& inbox)
{
    QTemporaryDir folder;
    SystemClock clock;
    ConsoleDialogs dialogs;
    int beeps = 0;
    AppState& app = App();
    app.paths.applicationFolder = folder.path();
    app.paths.MailFolderPath = folder.filePath(QStringLiteral("MailFolder"));
    app.paths.InBoxPath = inbox;
    app.prefs.ReceiveServer = server;
    app.prefs.ReceiveUser = user;
    app.prefs.ReceivePassword = password;
    app.services.dialogs = &dialogs;
    app.services.clock = &clock;
    app.services.beep = [&beeps] { ++beeps; };

    QtSocket socket;
    QProgressBar progressBar;
    ProgressBarView progress(progressBar);
    MailRetriever retriever(socket, progress, app.consoles.mainConsole, app.services);
    // The main window and its bar are on screen before a retrieval in the program.
    progressBar.show();
    QCoreApplication::processEvents();

    const long rssBefore = PeakRssKb();
    const double cpuBefore = CpuSeconds();
    const double sinceMainAtCall = MsSince(SinceMain());
    QElapsedTimer timer;
    timer.start();
    retriever.RetrieveMail();
    const double retrieveMs = MsSince(timer);
    const double cpu = CpuSeconds() - cpuBefore;
    const long rssPeak = PeakRssKb();

    qint64 files = 0, bytes = 0;
    for (QDirIterator it(inbox, QDir::Files | QDir::Hidden); it.hasNext();) {
        it.next();
        ++files;
        bytes += it.fileInfo().size();
    }
    const bool retrieved = app.consoles.mainConsole.statusColour() != StatusColour::Red && dialogs.shown == 0 && files == beeps;
    std::printf("retrieve_ms=%.3f\ncpu_s=%.4f\npeak_rss_kb=%ld\npeak_rss_before_call_kb=%ld\nbeeps=%d\nfiles=%lld\n"
                "file_bytes=%lld\nconsole_txt_bytes=%lld\n",
        retrieveMs, cpu, rssPeak, rssBefore, beeps, static_cast<long long>(files), static_cast<long long>(bytes),
        static_cast<long long>(QFileInfo(folder.filePath(QStringLiteral("console.txt"))).size()));
    ConsoleDialogs::Print("last_status", QString::fromLocal8Bit(app.consoles.mainConsole.statusText()));
    std::printf("result=%s\n", retrieved ? "retrieved" : "failed");
    if (!retrieved)
        std::printf("console=%s\n", app.consoles.mainConsole.boxText().right(2000).constData());
    ResetAppState();
    std::printf("since_main_at_call_ms=%.3f\nsince_main_at_end_ms=%.3f\n", sinceMainAtCall, MsSince(SinceMain()));
    return 0;
}

// The mail store of the program's start-up under the application folder, and the server's
// settings; false when a folder cannot be made.
bool SetUpServedStore(const QString& folder, const QByteArray& user, const QByteArray& password, quint16 port)
{
    AppState& app = App();
    app.paths.applicationFolder = folder;
    app.paths.MailFolderPath = JoinPath(folder, QStringLiteral("MailFolder"));
    app.paths.POP3MailBoxPath = JoinPath(app.paths.MailFolderPath, QStringLiteral("POP3MailBox"));
    app.paths.DeletedMessagesPath = JoinPath(app.paths.MailFolderPath, QStringLiteral("Deleted_Messages"));
    for (const QString& path : { app.paths.POP3MailBoxPath, app.paths.DeletedMessagesPath }) {
        if (!QDir().mkpath(path)) {
            std::fprintf(stderr, "wrenpost-bench: cannot create %s\n", qPrintable(path));
            return false;
        }
    }
    app.prefs.POP3User = user;
    app.prefs.POP3UserPassword = password;
    app.prefs.POP3DeleteIfRequested = "Y";
    app.localServer.POP3ServerPort = port;
    DeleteConsoleLog();
    return true;
}

// The server's client sessions as the driver sees them: each from the accepted connection to
// the step that prepares for the next client, with the processor time and the console writes
// it took.
class SessionLog {
public:
    explicit SessionLog(SocketAdapter& listener)
    {
        // Connected after the server's own handler, so the connection has been taken when it runs.
        QObject::connect(&listener, &SocketAdapter::ConnectionRequest, [this] {
            if (App().localServer.POP3ServerState != "R")
                return;
            mOpen = true;
            mWrites = 0;
            mCpuAtStart = CpuSeconds();
            mTimer.start();
        });
        QObject::connect(&App().consoles.mainConsole, &Console::boxChanged, [this] {
            if (!mOpen)
                return;
            ++mWrites;
            if (App().localServer.POP3ServerState == "2"
                && App().consoles.mainConsole.boxText().endsWith("Preparing Transceive Socket.\r\n")) {
                mSessions.push_back({ MsSince(mTimer), CpuSeconds() - mCpuAtStart, mWrites });
                mOpen = false;
            }
        });
    }

    void Print() const
    {
        std::printf("sessions=%zu\n", mSessions.size());
        for (const Session& session : mSessions)
            std::printf("session_ms=%.3f cpu_s=%.4f console_writes=%d\n", session.ms, session.cpu, session.writes);
    }

private:
    struct Session {
        double ms;
        double cpu;
        int writes;
    };
    std::vector<Session> mSessions;
    QElapsedTimer mTimer;
    double mCpuAtStart = 0;
    int mWrites = 0;
    bool mOpen = false;
};

// The local server as the program sets it up: the main console shown in its box and spilling
// into console.txt in the application folder, the server on two Qt sockets. Prints "port=N"
// once it listens; stops when stdin closes and ends once the server has stopped.
int Serve(const QString& folder, const QByteArray& user, const QByteArray& password, quint16 port, int tickMs)
{
    if (!SetUpServedStore(folder, user, password, port))
        return 1;
    SystemClock clock;
    ConsoleDialogs dialogs;
    AppState& app = App();
    app.services.dialogs = &dialogs;
    app.services.clock = &clock;
    app.services.beep = [] {};
    std::signal(SIGPIPE, SIG_IGN);

    QPlainTextEdit consoleBox;
    QLineEdit statusBox;
    ConsoleView view(app.consoles.mainConsole, consoleBox, statusBox);
    consoleBox.show();
    statusBox.show();

    QtSocket listener;
    QtSocket transceiver;
    POP3Server server(listener, transceiver, app.consoles.mainConsole, app.services);
    if (tickMs > 0)
        server.tmrPOP3.setInterval(tickMs);
    SessionLog sessions(listener);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QTimer watch;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char bytes[256];
        if (::read(STDIN_FILENO, bytes, sizeof bytes) > 0)
            return;
        input.setEnabled(false);
        watch.setInterval(1);
        server.Stop();
    });
    bool listening = false;
    long idleRss = 0;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const QByteArray& state = app.localServer.POP3ServerState;
        if (!listening && (state == "2" || state == "L")) {
            listening = true;
            idleRss = PeakRssKb();
            std::printf("port=%u\n", listener.LocalPort());
            std::fflush(stdout);
            watch.setInterval(100);
        }
        if (state.isEmpty())
            QCoreApplication::quit();
    });

    server.Run();
    watch.start(1);
    const double cpuBefore = CpuSeconds();
    QCoreApplication::exec();
    const double cpu = CpuSeconds() - cpuBefore;

    sessions.Print();
    std::printf("cpu_s=%.4f\nidle_rss_kb=%ld\npeak_rss_kb=%ld\nconsole_txt_bytes=%lld\n", cpu, idleRss, PeakRssKb(),
        static_cast<long long>(QFileInfo(ConsoleLogPath()).size()));
    ConsoleDialogs::Print("last_status", QString::fromLocal8Bit(app.consoles.mainConsole.statusText()));
    const bool served = listening && dialogs.shown == 0;
    std::printf("result=%s\n", served ? "stopped" : "failed");
    if (!served)
        std::printf("console=%s\n", app.consoles.mainConsole.boxText().right(2000).constData());
    ResetAppState();
    return 0;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int TimeText(qsizetype bytes, int repeats)
{
    const QByteArray body = MakeBody(bytes);
    std::vector<double> checkMs, stuffMs;
    qsizetype outBytes = 0;
    for (int run = 0; run < repeats; ++run) {
        QElapsedTimer timer;
        timer.start();
        const QString refusal = CheckBodyLines(body);
        checkMs.push_back(MsSince(timer));
        if (!refusal.isEmpty()) {
            std::fprintf(stderr, "wrenpost-bench: CheckBodyLines refused the body: %s\n", qPrintable(refusal));
            return 1;
        }
        // The body as it goes out: made and stuffed piece by piece, as a send does.
        timer.restart();
        const OutgoingBody outgoing({}, body);
        OutgoingBody::Reader reader(outgoing);
        outBytes = 0;
        bool afterLineFeed = true;
        for (QByteArrayView piece; reader.Next(piece); afterLineFeed = piece.endsWith('\n'))
            outBytes += DotStuff(piece, afterLineFeed).size();
        stuffMs.push_back(MsSince(timer));
    }
    std::printf("body_bytes=%lld\nstuffed_bytes=%lld\ncheck_ms=%.3f\nstuff_ms=%.3f\n", static_cast<long long>(body.size()),
        static_cast<long long>(outBytes), Median(checkMs), Median(stuffMs));
    return 0;
}

int Usage()
{
    std::fprintf(stderr, "usage: wrenpost-bench body BYTES FILE | send SERVER BODYFILE | text BYTES REPEATS\n"
                         "       wrenpost-bench retrieve SERVER USER PASSWORD INBOX\n"
                         "       wrenpost-bench serve FOLDER USER PASSWORD PORT TICK_MS\n");
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    SinceMain().start();
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const QStringList args = application.arguments();
    if (args.size() == 6 && args[1] == QLatin1String("retrieve"))
        return RetrieveOnce(args[2].toLatin1(), args[3].toLatin1(), args[4].toLatin1(), args[5]);
    if (args.size() == 7 && args[1] == QLatin1String("serve")) {
        bool portOk = false, tickOk = false;
        const uint port = args[5].toUInt(&portOk);
        const int tickMs = args[6].toInt(&tickOk);
        if (!portOk || port > 65535 || !tickOk || tickMs < 0)
            return Usage();
        return Serve(args[2], args[3].toLatin1(), args[4].toLatin1(), static_cast<quint16>(port), tickMs);
    }
    if (args.size() != 4)
        return Usage();
    const QString& mode = args[1];
    bool ok = false;
    if (mode == QLatin1String("body")) {
        const qsizetype bytes = args[2].toLongLong(&ok);
        return ok ? WriteBody(bytes, args[3]) : Usage();
    }
    if (mode == QLatin1String("send"))
        return SendOnce(args[2].toLatin1(), args[3]);
    if (mode == QLatin1String("text")) {
        const qsizetype bytes = args[2].toLongLong(&ok);
        const int repeats = args[3].toInt();
        return ok && repeats > 0 ? TimeText(bytes, repeats) : Usage();
    }
    return Usage();
}
