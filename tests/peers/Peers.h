#pragma once
// Real peer programs for the tests, each a child process serving on a loopback port chosen at
// run time. Shared by the peer tests, the socket tests and the journeys.

#include "QtPrinting.h"

#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// A TCP port on 127.0.0.1 that was free a moment ago: bound with port 0, read, let go.
quint16 FreeLoopbackPort();

// A child process with a folder of its own, ended when its object goes.
struct ChildProcess {
    ~ChildProcess();
    // Starts a server; "" once it accepts connections on `port`, otherwise why it does not.
    QString Start(const QString& program, const QStringList& arguments);
    // "127.0.0.1:PORT", as the program's server settings take it.
    QByteArray ServerName() const { return "127.0.0.1:" + QByteArray::number(port); }
    QByteArray FolderFile(const QString& name) const;

    quint16 port = FreeLoopbackPort();
    QTemporaryDir folder;
    QProcess process;
};

// A certificate authority and certificates for localhost signed by it (make_certificates.py),
// made once for the test run: the folder that holds them.
QString TestCertificates();

// aiosmtpd (smtp_capture.py) keeping the N-th message each mode's server accepts in the folder
// MODE as it crossed the wire: N.envelope the client's command lines through DATA, N.data the
// content through its "." line. It greets with a fixed name. (postfix's smtp-sink dumps with
// LF line ends and a Received line of its own: no byte for byte.)
struct SmtpCapture : ChildProcess {
    // Serves each mode on a port of its own.
    QString Start(const QStringList& modes = { QStringLiteral("plain") });
    // How many messages the mode's server has accepted.
    int Count(const QString& mode = QStringLiteral("plain")) const;

    QMap<QString, quint16> ports;
};

// socat relaying each connection on `port` to the target port, and keeping every byte clients
// send through it: the plain text a client sends before TLS can be read there.
struct Relay : ChildProcess {
    QString Start(quint16 target);
    // What clients sent since the last call.
    QByteArray Sent();

    qsizetype read = 0;
};

// A private dovecot (dovecot.conf.in) serving POP3 to the user "wren" from a Maildir that
// belongs to `nobody`, with STLS on `port` and TLS from the first byte on `tlsPort`. It must be
// started as root; it drops to that user.
struct Dovecot : ChildProcess {
    static constexpr const char* Password = "Tr0ub4dor-7x";
    QString Start();
    // Puts a message into Maildir/new; the server numbers messages in the order they were put.
    bool Put(const QByteArray& bytes);
    // Message files in the mailbox.
    int Count() const;

    int put = 0;
    quint16 tlsPort = FreeLoopbackPort();
};

// A fixture of a message sent to SmtpCapture with this run's values filled in: @HOSTNAME@ (the
// argument of HELO), @PORT@ (the server's) and @LOCALIP@ as the sent copy `stored` records it,
// which must be an address of this machine.
QByteArray SentFixture(const QString& name, const QByteArray& stored, quint16 port);
