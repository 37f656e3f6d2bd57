// Messages sent through MailSender and a real socket to a real SMTP server (smtp_capture.py, on
// aiosmtpd) on 127.0.0.1: what the server received and the copy kept in SentMessages are
// compared byte for byte with hand-written files in tests/fixtures/peers: NAME.envelope holds the
// command lines up to DATA, NAME.eml the content as it crossed the wire (dot-stuffed, with its
// terminating line), NAME.sent.txt the copy in SentMessages (send record, then the message).
//
// The fake clock fixes the Date line and the stored file's name; its tick does not move, so the
// sender's waits never time out: the server stays up until each send has ended, and a dialog that
// hangs is ended by ctest's time-out.
//
// Three values in those files depend on the machine and the run, and only they are filled in:
//   @HOSTNAME@  this machine's host name, the argument of HELO (in *.envelope and *.sent.txt);
//   @LOCALIP@   the "Local IP" of the send record, which must be an address of this machine;
//   @PORT@      the port the server was started on, in the record's "Remote Port".
#include "PeerHarness.h"

#include "AppState.h"
#include "Console.h"
#include "MailSender.h"
#include "QtSocket.h"
#include "TestApp.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString CaptureScript = QStringLiteral(WRENPOST_PEERS_DIR "/smtp_capture.py");
const QString PeerPython = QStringLiteral(WRENPOST_PEER_PYTHON);

struct Message {
    QByteArray toAddress;
    QByteArray fromAddress;
    QByteArray subject;
    QByteArray body;
    QByteArray ccAddress;
};

class SmtpPeerTest : public AppTest {
protected:
    void SetUp() override
    {
        // Saturday 14 March 2026, 15:09:26 local time, one hour east of UTC.
        clock.now = QDateTime(QDate(2026, 3, 14), QTime(15, 9, 26));
        clock.utcOffsetSeconds = 3600;
        App().MailFolderPath = AppPath(QStringLiteral("MailFolder"));
        ASSERT_TRUE(QDir().mkpath(SentFolder()));
        ASSERT_TRUE(captured.isValid());
    }

    // Starts the server; it refuses RCPT TO for the given addresses.
    void StartServer(const QStringList& refused = {})
    {
        port = FreeLoopbackPort();
        ASSERT_NE(port, 0);
        QStringList arguments { CaptureScript, QString::number(port), captured.path() };
        for (const QString& address : refused)
            arguments << QStringLiteral("--refuse") << address;
        ASSERT_TRUE(server.Start(PeerPython, arguments, port)) << server.Failure().toStdString();
        App().SendServer = "127.0.0.1:" + QByteArray::number(port);
    }

    // Sends through a fresh socket; returns once the whole dialog has ended.
    void Send(const Message& message)
    {
        QProgressBar progressBar;
        QtSocket socket;
        MailSender sender(socket, progressBar);
        sender.SendEmailMessage(QByteArray(), message.toAddress, message.fromAddress, message.subject, message.body,
            message.ccAddress, QByteArray());
        EXPECT_FALSE(sender.Busy());
    }

    QString SentFolder() const { return App().MailFolderPath + QStringLiteral("/SentMessages"); }
    QStringList SentFiles() const { return QDir(SentFolder()).entryList(QDir::Files); }
    QStringList CapturedFiles() const { return QDir(captured.path()).entryList(QDir::Files, QDir::Name); }
    QByteArray Captured(const QString& name) const { return ReadFile(captured.filePath(name)); }

    // A fixture with the host name filled in.
    static QByteArray Expected(const QString& name)
    {
        return Fixture(QStringLiteral("peers/") + name).replace("@HOSTNAME@", QHostInfo::localHostName().toLatin1());
    }

    // The expected copy with this run's values filled in, after checking that the recorded local
    // address is one of this machine's.
    QByteArray ExpectedSentCopy(const QString& name, const QByteArray& stored) const
    {
        static const QRegularExpression localIP(QStringLiteral("Local IP:    ([^\r\n]*)\r\n"));
        const QRegularExpressionMatch match = localIP.match(QString::fromLatin1(stored));
        const QString address = match.captured(1);
        EXPECT_TRUE(match.hasMatch() && QNetworkInterface::allAddresses().contains(QHostAddress(address)))
            << "the recorded Local IP \"" << address.toStdString() << "\" is no address of this machine";
        return Expected(name).replace("@LOCALIP@", address.toLatin1()).replace("@PORT@", QByteArray::number(port));
    }

