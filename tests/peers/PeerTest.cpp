// The protocol engines over real sockets against real peer programs on 127.0.0.1, byte for byte
// against hand-written files in tests/fixtures. The fake clock fixes the Date line and the names
// of the files the engines store; its tick does not move, so their own time-outs never run out.
#include "Peers.h"

#include "AppState.h"
#include "Console.h"
#include "FakeProgress.h"
#include "MailRetriever.h"
#include "MailSender.h"
#include "POP3Server.h"
#include "QtSocket.h"
#include "Scenario.h"
#include "TestApp.h"

#include <QDir>
#include <QHostInfo>
#include <algorithm>

namespace {

QStringList FilesIn(const QString& folder) { return QDir(folder).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase); }

// The files of these folders (each with its name first, when `named`), in the order of their bytes.
QByteArrayList Files(const QStringList& folders, bool named)
{
    QByteArrayList files;
    for (const QString& folder : folders)
        for (const QString& name : FilesIn(folder))
            files << (named ? name.toUtf8() + '\n' : QByteArray()) + ReadFile(folder + '/' + name);
    std::sort(files.begin(), files.end());
    return files;
}

// Sends from alice@example.test through `server` into a mail folder of its own; the copies kept
// there.
QStringList Send(const QByteArray& server, const QString& folder, const QByteArray& to, const QByteArray& cc, const QByteArray& subject,
    const QByteArray& body)
{
    App().prefs.SendServer = server;
    App().paths.MailFolderPath = AppFilePath(folder);
    EXPECT_TRUE(QDir().mkpath(AppFilePath(folder + "/SentMessages")));
    FakeProgress progress;
    QtSocket socket;
    MailSender sender(socket, progress, App().consoles.sendConsole, App().services);
    sender.SendEmailMessage(QByteArray(), to, "alice@example.test", subject, body, cc, QByteArray());
    EXPECT_FALSE(sender.Busy());
    return FilesIn(AppFilePath(folder + "/SentMessages"));
}

// One whole retrieval by the user "wren" through a fresh socket into the folder InBox; the
// inbox's files afterwards.
QStringList Retrieve(const QByteArray& server, const QByteArray& password, const std::function<void()>& accountWindow = {})
{
    App().paths.InBoxPath = AppFilePath(QStringLiteral("InBox"));
    EXPECT_TRUE(QDir().mkpath(App().paths.InBoxPath));
    App().prefs.ReceiveUser = "wren";
    App().prefs.ReceivePassword = password;
    App().prefs.ReceiveServer = server;
    FakeProgress progress;
    QtSocket socket;
    MailRetriever retriever(socket, progress, App().consoles.mainConsole, App().services);
    retriever.showAccountWindow = accountWindow;
    retriever.RetrieveMail();
    EXPECT_FALSE(retriever.Busy());
    return FilesIn(App().paths.InBoxPath);
}

// A peer program shared by the tests of a suite.
template <typename Peer> class PeerSuite : public AppTest {
protected:
    static void SetUpTestSuite() { failure = (peer = std::make_unique<Peer>())->Start(); }
    static void TearDownTestSuite() { peer.reset(); }
    void SetUp() override
    {
        ASSERT_TRUE(failure.isEmpty()) << failure.toStdString();
        clock.now = QDateTime(QDate(2026, 3, 14), QTime(15, 9, 26));
    }

    // What spilled into console.txt and what the box still holds.
    QByteArray Console() const { return ReadAppFile(QStringLiteral("console.txt")) + App().consoles.mainConsole.boxText(); }

    static inline std::unique_ptr<Peer> peer;
    static inline QString failure;
};

// --- MailSender and aiosmtpd: each row of peers/sends.txt names the fixtures of its message.

using SmtpPeerTest = PeerSuite<SmtpCapture>;

