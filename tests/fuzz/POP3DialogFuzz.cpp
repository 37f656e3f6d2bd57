// libFuzzer target: the local POP3 server's dialog, played over the fake socket.
//
// Each input is a script. Its first byte chooses the setting of the run; every later byte
// starts one operation, some of which take their operands from the bytes after them:
//
//   byte 0      bits 0-1: POP3DeleteIfRequested "N", "Y", "" or "n" (all but "N" move deletes)
//               bit 2:    Deleted_Messages is missing (moves fail)
//               bit 3:    the mailbox folder is missing (the listing fails at login)
//   op % 13 =
//     0  Run                       server.Run()
//     1  Stop                      server.Stop()
//     2  Step                      one ProcessDialog, as the clock's tick makes it (not while stopped)
//     3  Events n                  (n % 8) + 1 rounds of the event loop
//     4  Settle                    the event loop until nothing is left to do
//     5  Connect id                the listener reports a connection request
//     6  Data len bytes...         the client sends len bytes (fewer when the input ends)
//     7  Line k                    the client sends command line k of CommandLines, with CR LF
//     8  Repeat plen pat... lo hi  the client sends the pattern (plen % 16 + 1 bytes) lo + 256 hi times
//     9  PeerClose                 the client closes its end
//    10  SocketError e             the session's socket fails with error e of SocketErrorNumbers
//    11  ListenError e             the listening socket fails the same way
//    12  Lines k n                 line k sent n % 32 + 1 times in one chunk (pipelining)
//
// Besides AddressSanitizer's and LeakSanitizer's findings, each input checks what must hold
// whatever the client does: the dialog state stays one the server knows; no dialog but "POP3
// server is already running." is shown (any other is an exception that escaped a step); a PASS
// line is never echoed with its password; the main console box keeps its bound; the heap, once
// every queued event has run, holds no more than a receive buffer's worth beyond where the input
// started (received bytes beyond the buffer's bound are dropped, not kept); a server asked to
// stop stops; and with POP3DeleteIfRequested "N" no message file leaves the mailbox.
//
// WRENPOST_FUZZ_TRACE=1 prints each decoded operation, for reading a finding.

#include "AppState.h"
#include "Dialogs.h"
#include "FakeClock.h"
#include "FakeSocket.h"
#include "POP3Server.h"
#include "SocketAdapter.h"
#include "modConsole.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sanitizer/allocator_interface.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The mailbox served to every input: dot lines, bare LFs, a lone CR, a text that already ends
// with the terminator, one without a line end, an empty file, one without a body, a name
// outside ASCII; a hidden file and a sub-folder that are no messages.
struct MessageFile {
    const char* name;
    QByteArray text;
};
const MessageFile MessageFiles[] = {
    { "01 first.txt", "From: a@example.org\r\nSubject: one\r\n\r\nHello\r\n.\r\n..two dots\r\n.\r\n" },
    { "02-second.eml", "Subject: two\n\n.leading dot\nbare LF body\n.\nlast line without end" },
    { "03 empty", "" },
    { "04-headers", "Subject: headers only\r\nX-Note: no empty line" },
    { "05-f\xc3\xbcnf.txt", "Subject: five\r\n\r\nline 1\rcr\r\n\n.\r\n..\r\n" },
};
const MessageFile HiddenFile = { ".hidden", "not a message\r\n" };

const char* const CommandLines[] = {
    "USER u", "PASS p", "STAT", "LIST", "LIST 1", "LIST 6", "RETR 1", "RETR 2", "RETR 3", "RETR 5",
    "RETR 0", "RETR", "DELE 1", "DELE 2", "DELE 0", "QUIT", "NOOP", "CAPA", "UIDL", "UIDL 5",
    "TOP 1 0", "TOP 2 1", "TOP 4 -1", "TOP 5", "AUTH", "USER x", "PASS x", "PASS", "PASS ",
    "LIST 2147483648", "RETR x", "TOP 1 99999999999", "user u", "pass p", "list -1", "DELE",
    "XTND", "",
};
constexpr int CommandLineCount = int(sizeof CommandLines / sizeof *CommandLines);

const int SocketErrorNumbers[] = {
    SocketErrors::ConnectionReset, SocketErrors::ConnectionAborted, SocketErrors::TimedOut,
    SocketErrors::AddressInUse, SocketErrors::PermissionDenied, SocketErrors::WrongState, 0, -1,
};
constexpr int SocketErrorCount = int(sizeof SocketErrorNumbers / sizeof *SocketErrorNumbers);

