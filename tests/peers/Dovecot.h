#pragma once
// A private dovecot POP3 server for tests: its configuration, mailbox and state live in a
// temporary folder of its own, it listens on a free loopback port, serves one user whose
// mail files belong to `nobody`, and it is stopped when the object goes away. The system's
// dovecot service plays no part. dovecot must run as root (it drops to the mail user).

#include "PeerHarness.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

class Dovecot {
public:
    Dovecot(const QByteArray& user, const QByteArray& password);
    Dovecot(const Dovecot&) = delete;
    Dovecot& operator=(const Dovecot&) = delete;
    ~Dovecot() { Stop(); }

    // Writes the configuration and starts the server; returns once the POP3 port accepts
    // connections. False when it could not; Failure() then says why.
    bool Start();

    // Terminates the master process and waits for it to end.
    void Stop() { mProcess.Stop(); }

    quint16 Port() const { return mPort; }
    // "127.0.0.1:PORT", as the program's server setting takes it.
    QByteArray ServerName() const;

    // Puts a message file into the user's Maildir/new. Messages are numbered (1, 2, ...) in the
    // order they were put: the file's name begins with that order, which is how dovecot sorts
    // new mail. False (with Failure()) when the file could not be written.
    bool PutMessage(const QString& name, const QByteArray& bytes);

    // Message files in the mailbox (new/ and cur/).
    int MessageCount() const;

    QString Failure() const { return mFailure; }
    // The server's own log, for failure messages.
    QByteArray Log() const;

private:
    bool Prepare();
    bool WriteFile(const QString& path, const QByteArray& bytes);
    bool GiveToMailUser(const QString& path);
    QString Path(const QString& relative) const { return mFolder.filePath(relative); }
    QString MaildirPath(const QString& sub) const { return Path(QStringLiteral("home/Maildir/") + sub); }

    QByteArray mUser;
    QByteArray mPassword;
    QTemporaryDir mFolder;
    PeerProcess mProcess;
    quint16 mPort = 0;
    unsigned mMailUid = 0;
    unsigned mMailGid = 0;
    int mPut = 0;
    QString mFailure;
};