TEST_F(SmtpPeerTest, EachMessageArrivesAsWrittenAndItsCopyIsKept)
{
    for (const QByteArrayList& row : FixtureRows(QStringLiteral("peers/sends.txt"))) {
        const QString name = QString::fromLatin1(row[0]);
        SCOPED_TRACE(row[0].toStdString());
        clock.utcOffsetSeconds = row[5].toInt();
        const int number = peer->Count() + 1;
        const QStringList copies = Send(peer->ServerName(), name, row[1], row[2], row[3], row[4]);
        ASSERT_EQ(peer->Count(), number);
        ASSERT_EQ(copies, QStringList { row[1] + "__260314_150926.txt" });
        const QByteArray copy = ReadFile(AppPath(name + "/SentMessages/" + copies[0]));
        EXPECT_EQ(
            peer->FolderFile(QStringLiteral("plain/%1.envelope").arg(number)), SentFixture("peers/" + name + ".envelope", copy, peer->port));
        EXPECT_EQ(peer->FolderFile(QStringLiteral("plain/%1.data").arg(number)), Fixture("peers/" + name + ".eml"));
        EXPECT_EQ(copy, SentFixture("peers/" + name + ".sent.txt", copy, peer->port));
        EXPECT_EQ(App().consoles.sendConsole.statusColour(), qRgb(0, 192, 0));
    }
    EXPECT_EQ(dialogs.Texts(), QStringList());
}

TEST_F(SmtpPeerTest, ABodyOfManyPiecesIsStuffedAcrossTheirEdges)
{
    // The body goes in pieces of 64 KiB. 1024 lines of 64 bytes, each beginning with a dot, end
    // the first piece at a line's end; in lines of 78 dots the second piece begins mid-line.
    const QByteArray line = "." + QByteArray(61, 'x') + "\r\n", dots = QByteArray(76, '.') + "\r\n";
    const int number = peer->Count() + 1;
    Send(peer->ServerName(), QStringLiteral("pieces"), "dave@example.test", {}, "Pieces", line.repeated(1024) + dots.repeated(1000));
    ASSERT_EQ(peer->Count(), number);
    const QByteArray data = peer->FolderFile(QStringLiteral("plain/%1.data").arg(number));
    const QByteArray stuffed = ("." + line).repeated(1024) + ("." + dots).repeated(1000);
    EXPECT_TRUE(data.endsWith("\r\n\r\n" + stuffed + "\r\n.\r\n")) << data.right(200).toStdString();
}

// --- MailRetriever and dovecot: each test leaves the mailbox empty. An inbox file is the lines
// as dovecot sends them, joined by CR LF, each line's stuffing dot removed, then "." CR LF.

class RetrievePeerTest : public PeerSuite<Dovecot> {
protected:
    // The inbox holds exactly these messages, numbered from 1, the server none; the password went
    // as often as given, masked on the console, and never in clear.
    void ExpectRetrieved(const QStringList& inbox, const QByteArrayList& messages, int passwords) const
    {
        ASSERT_EQ(inbox.size(), messages.size()) << Console().toStdString();
        for (int n = 1; n <= messages.size(); ++n) {
            EXPECT_EQ(inbox[n - 1], QStringLiteral("260314_150926__%1.txt").arg(n));
            EXPECT_EQ(ReadFile(App().paths.InBoxPath + '/' + inbox[n - 1]), messages[n - 1]) << n;
        }
        EXPECT_TRUE(WaitFor([] { return peer->Count() == 0; })) << peer->Count() << " messages left on the server";
        EXPECT_EQ(Console().count(">PASS *******\r\n"), passwords) << Console().toStdString();
        EXPECT_FALSE(Console().contains("Tr0ub4dor")) << Console().toStdString();
    }
};

QByteArray RetrieveFixture(const char* name) { return Fixture(QStringLiteral("peers/retrieve/") + name); }