// Bytes one input may send in all, and event-loop rounds and steps it may run: enough to
// fill the receive buffer many times over and to play dozens of sessions, few enough that no
// input runs for long (once the console box is full, a step that writes a few console lines
// costs a few milliseconds in this build).
constexpr qint64 SendBudget = 16 * 1024 * 1024;
constexpr int RoundBudget = 3000;

// Heap the server may hold beyond where the input started once nothing is queued: its receive
// buffer, the console box, the listing, with room to spare; far less than SendBudget.
constexpr size_t HeapGrowthLimit = 2 * 1024 * 1024;
// The console box: about ConsoleBoxKeep characters (up to 4 bytes each) plus the latest write,
// which is at most one received line.
constexpr qsizetype ConsoleBoxLimit = 4 * ConsoleBoxKeep + POP3Server::RecvBufferLimit + 4096;

bool trace = false;

[[noreturn]] void Finding(const char* what, const QByteArray& detail = {})
{
    std::fprintf(stderr, "POP3DialogFuzz: %s", what);
    if (!detail.isEmpty())
        std::fprintf(stderr, ": %.*s", int(std::min<qsizetype>(detail.size(), 300)), detail.constData());
    std::fprintf(stderr, "\n");
    std::abort();
}

void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Trace(const char* format, ...)
{
    if (!trace)
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

// Answers the one message box the server may show; any other means a step raised.
class FuzzDialogs : public Dialogs {
public:
    MsgBoxResult MsgBox(const QString& text, int, const QString&) override
    {
        if (text == QStringLiteral("POP3 server is already running."))
            return MsgBoxResult::Ok;
        Finding("unexpected message box", text.toUtf8());
    }
    QString InputBox(const QString& prompt, const QString&, const QString&) override
    {
        Finding("unexpected input box", prompt.toUtf8());
    }
    QString OpenFile(const QString& title, const QString&, const QString&) override
    {
        Finding("unexpected open-file dialog", title.toUtf8());
    }
    void ShowModal(QDialog&) override { Finding("unexpected modal window"); }
    void DismissAll() override {}
};

struct Setup {
    QTemporaryDir folder;
    QString mailbox, deleted, missing;
    FuzzDialogs dialogs;
    FakeClock clock;
    QEventLoop* loop = nullptr;
};
Setup* setup = nullptr;

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        Finding("cannot write the mailbox", QFile::encodeName(path));
}

QString MessagePath(const MessageFile& message) { return setup->mailbox + '/' + QString::fromUtf8(message.name); }

// Puts back every message a QUIT moved away; with "N" none may have gone.
void RestoreMailbox(bool keepsMessages)
{
    for (const MessageFile& message : MessageFiles) {
        const QString path = MessagePath(message);
        if (QFileInfo::exists(path))
            continue;
        if (keepsMessages)
            Finding("a message left the mailbox although POP3DeleteIfRequested is \"N\"", message.name);
        WriteFile(path, message.text);
    }
}

// A PASS line the server received must reach the console as "PASS *******". The box ends with
// the latest write; a received line is one write of one line, so it is the box's last line.
void CheckLatestConsoleLine()
{
    const QByteArray& box = App().mainConsole.boxText();
    if (box.size() < 4 || !box.endsWith("\r\n"))
        return;
    const qsizetype previousEnd = box.lastIndexOf("\r\n", box.size() - 3);
    if (previousEnd < 0)
        return; // the box starts inside this write: its beginning has spilled
    const qsizetype start = previousEnd + 2;
    const QByteArrayView line(box.constData() + start, box.size() - 2 - start);
    static constexpr QByteArrayView Prefix("<POP3: ");
    if (!line.startsWith(Prefix))
        return;
    const QByteArrayView said = line.sliced(Prefix.size());
    if (said.size() > 5 && qstrnicmp(said.data(), "PASS", 4) == 0 && said != QByteArrayView("PASS *******"))
        Finding("a password reached the console", said.toByteArray());
}

