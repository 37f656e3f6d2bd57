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

#include "AppState.h"
#include "Dialogs.h"
#include "FakeClock.h"
#include "FakeSocket.h"
#include "POP3Server.h"
#include "modConsole.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>

#include <sanitizer/allocator_interface.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// The mailbox served to every input: dot lines, bare LFs, a lone CR, a text that already ends
// with the terminator, one without a line end, an empty file, one without a body, a name
// outside ASCII, one sent in several chunks; a hidden file and a sub-folder that are no messages.
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
    { "06-chunks.txt", "Subject: six\r\n\r\n" + QByteArray(".dot line\r\n").repeated(15000) },
    { ".hidden", "not a message\r\n" },
};

const QByteArray CommandLines[] = {
    "USER u", "PASS p", "STAT", "LIST", "LIST 1", "LIST 6", "RETR 1", "RETR 2", "RETR 3", "RETR 5",
    "RETR 0", "RETR", "DELE 1", "DELE 2", "DELE 0", "QUIT", "NOOP", "CAPA", "UIDL", "UIDL 5",
    "TOP 1 0", "TOP 2 1", "TOP 4 -1", "TOP 5", "AUTH", "USER x", "PASS x", "PASS", "PASS ",
    "LIST 2147483648", "RETR x", "TOP 1 99999999999", "user u", "pass p", "list -1", "DELE",
    "XTND", "", "RETR 6", "TOP 6 2",
};
const int SocketErrorNumbers[] = { 10054, 10053, 10060, 10048, 10013, 40006, 0, -1 };

// Bytes one input may send in all, and event-loop rounds and steps it may run: enough to
// fill the receive buffer many times over and to play dozens of sessions, few enough that no
// input runs for long (once the console box is full, a step that writes a few console lines
// costs a few milliseconds in this build).
constexpr qint64 SendBudget = 16 * 1024 * 1024;
constexpr int RoundBudget = 3000;
// Heap the server may hold beyond where the input started once nothing is queued: its receive
// buffer, the console box, the listing, with room to spare; far less than SendBudget.
constexpr size_t HeapGrowthLimit = 2 * 1024 * 1024;
// The console box: 10000 characters (up to 4 bytes each) plus the latest write, which is at
// most one received line of up to 64 KiB.
constexpr qsizetype ConsoleBoxLimit = 4 * 10000 + 64 * 1024 + 4096;

[[noreturn]] void Finding(const char* what, const QByteArray& detail = {})
{
    std::fprintf(stderr, "POP3DialogFuzz: %s: %.300s\n", what, detail.constData());
    std::abort();
}

// Answers the one message box the server may show; any other means a step raised.
class FuzzDialogs : public Dialogs {
public:
    MsgBoxResult MsgBox(const QString& text, int, const QString&) override
    {
        if (text != QStringLiteral("POP3 server is already running."))
            Finding("unexpected message box", text.toUtf8());
        return MsgBoxResult::Ok;
    }
    QString InputBox(const QString& prompt, const QString&, const QString&) override { Finding("input box", prompt.toUtf8()); }
    QString OpenFile(const QString& title, const QString&, const QString&) override { Finding("file dialog", title.toUtf8()); }
    void ShowModal(QDialog&) override { Finding("modal window"); }
    void DismissAll() override {}
};

struct Setup {
    QTemporaryDir folder;
    QString mailbox = folder.path() + "/MailFolder/POP3MailBox";
    QString deleted = folder.path() + "/MailFolder/Deleted_Messages";
    QString missing = folder.path() + "/MailFolder/Missing";
    FuzzDialogs dialogs;
    FakeClock clock;
    QEventLoop loop;
};
Setup* setup = nullptr;

// Puts back every message a QUIT moved away; with "N" none may have gone.
void RestoreMailbox(bool keepsMessages)
{
    for (const MessageFile& message : MessageFiles) {
        QFile file(setup->mailbox + '/' + QString::fromUtf8(message.name));
        if (file.exists())
            continue;
        if (keepsMessages)
            Finding("a message left the mailbox although POP3DeleteIfRequested is \"N\"", message.name);
        if (!file.open(QIODevice::WriteOnly) || file.write(message.text) != message.text.size())
            Finding("cannot write the mailbox", message.name);
    }
}

// A PASS line the server received must reach the console as "PASS *******". The box ends with
// the latest write; a received line is one write of one line, so it is the box's last line.
void CheckLatestConsoleLine()
{
    const QByteArray& box = App().consoles.mainConsole.boxText();
    const qsizetype previousEnd = box.lastIndexOf("\r\n", box.size() - 3);
    if (box.size() < 4 || !box.endsWith("\r\n") || previousEnd < 0)
        return; // no whole line yet, or the box starts inside this write: its beginning has spilled
    const QByteArray line = box.mid(previousEnd + 2).chopped(2);
    if (line.startsWith("<POP3: ") && line.size() > 12 && qstrnicmp(line.constData() + 7, "PASS", 4) == 0
        && line != "<POP3: PASS *******")
        Finding("a password reached the console", line);
}