TEST_F(RetrievePeerTest, StoresEachMessageUnstuffedAndEmptiesTheMailbox)
{
    for (const char* name : { "dots.eml", "empty-body.eml", "first-line-dot.eml" })
        ASSERT_TRUE(peer->Put(RetrieveFixture(name)));
    // 20 MB of numbered lines with LF line ends, as Maildir files have them, every 500th starting
    // with a dot, every 1000th with two. dovecot sends them with CR LF and the dots doubled.
    QByteArray large = "Subject: Twenty megabytes\n\n";
    large.reserve(21 * 1024 * 1024);
    for (int n = 1; large.size() < 20 * 1024 * 1024; ++n)
        large.append(n % 1000 == 0  ? ".."
                     : n % 500 == 0 ? "."
                                    : "")
            .append(QByteArray::number(n))
            .append(90, char('a' + n % 26))
            .append('\n');
    ASSERT_TRUE(peer->Put(large));
    // dovecot sends the very first line's dot as it is, so the retriever takes it for stuffing.
    ExpectRetrieved(Retrieve(peer->ServerName(), Dovecot::Password),
        { RetrieveFixture("dots.expected.txt"), RetrieveFixture("empty-body.expected.txt"), RetrieveFixture("first-line-dot.expected.txt"),
            large.replace("\n", "\r\n") + ".\r\n" },
        1);
    // The next session finds the mailbox empty.
    EXPECT_EQ(Retrieve(peer->ServerName(), Dovecot::Password).size(), 4);
    EXPECT_TRUE(Console().contains("\r\n<+OK 0 0\r\n:No mail has been found on a server.\r\n>QUIT\r\n")) << Console().toStdString();
    EXPECT_EQ(dialogs.Texts(), QStringList());
}

// Answered No, the question ends the session and leaves the mail on the server. Answered Yes, it
// opens the account window, where the user types the right password (blanks around it are not
// part of it), and the session logs in again.
TEST_F(RetrievePeerTest, RefusedPasswordNoKeepsTheMailYesWithTheRightOneTakesIt)
{
    ASSERT_TRUE(peer->Put(RetrieveFixture("dots.eml")) && peer->Put(RetrieveFixture("empty-body.eml")));
    dialogs.msgBoxAnswers << MsgBoxResult::No << MsgBoxResult::Yes;
    EXPECT_EQ(Retrieve(peer->ServerName(), "Tr0ub4dor-6y", [] { ADD_FAILURE() << "the account window opened on No"; }), QStringList());
    EXPECT_EQ(peer->Count(), 2);
    int accountWindows = 0;
    const QStringList inbox = Retrieve(peer->ServerName(), "Tr0ub4dor-6y", [&accountWindows] {
        ++accountWindows;
        App().prefs.ReceivePassword = " " + QByteArray(Dovecot::Password) + "\t ";
    });
    EXPECT_EQ(accountWindows, 1);
    EXPECT_EQ(dialogs.shown.size(), 2);
    ExpectRetrieved(inbox, { RetrieveFixture("dots.expected.txt"), RetrieveFixture("empty-body.expected.txt") }, 3);
}

// --- Both sessions over TLS, each row of peers/tls/sessions.txt one: through a relay that keeps
// what the client sent, to aiosmtpd in one of its modes or to dovecot, with the test authority
// in trusted-certificates.pem or not.

struct TlsPeers {
    QString Start()
    {
        QString failure = smtp.Start({ "plain", "starttls", "tls", "expired" }) + pop3.Start();
        for (const auto& [name, port] : smtp.ports.asKeyValueRange())
            failure += relays[name].Start(port);
        return failure + relays["pop3"].Start(pop3.port) + relays["pop3s"].Start(pop3.tlsPort);
    }

    SmtpCapture smtp;
    Dovecot pop3;
    // In front of each server, by its name in the table: the SMTP modes, pop3 and pop3s.
    std::map<QString, Relay> relays;
};

using TlsPeerTest = PeerSuite<TlsPeers>;