    // The message went out: the server kept exactly one message as `name`.envelope/.eml
    // describe it, and SentMessages holds `storedName` as `name`.sent.txt describes it.
    void ExpectDelivered(const QString& name, const QString& storedName)
    {
        EXPECT_EQ(CapturedFiles(), (QStringList { QStringLiteral("1.data"), QStringLiteral("1.envelope") }));
        EXPECT_TRUE(SameBytes(Expected(name + QStringLiteral(".envelope")), Captured(QStringLiteral("1.envelope"))));
        EXPECT_TRUE(SameBytes(Expected(name + QStringLiteral(".eml")), Captured(QStringLiteral("1.data"))));
        ASSERT_EQ(SentFiles(), QStringList { storedName });
        const QByteArray stored = ReadFile(SentFolder() + QLatin1Char('/') + storedName);
        EXPECT_TRUE(SameBytes(ExpectedSentCopy(name + QStringLiteral(".sent.txt"), stored), stored));
        EXPECT_EQ(App().sendConsole.statusColour(), StatusColour::Green);
        EXPECT_TRUE(dialogs.shown.isEmpty()) << dialogs.Texts().join(QLatin1Char('\n')).toStdString();
    }

    QTemporaryDir captured;
    PeerProcess server;
    quint16 port = 0;
};

TEST_F(SmtpPeerTest, CopyRecipientGetsASecondRcptTo)
{
    StartServer();
    Send({ "bob@example.test", "alice@example.test", "Lunch on Friday", "Shall we meet at noon?\nAlice",
        "carol@example.test" });
    ExpectDelivered(QStringLiteral("cc"), QStringLiteral("bob@example.test__260314_150926.txt"));
}

TEST_F(SmtpPeerTest, LinesStartingWithADotAreStuffedOnTheWireOnly)
{
    StartServer();
    Send({ "dave@example.test", "alice@example.test", "Dots", ".hidden\n.\n..x", {} });
    ExpectDelivered(QStringLiteral("dots"), QStringLiteral("dave@example.test__260314_150926.txt"));
}

TEST_F(SmtpPeerTest, EmptyBodyEndsWithALineBeforeTheDot)
{
    clock.utcOffsetSeconds = -(4 * 3600 + 30 * 60);
    StartServer();
    Send({ "erin@example.test", "alice@example.test", "Nothing to add", {}, {} });
    ExpectDelivered(QStringLiteral("empty-body"), QStringLiteral("erin@example.test__260314_150926.txt"));
}

TEST_F(SmtpPeerTest, LastBodyLineWithoutLineEndGetsOne)
{
    StartServer();
    Send({ "frank@example.test", "alice@example.test", "Three lines", "first line\nsecond line\nthird line", {} });
    ExpectDelivered(QStringLiteral("no-final-line-end"), QStringLiteral("frank@example.test__260314_150926.txt"));
}

TEST_F(SmtpPeerTest, RefusedRecipientStoresNothingAndSaysWhy)
{
    StartServer({ QStringLiteral("nobody@example.test") });
    Send({ "nobody@example.test", "alice@example.test", "Hello", "Anyone there?", {} });
    EXPECT_TRUE(SentFiles().isEmpty()) << SentFiles().join(QLatin1Char(' ')).toStdString();
    EXPECT_TRUE(CapturedFiles().isEmpty()) << CapturedFiles().join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(App().sendConsole.statusColour(), StatusColour::Red);
    // The failure note carries the server's reply; after it nothing is sent or received, and
    // the only line that follows is the note on closing the socket.
    const QByteArray console = App().sendConsole.boxText();
    const qsizetype failure = console.lastIndexOf(":No Expected Code: 550 5.1.1 no such user");
    ASSERT_GE(failure, 0) << console.toStdString();
    EXPECT_FALSE(console.contains(">data")) << console.toStdString();
    const QList<QByteArray> after = console.mid(failure + 1).split('\n');
    for (const QByteArray& line : after)
        EXPECT_FALSE(line.startsWith('<') || line.startsWith('>') || line.startsWith(":No Expected Code"))
            << "after the failure note: " << line.toStdString();
    qsizetype laterNotes = 0;
    for (const QByteArray& line : after)
        laterNotes += line.startsWith(':') ? 1 : 0;
    EXPECT_EQ(laterNotes, 1) << console.mid(failure).toStdString();
    EXPECT_GT(console.indexOf(":Socket is in state", failure), failure) << console.mid(failure).toStdString();
}

} // namespace
