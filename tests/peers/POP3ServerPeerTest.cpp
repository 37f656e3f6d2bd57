// Real POP3 clients (Python's poplib, curl, mpop, fetchmail) against the program's own POP3
// server on a 127.0.0.1 port chosen at run time. The server runs in this process on this thread;
// each client runs as a child process while the test turns the event loop, so the server serves
// it. What the clients received is compared byte for byte with hand-written files in
// tests/fixtures/pop3server-peers:
//   mailbox/   the message files put into the served folder (bare LF line ends, lines that begin
//              with "." or "..", a line that is only ".", no final line end, a file that ends
//              with CR LF "." CR LF);
//   received/  each message as a client must see it once the dot-stuffing is undone;
//   poplib/, curl/  what those clients received besides the messages (answers, listings, the
//              whole byte stream poplib read).
// mpop and fetchmail are set up to deliver each message exactly as they received it, so their
// deliveries are compared with received/.
#include "PeerHarness.h"

#include "AppState.h"
#include "Console.h"
#include "POP3Server.h"
#include "QtSocket.h"
#include "TestApp.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace {

const QString ClientScript = QStringLiteral(WRENPOST_PEERS_DIR "/pop3_client.py");
const QString DeliverScript = QStringLiteral(WRENPOST_PEERS_DIR "/deliver_numbered.sh");
const QString PeerPython = QStringLiteral(WRENPOST_PEER_PYTHON);

const QByteArray User = "wren";
const QByteArray Password = "Kestrel-42x";
const QByteArray WrongPassword = "Kestrel-41y";

// The mailbox's files in the order the server lists them (by name, ignoring case).
const QStringList MessageNames { QStringLiteral("A-plain.txt"), QStringLiteral("b-dots.txt"),
    QStringLiteral("C-bare-lf.txt"), QStringLiteral("d-no-final-line-end.txt"), QStringLiteral("E-terminated.txt") };

// A client that has not finished by then is killed and the test fails.
constexpr int ClientLimitMs = 20000;
// How long the server may take to start listening, or to be ready for the next client.
constexpr int ServerWaitMs = 5000;

QByteArray PeerFixture(const QString& name) { return Fixture(QStringLiteral("pop3server-peers/") + name); }

QStringList FilesIn(const QString& folder) { return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name | QDir::IgnoreCase); }

// The message's Subject line, CR LF included ("" when it has none).
QByteArray SubjectLine(const QByteArray& message)
{
    const qsizetype start = message.indexOf("\r\nSubject: ");
    if (start < 0)
        return {};
    const qsizetype end = message.indexOf("\r\n", start + 2);
    return end < 0 ? QByteArray() : message.mid(start + 2, end - start);
}

// The files of a folder, each under the Subject line it carries (files with none are left out).
QMap<QByteArray, QByteArray> DeliveredBySubject(const QString& folder)
{
    QMap<QByteArray, QByteArray> delivered;
    for (const QString& name : FilesIn(folder)) {
        const QByteArray bytes = ReadFile(folder + QLatin1Char('/') + name);
        if (!SubjectLine(bytes).isEmpty())
            delivered.insert(SubjectLine(bytes), bytes);
    }
    return delivered;
}

struct ClientRun {
    bool finished = false;
    int exitCode = -1;
    QByteArray output;
    QByteArray errors;
};