TEST_F(TlsPeerTest, SessionsGoAsTheTableSays)
{
    App().prefs.SendUser = "alice";
    clock.utcOffsetSeconds = 3600;
    for (const QByteArrayList& row : FixtureRows(QStringLiteral("peers/tls/sessions.txt"))) {
        SCOPED_TRACE(row[0].toStdString());
        dialogs.shown.clear();
        QFile::remove(AppPath("trusted-certificates.pem"));
        if (row[3] == "trusted")
            ASSERT_TRUE(QFile::copy(TestCertificates() + "/ca.pem", AppPath("trusted-certificates.pem")));
        const QString mode = QString::fromLatin1(row[2].mid(row[2].lastIndexOf(':') + 1));
        Relay& relay = peer->relays[mode];
        const QByteArray server = row[2].chopped(mode.size()) + QByteArray::number(relay.port);
        const bool sending = row[1] == "send";
        ::Console& console = sending ? App().consoles.sendConsole : App().consoles.mainConsole;
        console.setBoxText({});
        const int accepted = peer->smtp.Count(mode);
        const bool delivered = row[8] != "red";
        if (sending) {
            App().prefs.SendPassword = row[4];
            Send(server, QString::fromLatin1(row[0]), "bob@example.test", "carol@example.test", "Lunch on Friday", "Shall we meet at noon?\nAlice");
            ASSERT_EQ(peer->smtp.Count(mode), accepted + int(delivered));
            if (delivered) // the message itself is the same as over plain text
                EXPECT_EQ(peer->smtp.FolderFile(mode + QStringLiteral("/%1.envelope").arg(accepted + 1)),
                    SentFixture("peers/tls/" + row[0] + ".envelope", {}, 0));
        } else {
            ASSERT_TRUE(peer->pop3.Count() == 1 || peer->pop3.Put(RetrieveFixture("dots.eml")));
            QDir(AppPath("InBox")).removeRecursively();
            EXPECT_EQ(Retrieve(server, row[4]).size(), int(delivered));
            EXPECT_TRUE(WaitFor([&] { return peer->pop3.Count() == int(!delivered); }));
        }
        // A TLS record starts with 22 (a handshake); commands never hold that byte.
        const QByteArray wire = relay.Sent();
        EXPECT_EQ(wire.left(wire.contains('\x16') ? wire.indexOf('\x16') : wire.size()), QByteArray(row[5]).replace("@HOSTNAME@", QHostInfo::localHostName().toLatin1()));
        EXPECT_TRUE(console.boxText().contains(row[6])) << console.boxText().toStdString();
        EXPECT_FALSE(console.boxText().contains(row[4])) << "the password on the console";
        EXPECT_EQ(dialogs.Texts(), row[7].isEmpty() ? QStringList() : QStringList { QString::fromUtf8(row[7]) });
        EXPECT_EQ(ColourName(console.statusColour()), row[8]);
    }
}

// --- The local POP3 server and real clients, each row of pop3server-peers/clients.txt one: what
// the client wrote, and which files it left in the served folder. The others must have moved to
// Deleted_Messages unchanged.
//
// pop3_client.py PORT PASSWORD OUTDIR DELE-NUMBER...: user wren, pass_, stat, list, uidl, retr of
// every message, top 2 2, top 3 1, dele of the numbers given, quit. OUTDIR gets wire.bin, every
// byte the server sent, and the lines of each multi-line answer as poplib hands them over, each
// ended by CR LF: list.txt, uidl.txt, N.eml, top-N-K.txt.

class POP3ServerPeerTest : public AppTest {
protected:
    // Runs the server for the user wren until it listens.
    void SetUp() override
    {
        App().prefs.POP3User = "wren";
        App().prefs.POP3UserPassword = "Kestrel-42x";
        App().localServer.POP3ServerPort = FreeLoopbackPort();
        server.Run();
        ASSERT_TRUE(WaitFor([] { return App().localServer.POP3ServerState == "L"; }));
    }

    QtSocket listener;
    QtSocket transceiver;
    POP3Server server { listener, transceiver, App().consoles.mainConsole, App().services };
};