void Initialize()
{
    // The plain Unix event dispatcher: nothing here needs GLib's, and it is the faster.
    qputenv("QT_NO_GLIB", "1");
    static int argc = 1;
    static char name[] = "fuzz_pop3_dialog";
    static char* argv[] = { name, nullptr };
    new QCoreApplication(argc, argv);
    trace = qEnvironmentVariableIntValue("WRENPOST_FUZZ_TRACE") != 0;

    setup = new Setup;
    if (!setup->folder.isValid())
        Finding("no temporary folder");
    // libFuzzer ends with exit(); the rest of the setup may as well outlive it.
    std::atexit([] { setup->folder.remove(); });
    const QString root = setup->folder.path();
    setup->mailbox = root + "/MailFolder/POP3MailBox";
    setup->deleted = root + "/MailFolder/Deleted_Messages";
    setup->missing = root + "/MailFolder/Missing";
    QDir().mkpath(setup->mailbox + "/sub");
    QDir().mkpath(setup->deleted);
    for (const MessageFile& message : MessageFiles)
        WriteFile(MessagePath(message), message.text);
    WriteFile(setup->mailbox + '/' + HiddenFile.name, HiddenFile.text);
    setup->loop = new QEventLoop;

    AppState& app = App();
    // The console spills into console.txt here, not beside the fuzzer.
    app.applicationFolder = root;
    app.MailFolderPath = root + "/MailFolder";
    app.POP3User = "u";
    app.POP3UserPassword = "p";
    app.dialogs = &setup->dialogs;
    app.clock = &setup->clock;
    app.beep = [] {};
    QObject::connect(&app.mainConsole, &Console::boxChanged, &CheckLatestConsoleLine);
}

class Script {
public:
    Script(const uint8_t* data, size_t size) : mData(data), mSize(size) {}
    bool AtEnd() const { return mAt >= mSize; }
    uint8_t Byte() { return AtEnd() ? 0 : mData[mAt++]; }
    QByteArray Take(size_t count)
    {
        count = std::min(count, mSize - mAt);
        const QByteArray bytes(reinterpret_cast<const char*>(mData + mAt), qsizetype(count));
        mAt += count;
        return bytes;
    }

private:
    const uint8_t* mData;
    size_t mSize;
    size_t mAt = 0;
};

QByteArray Printable(const QByteArray& bytes)
{
    QByteArray shown = bytes.left(100).toPercentEncoding(" <>.,;:\"'/+-=*!?()[]@#");
    if (bytes.size() > 100)
        shown += "...";
    return shown;
}

class Run {
public:
    explicit Run(uint8_t setting) : server(listener, transceiver)
    {
        static const char* const DeleteSettings[] = { "N", "Y", "", "n" };
        AppState& app = App();
        app.POP3DeleteIfRequested = DeleteSettings[setting & 3];
        app.POP3MailBoxPath = setting & 8 ? setup->missing : setup->mailbox;
        app.DeletedMessagesPath = setting & 4 ? setup->missing : setup->deleted;
        Trace("setting: POP3DeleteIfRequested \"%s\"%s%s", DeleteSettings[setting & 3],
            setting & 4 ? ", no Deleted_Messages" : "", setting & 8 ? ", no mailbox" : "");
        mHeapAtStart = __sanitizer_get_current_allocated_bytes();
    }

    void Play(Script& script)
    {
        while (!script.AtEnd()) {
            Operate(script);
            CheckInvariants();
        }
    }