void Initialize()
{
    // The plain Unix event dispatcher: nothing here needs GLib's, and it is the faster.
    qputenv("QT_NO_GLIB", "1");
    static int argc = 1;
    static char name[] = "fuzz_pop3_dialog";
    static char* argv[] = { name, nullptr };
    new QCoreApplication(argc, argv);
    setup = new Setup;
    // libFuzzer ends with exit(); the rest of the setup may as well outlive it.
    std::atexit([] { setup->folder.remove(); });
    QDir().mkpath(setup->mailbox + "/sub");
    QDir().mkpath(setup->deleted);
    RestoreMailbox(false);

    AppState& app = App();
    // The console spills into console.txt here, not beside the fuzzer.
    app.paths.applicationFolder = setup->folder.path();
    app.paths.MailFolderPath = setup->folder.path() + "/MailFolder";
    app.prefs.POP3User = "u";
    app.prefs.POP3UserPassword = "p";
    app.services.dialogs = &setup->dialogs;
    app.services.clock = &setup->clock;
    QObject::connect(&app.consoles.mainConsole, &Console::boxChanged, &CheckLatestConsoleLine);
}

class Run {
public:
    Run(const uint8_t* data, size_t size)
        : mData(data), mSize(size), server(listener, transceiver, App().consoles.mainConsole, App().services)
    {
        static const char* const DeleteSettings[] = { "N", "Y", "", "n" };
        const uint8_t setting = Byte();
        AppState& app = App();
        app.prefs.POP3DeleteIfRequested = DeleteSettings[setting & 3];
        app.paths.POP3MailBoxPath = setting & 8 ? setup->missing : setup->mailbox;
        app.paths.DeletedMessagesPath = setting & 4 ? setup->missing : setup->deleted;
        mHeapAtStart = __sanitizer_get_current_allocated_bytes();
    }

    void Play()
    {
        while (mAt < mSize) {
            Operate();
            transceiver.takeWritten(); // what the client reads would grow without end
            const QByteArray& state = App().localServer.POP3ServerState;
            if (state.size() > 1 || !QByteArray("S2LRAPTUCEF").contains(state))
                Finding("unknown dialog state", state);
            if (App().consoles.mainConsole.boxText().size() > ConsoleBoxLimit)
                Finding("the console box passed its bound", QByteArray::number(App().consoles.mainConsole.boxText().size()));
        }
        // Asked to stop, the server stops.
        server.Stop();
        Settle(1000, false);
        if (!App().localServer.POP3ServerState.isEmpty())
            Finding("the server did not stop when asked", App().localServer.POP3ServerState);
    }

private:
    uint8_t Byte() { return mAt < mSize ? mData[mAt++] : 0; }
    QByteArray Take(size_t count)
    {
        count = std::min(count, mSize - mAt);
        mAt += count;
        return QByteArray(reinterpret_cast<const char*>(mData + mAt - count), qsizetype(count));
    }

    void Operate()
    {
        switch (Byte() % 13) {
        case 0:
            return server.Run();
        case 1:
            return server.Stop();
        case 2: // one step, as the clock's tick makes it
            if (!App().localServer.POP3ServerState.isEmpty() && mRounds++ < RoundBudget)
                server.ProcessDialog();
            return;
        case 3:
            for (int rounds = Byte() % 8 + 1; rounds > 0 && mRounds < RoundBudget; --rounds, ++mRounds)
                setup->loop.processEvents();
            return;
        case 4:
            return Settle(RoundBudget, true);
        case 5:
            return listener.requestConnection(Byte());
        case 6:
            return Send(Take(Byte()));
        case 7:
            return Send(CommandLines[Byte() % std::size(CommandLines)] + "\r\n");
        case 8: {
            const QByteArray pattern = Take(Byte() % 16 + 1);
            const int low = Byte();
            return Send(pattern.repeated(low + 256 * Byte()));
        }
        case 9:
            return transceiver.peerCloses();
        case 10:
            return transceiver.raiseError(SocketErrorNumbers[Byte() % std::size(SocketErrorNumbers)]);
        case 11:
            return listener.raiseError(SocketErrorNumbers[Byte() % std::size(SocketErrorNumbers)]);
        case 12: {
            const QByteArray line = CommandLines[Byte() % std::size(CommandLines)] + "\r\n";
            return Send(line.repeated(Byte() % 32 + 1));
        }
        }
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
        bool quiet = false;
        for (int rounds = 0; !quiet && (counts ? mRounds : rounds) < budget; ++rounds, mRounds += counts) {
            // A round that handled something may have queued more; two idle rounds in a row end it.
            quiet = !setup->loop.processEvents() && !setup->loop.processEvents();
            transceiver.takeWritten();
        }
        if (quiet && __sanitizer_get_current_allocated_bytes() > mHeapAtStart + HeapGrowthLimit)
            Finding("the heap grew with what the client sent",
                QByteArray::number(qulonglong(__sanitizer_get_current_allocated_bytes() - mHeapAtStart)));
    }

    const uint8_t* mData;
    size_t mSize;
    size_t mAt = 0;
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
    Run(data, size).Play();
    // Events left for the server and sockets died with them; the next input starts clean.
    AppState& app = App();
    app.localServer.POP3ServerState.clear();
    app.consoles.mainConsole.setBoxText({});
    app.consoles.mainConsole.setStatusText({});
    DeleteConsoleLog();
    RestoreMailbox(app.prefs.POP3DeleteIfRequested == "N");
    return 0;
}