TEST_F(POP3ServerPeerTest, RealClientsGetEveryMessageExactly)
{
    const QString fixtures = QStringLiteral(WRENPOST_FIXTURES "/pop3server-peers/");
    App().prefs.POP3DeleteIfRequested = "Y";
    for (const QByteArrayList& row : FixtureRows(QStringLiteral("pop3server-peers/clients.txt"))) {
        SCOPED_TRACE(row[0].toStdString());
        const QString home = AppPath(QString::fromLatin1(row[0]));
        App().paths.POP3MailBoxPath = home + "/mailbox";
        App().paths.DeletedMessagesPath = home + "/deleted";
        ASSERT_TRUE(QDir().mkpath(App().paths.POP3MailBoxPath) && QDir().mkpath(App().paths.DeletedMessagesPath) && QDir().mkpath(home + "/out"));
        for (const QString& name : FilesIn(fixtures + "mailbox"))
            ASSERT_TRUE(QFile::copy(fixtures + "mailbox/" + name, App().paths.POP3MailBoxPath + '/' + name));
        const auto filledIn = [&](QByteArray text) {
            return QString::fromLatin1(text.replace("@PORT@", QByteArray::number(App().localServer.POP3ServerPort))
                                           .replace("@HOME@", QFile::encodeName(home))
                                           .replace("@PYTHON@", WRENPOST_PEER_PYTHON)
                                           .replace("@PEERS@", WRENPOST_PEERS_DIR));
        };
        QFile settings(home + "/settings");
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly) && settings.write(filledIn(row[3]).toLatin1()) >= 0);
        settings.close();
        settings.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        qputenv("HOME", QFile::encodeName(home));
        QProcess client;
        client.start(filledIn(row[1]), filledIn(row[2]).split(' '));
        // Once the client has ended, the server is ready for the next.
        ASSERT_TRUE(WaitFor([&client] { return client.state() == QProcess::NotRunning && App().localServer.POP3ServerState == "L"; }, 20000))
            << client.readAllStandardError().toStdString() << "\n--- the server's console:\n"
            << App().consoles.mainConsole.boxText().toStdString();
        EXPECT_EQ(client.exitCode(), 0) << client.readAllStandardError().toStdString();
        EXPECT_EQ(Files({ home + "/out" }, false), Files({ fixtures + row[5] }, false));
        EXPECT_EQ(FilesIn(App().paths.POP3MailBoxPath), QString::fromLatin1(row[4]).split(' ', Qt::SkipEmptyParts));
        // What the client deleted moved to Deleted_Messages, each file unchanged.
        EXPECT_EQ(Files({ App().paths.POP3MailBoxPath, App().paths.DeletedMessagesPath }, true), Files({ fixtures + "mailbox" }, true));
    }
    server.Stop();
    EXPECT_TRUE(WaitFor([] { return App().localServer.POP3ServerState.isEmpty(); }));
    EXPECT_EQ(dialogs.Texts(), QStringList());
    EXPECT_FALSE(App().consoles.mainConsole.boxText().contains("Kestrel-42x")) << App().consoles.mainConsole.boxText().toStdString();
}

// Megabytes, dot lines among them: many chunks, each handed to the socket as it drains.
TEST_F(POP3ServerPeerTest, AMessageOfManyChunksArrivesWhole)
{
    QByteArray text;
    for (int n = 0; text.size() < 5'000'000; ++n)
        text += (n % 2 ? "line " : ".dot ") + QByteArray::number(n).rightJustified(9, '0') + "\r\n";
    App().paths.POP3MailBoxPath = AppPath("mailbox");
    ASSERT_TRUE(QDir().mkpath(App().paths.POP3MailBoxPath));
    WriteAppFile("mailbox/large.txt", text);
    QProcess curl;
    curl.start("curl", { "--silent", "--show-error", "--user", "wren:Kestrel-42x", "-o", AppPath("out.eml"),
                           QStringLiteral("pop3://127.0.0.1:%1/1").arg(App().localServer.POP3ServerPort) });
    ASSERT_TRUE(WaitFor([&curl] { return curl.state() == QProcess::NotRunning; }, 60000));
    EXPECT_EQ(curl.exitCode(), 0) << curl.readAllStandardError().toStdString();
    EXPECT_TRUE(ReadAppFile("out.eml") == text) << "curl got " << ReadAppFile("out.eml").size() << " bytes";
}

} // namespace