    // Stops the server, which must then stop, and leaves App() as it found it.
    void Finish()
    {
        server.Stop();
        Settle(1000, false);
        if (!App().POP3ServerState.isEmpty())
            Finding("the server did not stop when asked", App().POP3ServerState);
    }

private:
    void Operate(Script& script)
    {
        const uint8_t op = script.Byte() % 13;
        switch (op) {
        case 0:
            Trace("Run");
            server.Run();
            break;
        case 1:
            Trace("Stop");
            server.Stop();
            break;
        case 2:
            Trace("Step");
            if (!App().POP3ServerState.isEmpty() && mRounds < RoundBudget) {
                ++mRounds;
                server.ProcessDialog();
            }
            break;
        case 3: {
            const int rounds = script.Byte() % 8 + 1;
            Trace("Events %d", rounds);
            for (int round = 0; round < rounds && mRounds < RoundBudget; ++round, ++mRounds)
                setup->loop->processEvents();
            break;
        }
        case 4:
            Trace("Settle");
            Settle(RoundBudget, true);
            break;
        case 5: {
            const uint8_t id = script.Byte();
            Trace("Connect %d", id);
            listener.requestConnection(id);
            break;
        }
        case 6: {
            const QByteArray bytes = script.Take(script.Byte());
            Trace("Data %lld \"%s\"", qint64(bytes.size()), Printable(bytes).constData());
            Send(bytes);
            break;
        }
        case 7: {
            const int k = script.Byte() % CommandLineCount;
            Trace("Line \"%s\"", CommandLines[k]);
            Send(QByteArray(CommandLines[k]) + "\r\n");
            break;
        }
        case 8: {
            const QByteArray pattern = script.Take(script.Byte() % 16 + 1);
            const int low = script.Byte();
            const int count = low + 256 * script.Byte();
            Trace("Repeat \"%s\" x %d", Printable(pattern).constData(), count);
            if (!pattern.isEmpty())
                Send(pattern.repeated(count));
            break;
        }
        case 9:
            Trace("PeerClose");
            transceiver.peerCloses();
            break;
        case 10: {
            const int number = SocketErrorNumbers[script.Byte() % SocketErrorCount];
            Trace("SocketError %d", number);
            transceiver.raiseError(number);
            break;
        }
        case 11: {
            const int number = SocketErrorNumbers[script.Byte() % SocketErrorCount];
            Trace("ListenError %d", number);
            listener.raiseError(number);
            break;
        }
        case 12: {
            const int k = script.Byte() % CommandLineCount;
            const int times = script.Byte() % 32 + 1;
            Trace("Lines \"%s\" x %d", CommandLines[k], times);
            Send((QByteArray(CommandLines[k]) + "\r\n").repeated(times));
            break;
        }
        }
        Drain();
    }

    // What the client reads is only traced; kept, it would grow without end.
    void Drain()
    {
        const QByteArray written = transceiver.takeWritten();
        if (trace && !written.isEmpty())
            Trace("  server: \"%s\"", Printable(written).constData());
    }

    void Send(const QByteArray& bytes)
    {
        if (bytes.isEmpty() || mSent + bytes.size() > SendBudget)
            return;
        mSent += bytes.size();
        transceiver.injectFromPeer(bytes);
    }

    // Runs the event loop until a round finds nothing to do (or the budget is spent). When it
    // ran dry, every byte sent has reached the server, so the heap shows what the server keeps.
    void Settle(int budget, bool counts)
    {
        int rounds = 0;
        bool quiet = false;
        while (!quiet && (counts ? mRounds : rounds) < budget) {
            // A round that handled something may have queued more; two idle rounds in a row end it.
            quiet = !setup->loop->processEvents() && !setup->loop->processEvents();
            ++rounds;
            if (counts)
                ++mRounds;
            Drain();
        }
        Trace("  settled after %d rounds%s, state \"%s\"", rounds, quiet ? "" : " (budget spent)",
            App().POP3ServerState.constData());
        if (quiet) {
            const size_t heap = __sanitizer_get_current_allocated_bytes();
            if (heap > mHeapAtStart + HeapGrowthLimit)
                Finding("the heap grew with what the client sent",
                    QByteArray::number(qulonglong(heap - mHeapAtStart)) + " bytes more than at the start");
        }
    }

    void CheckInvariants() const
    {
        static const QByteArray States[] = { "", "S", "2", "L", "R", "A", "P", "T", "U", "C", "E", "F" };
        const QByteArray& state = App().POP3ServerState;
        if (std::find(std::begin(States), std::end(States), state) == std::end(States))
            Finding("unknown dialog state", state);
        if (App().mainConsole.boxText().size() > ConsoleBoxLimit)
            Finding("the console box passed its bound", QByteArray::number(App().mainConsole.boxText().size()));
    }

    FakeSocket listener;
    FakeSocket transceiver;
    POP3Server server;
    size_t mHeapAtStart = 0;
    qint64 mSent = 0;
    int mRounds = 0;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return -1;
    Script script(data, size);
    const uint8_t setting = script.Byte();
    {
        Run run(setting);
        run.Play(script);
        run.Finish();
    }
    // Events left for the server and sockets died with them; the next input starts clean.
    AppState& app = App();
    app.POP3ServerState.clear();
    app.mainConsole.setBoxText({});
    app.mainConsole.setStatusText({});
    DeleteConsoleLog();
    RestoreMailbox(app.POP3DeleteIfRequested == "N");
    return 0;
}
