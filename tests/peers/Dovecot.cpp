#include "Dovecot.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <pwd.h>
#include <unistd.h>

namespace {

// Starts retried when the port found free was taken again before dovecot could bind it.
constexpr int StartAttempts = 3;

// The settings that run dovecot unprivileged-looking and self-contained: everything it writes
// stays in the test's folder, it speaks only POP3 on loopback, without TLS, and takes the
// plain-text password from a passwd-file. @FOLDER@ and @PORT@ are filled in.
const char* const Configuration = R"(base_dir = @FOLDER@/run
state_dir = @FOLDER@/state
log_path = @FOLDER@/dovecot.log
protocols = pop3
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain
first_valid_uid = 1
mail_location = maildir:~/Maildir:INDEX=MEMORY
passdb {
  driver = passwd-file
  args = scheme=PLAIN @FOLDER@/users
}
userdb {
  driver = passwd-file
  args = @FOLDER@/users
}
service pop3-login {
  inet_listener pop3 {
    address = 127.0.0.1
    port = @PORT@
  }
}
service imap-login {
  inet_listener imap {
    port = 0
  }
  inet_listener imaps {
    port = 0
  }
}
)";

QString DovecotProgram()
{
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("dovecot"));
    if (!onPath.isEmpty())
        return onPath;
    return QStandardPaths::findExecutable(QStringLiteral("dovecot"), { QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin") });
}

} // namespace

Dovecot::Dovecot(const QByteArray& user, const QByteArray& password) : mUser(user), mPassword(password) { }

QByteArray Dovecot::ServerName() const { return "127.0.0.1:" + QByteArray::number(mPort); }

bool Dovecot::Start()
{
    mFailure.clear();
    const QString program = DovecotProgram();
    if (program.isEmpty()) {
        mFailure = QStringLiteral("dovecot is not installed (Debian: dovecot-core dovecot-pop3d, scripts/deps.sh test)");
        return false;
    }
    if (::geteuid() != 0) {
        mFailure = QStringLiteral("dovecot must be started as root");
        return false;
    }
    if (!Prepare())
        return false;
    for (int attempt = 1; attempt <= StartAttempts; ++attempt) {
        mPort = FreeLoopbackPort();
        if (mPort == 0) {
            mFailure = QStringLiteral("no free port on 127.0.0.1");
            return false;
        }
        QByteArray configuration(Configuration);
        configuration.replace("@FOLDER@", QFile::encodeName(mFolder.path()));
        configuration.replace("@PORT@", QByteArray::number(mPort));
        const QString configurationPath = Path(QStringLiteral("dovecot.conf"));
        if (!WriteFile(configurationPath, configuration))
            return false;
        // -F keeps the master process in the foreground: it is our child, and its pid is the one
        // Stop terminates.
        if (mProcess.Start(program, { QStringLiteral("-F"), QStringLiteral("-c"), configurationPath }, mPort))
            return true;
        mFailure = mProcess.Failure() + QStringLiteral("\n--- dovecot.log:\n") + QString::fromLocal8Bit(Log());
        if (!mFailure.contains(QStringLiteral("Address already in use")))
            return false;
    }
    return false;
}

// The folder tree, the user's line and a home the mail user owns.
bool Dovecot::Prepare()
{
    if (!mFolder.isValid()) {
        mFailure = QStringLiteral("no temporary folder: ") + mFolder.errorString();
        return false;
    }
    const passwd* nobody = ::getpwnam("nobody");
    if (nobody == nullptr) {
        mFailure = QStringLiteral("there is no user 'nobody' to own the mailbox");
        return false;
    }
    mMailUid = nobody->pw_uid;
    mMailGid = nobody->pw_gid;
    // The temporary folder is owner-only; the mail user must pass through it to its home.
    QFile::setPermissions(mFolder.path(),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    for (const char* folder : { "run", "state", "home/Maildir/new", "home/Maildir/cur", "home/Maildir/tmp" }) {
        if (!QDir().mkpath(Path(QString::fromLatin1(folder)))) {
            mFailure = QStringLiteral("cannot create ") + Path(QString::fromLatin1(folder));
            return false;
        }
    }
    for (const char* owned : { "home", "home/Maildir", "home/Maildir/new", "home/Maildir/cur", "home/Maildir/tmp" })
        if (!GiveToMailUser(Path(QString::fromLatin1(owned))))
            return false;
    const QByteArray line = mUser + ":{PLAIN}" + mPassword + ':' + QByteArray::number(mMailUid) + ':'
        + QByteArray::number(mMailGid) + "::" + QFile::encodeName(Path(QStringLiteral("home"))) + '\n';
    return WriteFile(Path(QStringLiteral("users")), line);
}

bool Dovecot::PutMessage(const QString& name, const QByteArray& bytes)
{
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char(':'))) {
        mFailure = QStringLiteral("a Maildir file name cannot hold '/' or ':': ") + name;
        return false;
    }
    ++mPut;
    // Written in tmp/ and moved into new/ whole, as Maildir deliveries are.
    const QString fileName = QStringLiteral("%1.%2").arg(mPut).arg(name);
    const QString written = MaildirPath(QStringLiteral("tmp/") + fileName);
    if (!WriteFile(written, bytes) || !GiveToMailUser(written))
        return false;
    if (QFile::rename(written, MaildirPath(QStringLiteral("new/") + fileName)))
        return true;
    mFailure = QStringLiteral("cannot move ") + written + QStringLiteral(" into new/");
    return false;
}

int Dovecot::MessageCount() const
{
    int count = 0;
    for (const QString& sub : { QStringLiteral("new"), QStringLiteral("cur") })
        count += static_cast<int>(QDir(MaildirPath(sub)).entryList(QDir::Files | QDir::Hidden).size());
    return count;
}

QByteArray Dovecot::Log() const
{
    QFile file(Path(QStringLiteral("dovecot.log")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool Dovecot::WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size() && file.flush())
        return true;
    mFailure = QStringLiteral("cannot write ") + path + QStringLiteral(": ") + file.errorString();
    return false;
}

bool Dovecot::GiveToMailUser(const QString& path)
{
    if (::chown(QFile::encodeName(path).constData(), mMailUid, mMailGid) == 0)
        return true;
    mFailure = QStringLiteral("cannot give ") + path + QStringLiteral(" to the mail user");
    return false;
}
