#include "Peers.h"

#include "TestApp.h"

#include <QDir>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <pwd.h>
#include <unistd.h>

namespace {

// Hands a file or folder to the user dovecot reads the mail as.
bool GiveToMailUser(const QString& path)
{
    const passwd* nobody = ::getpwnam("nobody");
    return nobody != nullptr && ::chown(QFile::encodeName(path), nobody->pw_uid, nobody->pw_gid) == 0;
}

} // namespace

quint16 FreeLoopbackPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

ChildProcess::~ChildProcess()
{
    process.terminate();
    if (!process.waitForFinished())
        process.kill();
    process.waitForFinished();
}

QString ChildProcess::Start(const QString& program, const QStringList& arguments)
{
    process.start(program, arguments);
    WaitFor(
        [this] {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            return probe.waitForConnected(200) || process.state() == QProcess::NotRunning;
        },
        20000);
    return process.state() == QProcess::Running
        ? QString()
        : program + " did not listen on port " + QString::number(port) + ": " + process.readAllStandardError();
}

QByteArray ChildProcess::FolderFile(const QString& name) const { return ReadFile(folder.filePath(name)); }

QString TestCertificates()
{
    static QTemporaryDir certificates;
    static const bool made = QProcess::execute(QStringLiteral(WRENPOST_PEER_PYTHON),
                                 { QStringLiteral(WRENPOST_PEERS_DIR "/make_certificates.py"), certificates.path() })
        == 0;
    EXPECT_TRUE(made) << "make_certificates.py failed";
    return certificates.path();
}

QString SmtpCapture::Start(const QStringList& modes)
{
    QFile::link(TestCertificates(), folder.filePath("certificates"));
    QStringList arguments { QStringLiteral(WRENPOST_PEERS_DIR "/smtp_capture.py"), folder.path() };
    // The script is ready once the last mode's server listens, on the port Start waits for.
    for (const QString& mode : modes)
        arguments << mode + ':' + QString::number(ports[mode] = mode == modes.last() ? port : FreeLoopbackPort());
    return ChildProcess::Start(QStringLiteral(WRENPOST_PEER_PYTHON), arguments);
}

int SmtpCapture::Count(const QString& mode) const { return int(QDir(folder.filePath(mode)).entryList({ QStringLiteral("*.data") }).size()); }

QString Relay::Start(quint16 target)
{
    return ChildProcess::Start(QStringLiteral("socat"),
        { "-r", folder.filePath("wire"), QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr,fork").arg(port),
            QStringLiteral("TCP:127.0.0.1:%1").arg(target) });
}

QByteArray Relay::Sent()
{
    const QByteArray wire = FolderFile("wire");
    return wire.mid(std::exchange(read, wire.size()));
}

QString Dovecot::Start()
{
    const passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() != 0 || nobody == nullptr)
        return QStringLiteral("dovecot must be started as root, with a user nobody to own the mail");
    // The mail user passes through the test's private folder to its home.
    QFile::setPermissions(folder.path(), QFile::permissions(folder.path()) | QFile::ExeOther);
    bool ready = true;
    for (const char* mine : { "home/Maildir/new", "home/Maildir/cur", "home/Maildir/tmp", "home/Maildir", "home" })
        ready = ready && QDir().mkpath(folder.filePath(mine)) && GiveToMailUser(folder.filePath(mine));
    const QByteArray path = QFile::encodeName(folder.path());
    ready = ready
        && WriteFile(folder.filePath("users"),
            "wren:{PLAIN}" + QByteArray(Password) + ':' + QByteArray::number(nobody->pw_uid) + ':' + QByteArray::number(nobody->pw_gid)
                + "::" + path + "/home\n")
        && WriteFile(folder.filePath("dovecot.conf"),
            ReadFile(WRENPOST_PEERS_DIR "/dovecot.conf.in")
                .replace("@FOLDER@", path)
                .replace("@PORT@", QByteArray::number(port))
                .replace("@TLS_PORT@", QByteArray::number(tlsPort))
                .replace("@CERTIFICATES@", QFile::encodeName(TestCertificates())));
    // -F keeps the master process in the foreground, a child of ours.
    const QString failure = ready
        ? ChildProcess::Start(QStringLiteral("/usr/sbin/dovecot"), { "-F", "-c", folder.filePath("dovecot.conf") })
        : QStringLiteral("cannot prepare ") + folder.path();
    if (!failure.isEmpty())
        return failure + QString::fromLocal8Bit(FolderFile("dovecot.log"));
    // Failed logins from one address earn it a growing delay (auth_failure_delay does not cover
    // it), which the anvil process keeps; without anvil's socket there is none.
    WaitFor([this] { return QFile::remove(folder.filePath("run/anvil-auth-penalty")); });
    return {};
}

bool Dovecot::Put(const QByteArray& bytes)
{
    // Written in tmp/ and moved into new/ whole, as deliveries are; dovecot sorts new mail by name.
    const QString name = QStringLiteral("%1.test").arg(++put, 6, 10, QLatin1Char('0'));
    const QString written = folder.filePath(QStringLiteral("home/Maildir/tmp/") + name);
    return WriteFile(written, bytes) && GiveToMailUser(written) && QFile::rename(written, folder.filePath("home/Maildir/new/" + name));
}

int Dovecot::Count() const
{
    int count = 0;
    for (const char* sub : { "home/Maildir/new", "home/Maildir/cur" })
        count += int(QDir(folder.filePath(sub)).entryList(QDir::Files).size());
    return count;
}

QByteArray SentFixture(const QString& name, const QByteArray& stored, quint16 port)
{
    static const QRegularExpression localIP(QStringLiteral("Local IP: +([^\r\n]*)\r\n"));
    const QString address = localIP.match(QString::fromLatin1(stored)).captured(1);
    QByteArray expected = Fixture(name);
    if (expected.contains("@LOCALIP@"))
        EXPECT_TRUE(QNetworkInterface::allAddresses().contains(QHostAddress(address)))
            << "the recorded Local IP \"" << address.toStdString() << "\" is no address of this machine";
    return expected.replace("@HOSTNAME@", QHostInfo::localHostName().toLatin1())
        .replace("@PORT@", QByteArray::number(port))
        .replace("@LOCALIP@", address.toLatin1());
}