class POP3ServerPeerTest : public AppTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(work.isValid());
        AppState& app = App();
        app.MailFolderPath = AppPath(QStringLiteral("MailFolder"));
        app.InBoxPath = AppPath(QStringLiteral("MailFolder/InBox"));
        app.POP3UserFolder = "POP3MailBox";
        app.POP3MailBoxPath = AppPath(QStringLiteral("MailFolder/POP3MailBox"));
        app.DeletedMessagesPath = AppPath(QStringLiteral("MailFolder/Deleted_Messages"));
        ASSERT_TRUE(QDir().mkpath(app.POP3MailBoxPath));
        ASSERT_TRUE(QDir().mkpath(app.DeletedMessagesPath));
        app.POP3User = User;
        app.POP3UserPassword = Password;
        app.POP3DeleteIfRequested = "Y";
        for (const QString& name : MessageNames)
            PutMessage(name);

        port = FreeLoopbackPort();
        ASSERT_NE(port, 0);
        app.POP3ServerPort = port;
        server = std::make_unique<POP3Server>(listener, transceiver);
        server->Run();
        ASSERT_TRUE(WaitFor([] { return App().POP3ServerState == "L"; }, ServerWaitMs)) << Console().toStdString();
    }

    void TearDown() override
    {
        if (server) {
            server->Stop();
            EXPECT_TRUE(WaitFor([] { return App().POP3ServerState.isEmpty(); }, ServerWaitMs)) << Console().toStdString();
        }
        EXPECT_TRUE(dialogs.shown.isEmpty()) << dialogs.Texts().join(QLatin1Char('\n')).toStdString();
    }

    void PutMessage(const QString& name)
    {
        QFile file(MailboxPath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(PeerFixture(QStringLiteral("mailbox/") + name));
    }

    // Runs a client to its end while this thread's event loop serves it, then waits until the
    // server is ready for the next client.
    ClientRun RunClient(const QString& program, const QStringList& arguments,
        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
    {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(work.path());
        process.start(program, arguments);
        ClientRun run;
        run.finished = WaitFor([&process] { return process.state() == QProcess::NotRunning; }, ClientLimitMs);
        if (!run.finished) {
            process.kill();
            process.waitForFinished(ServerWaitMs);
        }
        if (process.error() == QProcess::FailedToStart)
            run.errors = program.toLocal8Bit() + " did not start: " + process.errorString().toLocal8Bit();
        else if (process.exitStatus() == QProcess::NormalExit)
            run.exitCode = process.exitCode();
        run.output += process.readAllStandardOutput();
        run.errors += process.readAllStandardError();
        EXPECT_TRUE(run.finished) << program.toStdString() << " did not end within " << ClientLimitMs / 1000 << " s\n"
                                  << Report(run);
        EXPECT_TRUE(WaitFor([] { return App().POP3ServerState == "L"; }, ServerWaitMs))
            << "the server is not listening again after the client's session\n"
            << Report(run);
        return run;
    }

    // What the client and the server said, for a failure message.
    std::string Report(const ClientRun& run) const
    {
        return "--- client output:\n" + run.output.toStdString() + "\n--- client errors:\n" + run.errors.toStdString()
            + "\n--- server console:\n" + Console().toStdString();
    }

    // The whole main console: what spilled into console.txt and what the box still holds.
    QByteArray Console() const { return ReadAppFile(QStringLiteral("console.txt")) + App().mainConsole.boxText(); }

    QString MailboxPath(const QString& name) const { return App().POP3MailBoxPath + QLatin1Char('/') + name; }
    QString WorkPath(const QString& name) const { return work.filePath(name); }
    QByteArray WorkFile(const QString& name) const { return ReadFile(WorkPath(name)); }
    QString Url(const QString& path = QString()) const
    {
        return QStringLiteral("pop3://127.0.0.1:%1/%2").arg(port).arg(path);
    }

    // A private file the client reads its settings from: mode 0600, as mpop and fetchmail demand.
    void WriteSettings(const QString& name, const QByteArray& text) const
    {
        QFile file(WorkPath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        file.close();
        ASSERT_TRUE(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    }

    // Every message was retrieved and deleted: the served folder is empty and Deleted_Messages
    // holds each file unchanged.
    void ExpectAllMovedToDeleted()
    {
        EXPECT_EQ(FilesIn(App().POP3MailBoxPath), QStringList());
        EXPECT_EQ(FilesIn(App().DeletedMessagesPath), MessageNames);
        for (const QString& name : MessageNames)
            EXPECT_TRUE(SameBytes(PeerFixture(QStringLiteral("mailbox/") + name),
                ReadFile(App().DeletedMessagesPath + QLatin1Char('/') + name)))
                << name.toStdString();
    }

    // The console holds `line` (without its CR LF) as a whole line.
    void ExpectConsoleLine(const QByteArray& line) const
    {
        const QByteArray console = Console();
        EXPECT_TRUE(console.startsWith(line + "\r\n") || console.contains("\r\n" + line + "\r\n"))
            << "no console line \"" << line.toStdString() << "\" in:\n"
            << console.toStdString();
    }

    QTemporaryDir work;
    quint16 port = 0;
    QtSocket listener;
    QtSocket transceiver;
    std::unique_ptr<POP3Server> server;
};

// --- Python's poplib ------------------------------------------------------------------------

TEST_F(POP3ServerPeerTest, PoplibWholeSessionListsRetrievesAndDeletes)
{
    const ClientRun run = RunClient(PeerPython,
        { ClientScript, QString::number(port), QString::fromLatin1(User), QString::fromLatin1(Password), work.path(),
            QStringLiteral("session"), QStringLiteral("2"), QStringLiteral("4") });
    ASSERT_EQ(run.exitCode, 0) << Report(run);

    EXPECT_TRUE(SameBytes(PeerFixture(QStringLiteral("poplib/session-wire.bin")), WorkFile(QStringLiteral("wire.bin"))));
    EXPECT_TRUE(SameBytes(PeerFixture(QStringLiteral("poplib/session-responses.txt")), WorkFile(QStringLiteral("responses.txt"))));
    EXPECT_TRUE(SameBytes(PeerFixture(QStringLiteral("poplib/list.txt")), WorkFile(QStringLiteral("list.txt"))));
    EXPECT_TRUE(SameBytes(PeerFixture(QStringLiteral("poplib/uidl.txt")), WorkFile(QStringLiteral("uidl.txt"))));
    for (int n = 1; n <= MessageNames.size(); ++n) {
        const QString& name = MessageNames[n - 1];
        EXPECT_TRUE(SameBytes(PeerFixture(QStringLiteral("received/") + name), WorkFile(QStringLiteral("%1.eml").arg(n))))
            << "message " << n << ", " << name.toStdString();
    }
    EXPECT_TRUE(SameBytes(PeerFixture(QStringLiteral("poplib/top-2-2.txt")), WorkFile(QStringLiteral("top-2-2.txt"))));
    EXPECT_TRUE(SameBytes(PeerFixture(QStringLiteral("poplib/top-3-1.txt")), WorkFile(QStringLiteral("top-3-1.txt"))));

    // Messages 2 and 4 moved, unchanged; the others stayed.
    EXPECT_EQ(FilesIn(App().POP3MailBoxPath),
        (QStringList { QStringLiteral("A-plain.txt"), QStringLiteral("C-bare-lf.txt"), QStringLiteral("E-terminated.txt") }));
    EXPECT_EQ(FilesIn(App().DeletedMessagesPath),
        (QStringList { QStringLiteral("b-dots.txt"), QStringLiteral("d-no-final-line-end.txt") }));
    for (const QString& name : FilesIn(App().DeletedMessagesPath))
        EXPECT_TRUE(SameBytes(PeerFixture(QStringLiteral("mailbox/") + name),
            ReadFile(App().DeletedMessagesPath + QLatin1Char('/') + name)))
            << name.toStdString();

    // The main console traces the dialog with "POP3: " in front and never shows the password.
    ExpectConsoleLine("<POP3: USER wren");
    ExpectConsoleLine("<POP3: PASS *******");
    ExpectConsoleLine(">POP3: +OK Ready to deliver mail.");
    ExpectConsoleLine("<POP3: UIDL");
    ExpectConsoleLine("<POP3: RETR 5");
    ExpectConsoleLine(":POP3: Sending message 2: b-dots.txt");
    ExpectConsoleLine("<POP3: DELE 4");
    ExpectConsoleLine(">POP3: +OK message 4 marked for deletion.");
    ExpectConsoleLine(">POP3: +OK Have a Wrenpost. (3 messages left.)");
    EXPECT_FALSE(Console().contains(Password)) << Console().toStdString();
}

TEST_F(POP3ServerPeerTest, PoplibWrongPasswordThenTheRightOneOnTheSameConnection)
{
    const ClientRun run = RunClient(PeerPython,
        { ClientScript, QString::number(port), QString::fromLatin1(User), QString::fromLatin1(Password), work.path(),
            QStringLiteral("retry"), QString::fromLatin1(WrongPassword) });
    ASSERT_EQ(run.exitCode, 0) << Report(run);

    EXPECT_TRUE(SameBytes(PeerFixture(QStringLiteral("poplib/retry-wire.bin")), WorkFile(QStringLiteral("wire.bin"))));
    EXPECT_TRUE(SameBytes(PeerFixture(QStringLiteral("poplib/retry-responses.txt")), WorkFile(QStringLiteral("responses.txt"))));
    EXPECT_EQ(FilesIn(App().POP3MailBoxPath), MessageNames);
    EXPECT_EQ(FilesIn(App().DeletedMessagesPath), QStringList());
    ExpectConsoleLine(":POP3: incorrect password.");
    ExpectConsoleLine(">POP3: -ERR incorrect logon");
    ExpectConsoleLine(":POP3: password is correct");
    EXPECT_FALSE(Console().contains(Password) || Console().contains(WrongPassword)) << Console().toStdString();
}

// --- curl -----------------------------------------------------------------------------------

TEST_F(POP3ServerPeerTest, CurlListsTheMailbox)
{
    const ClientRun run = RunClient(QStringLiteral("curl"),
        { QStringLiteral("--silent"), QStringLiteral("--show-error"), QStringLiteral("--verbose"), QStringLiteral("--max-time"),
            QStringLiteral("15"), QStringLiteral("--user"), QString::fromLatin1(User + ':' + Password), Url() });
    ASSERT_EQ(run.exitCode, 0) << Report(run);
    EXPECT_TRUE(SameBytes(PeerFixture(QStringLiteral("curl/list.txt")), run.output)) << Report(run);
    ExpectConsoleLine("<POP3: CAPA");
    ExpectConsoleLine("<POP3: LIST");
    EXPECT_EQ(FilesIn(App().POP3MailBoxPath), MessageNames);
}

TEST_F(POP3ServerPeerTest, CurlRetrievesOneMessageByNumber)
{
    const ClientRun run = RunClient(QStringLiteral("curl"),
        { QStringLiteral("--silent"), QStringLiteral("--show-error"), QStringLiteral("--verbose"), QStringLiteral("--max-time"),
            QStringLiteral("15"), QStringLiteral("--user"), QString::fromLatin1(User + ':' + Password), Url(QStringLiteral("2")) });
    ASSERT_EQ(run.exitCode, 0) << Report(run);
    EXPECT_TRUE(SameBytes(PeerFixture(QStringLiteral("received/b-dots.txt")), run.output)) << Report(run);
    ExpectConsoleLine("<POP3: RETR 2");
    ExpectConsoleLine(":POP3: Sending message 2: b-dots.txt");
    EXPECT_EQ(FilesIn(App().POP3MailBoxPath), MessageNames);
}

TEST_F(POP3ServerPeerTest, CurlRetrievesEveryMessageOverOneConnection)
{
    QStringList arguments { QStringLiteral("--silent"), QStringLiteral("--show-error"), QStringLiteral("--verbose"),
        QStringLiteral("--max-time"), QStringLiteral("15"), QStringLiteral("--user"), QString::fromLatin1(User + ':' + Password) };
    for (int n = 1; n <= MessageNames.size(); ++n)
        arguments << Url(QString::number(n)) << QStringLiteral("--output") << WorkPath(QStringLiteral("%1.eml").arg(n));
    const ClientRun run = RunClient(QStringLiteral("curl"), arguments);
    ASSERT_EQ(run.exitCode, 0) << Report(run);
    for (int n = 1; n <= MessageNames.size(); ++n) {
        const QString& name = MessageNames[n - 1];
        EXPECT_TRUE(SameBytes(PeerFixture(QStringLiteral("received/") + name), WorkFile(QStringLiteral("%1.eml").arg(n))))
            << "message " << n << ", " << name.toStdString() << "\n" << Report(run);
    }
    // One login served all five.
    EXPECT_EQ(Console().count("<POP3: USER wren\r\n"), 1) << Console().toStdString();
    ExpectConsoleLine("<POP3: RETR 5");
    ExpectConsoleLine(">POP3: +OK Have a Wrenpost. (5 messages left.)");
}

// curl gives up after a refused password and closes without QUIT. Such a close leaves the
// server's session socket not closed, so the next client is turned away once (and that
// refusal closes it); the one after is served.
TEST_F(POP3ServerPeerTest, CurlGivingUpAfterAWrongPasswordCostsTheNextClientOneRefusal)
{
    const ClientRun curl = RunClient(QStringLiteral("curl"),
        { QStringLiteral("--silent"), QStringLiteral("--show-error"), QStringLiteral("--verbose"), QStringLiteral("--max-time"),
            QStringLiteral("15"), QStringLiteral("--user"), QString::fromLatin1(User + ':' + WrongPassword), Url() });
    // 67: the login was denied.
    EXPECT_EQ(curl.exitCode, 67) << Report(curl);
    EXPECT_EQ(curl.output, QByteArray()) << Report(curl);
    ExpectConsoleLine(">POP3: -ERR incorrect logon");
    ExpectConsoleLine(":POP3: Close event detectd in Retrieve socket.");

    const QStringList retry { ClientScript, QString::number(port), QString::fromLatin1(User), QString::fromLatin1(Password),
        work.path(), QStringLiteral("retry"), QString::fromLatin1(WrongPassword) };
    const ClientRun turnedAway = RunClient(PeerPython, retry);
    EXPECT_EQ(turnedAway.exitCode, 1) << Report(turnedAway);
    EXPECT_EQ(WorkFile(QStringLiteral("wire.bin")), QByteArray()) << "no greeting for the client turned away";
    ExpectConsoleLine(":POP3: Cannot accept new incoming connection while Tranceive Socket is still in not-closed state.");

    const ClientRun served = RunClient(PeerPython, retry);
    ASSERT_EQ(served.exitCode, 0) << Report(served);
    EXPECT_TRUE(SameBytes(PeerFixture(QStringLiteral("poplib/retry-wire.bin")), WorkFile(QStringLiteral("wire.bin"))));
    EXPECT_EQ(FilesIn(App().POP3MailBoxPath), MessageNames);
    EXPECT_EQ(FilesIn(App().DeletedMessagesPath), QStringList());
}

// --- mpop -----------------------------------------------------------------------------------
// mpop opens with CAPA, reads STAT, LIST and UIDL, then pipelines: all RETR commands in one go,
// then all DELE commands. Its mda, mbox and maildir deliveries turn CR LF into LF; its Exchange
// pickup delivery writes each message as received, one file per message under a name of its
// own, so that one is used, with received_header off to keep its Received line out.

TEST_F(POP3ServerPeerTest, MpopPipelinesRetrievesEveryMessageAndDeletesIt)
{
    ASSERT_TRUE(QDir().mkpath(WorkPath(QStringLiteral("delivered"))));
    WriteSettings(QStringLiteral("mpoprc"),
        "defaults\n"
        "account wren\n"
        "host 127.0.0.1\n"
        "port " + QByteArray::number(port) + "\n"
        "timeout 15\n"
        "tls off\n"
        "auth user\n"
        "user " + User + "\n"
        "password " + Password + "\n"
        "keep off\n"
        "only_new off\n"
        "received_header off\n"
        "uidls_file " + QFile::encodeName(WorkPath(QStringLiteral("uidls"))) + "\n"
        "delivery exchange " + QFile::encodeName(WorkPath(QStringLiteral("delivered"))) + "\n");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), work.path());
    const ClientRun run = RunClient(QStringLiteral("mpop"),
        { QStringLiteral("--debug"), QStringLiteral("-C"), WorkPath(QStringLiteral("mpoprc")), QStringLiteral("wren") }, environment);
    ASSERT_EQ(run.exitCode, 0) << Report(run);

    const QMap<QByteArray, QByteArray> delivered = DeliveredBySubject(WorkPath(QStringLiteral("delivered")));
    EXPECT_EQ(delivered.size(), MessageNames.size()) << Report(run);
    for (const QString& name : MessageNames) {
        const QByteArray expected = PeerFixture(QStringLiteral("received/") + name);
        EXPECT_TRUE(SameBytes(expected, delivered.value(SubjectLine(expected)))) << name.toStdString();
    }
    ExpectAllMovedToDeleted();
    ExpectConsoleLine("<POP3: CAPA");
    ExpectConsoleLine(">POP3: PIPELINING");
    ExpectConsoleLine("<POP3: UIDL");
    ExpectConsoleLine("<POP3: RETR 5");
    ExpectConsoleLine(":POP3: Sending message 5: E-terminated.txt");
    ExpectConsoleLine("<POP3: DELE 5");
    ExpectConsoleLine(">POP3: +OK Have a Wrenpost. (0 messages left.)");
}

// --- fetchmail ------------------------------------------------------------------------------
// fetchmail opens with CAPA, then STAT, and LIST n, RETR n, DELE n for each message. Handing a
// message to an MDA it normally strips the CRs and puts a Received line of its own on top (with
// the time and this machine's name); "no stripcr" and "set invisible" keep the message as
// received. sslproto '' keeps it from trying STLS.

TEST_F(POP3ServerPeerTest, FetchmailRetrievesEveryMessageAndDeletesIt)
{
    ASSERT_TRUE(QDir().mkpath(WorkPath(QStringLiteral("delivered"))));
    WriteSettings(QStringLiteral("fetchmailrc"),
        "set no syslog\n"
        "set no bouncemail\n"
        "set invisible\n"
        "poll 127.0.0.1 with protocol POP3 port " + QByteArray::number(port) + " timeout 15\n"
        "  user \"" + User + "\" there with password \"" + Password + "\"\n"
        "  options fetchall no keep no stripcr sslproto '' no sslcertck\n"
        "  mda \"/bin/sh " + QFile::encodeName(DeliverScript) + ' ' + QFile::encodeName(WorkPath(QStringLiteral("delivered"))) + "\"\n");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), work.path());
    environment.insert(QStringLiteral("FETCHMAILHOME"), work.path());
    const ClientRun run = RunClient(QStringLiteral("fetchmail"),
        { QStringLiteral("--verbose"), QStringLiteral("--nodetach"), QStringLiteral("--fetchmailrc"), WorkPath(QStringLiteral("fetchmailrc")),
            QStringLiteral("--idfile"), WorkPath(QStringLiteral("fetchids")) }, environment);
    ASSERT_EQ(run.exitCode, 0) << Report(run);

    // The delivery script numbers the files in the order fetchmail handed the messages over.
    EXPECT_EQ(FilesIn(WorkPath(QStringLiteral("delivered"))).size(), MessageNames.size()) << Report(run);
    for (int n = 1; n <= MessageNames.size(); ++n) {
        const QString& name = MessageNames[n - 1];
        EXPECT_TRUE(SameBytes(PeerFixture(QStringLiteral("received/") + name), WorkFile(QStringLiteral("delivered/%1.eml").arg(n))))
            << "message " << n << ", " << name.toStdString();
    }
    ExpectAllMovedToDeleted();
    ExpectConsoleLine("<POP3: LIST 3");
    ExpectConsoleLine(">POP3: +OK 3 90");
    ExpectConsoleLine(">POP3: +OK Have a Wrenpost. (0 messages left.)");
}

} // namespace
