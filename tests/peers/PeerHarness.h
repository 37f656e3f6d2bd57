#pragma once
// Real peer programs for the tests: each runs as a child process on a loopback port the test
// picks at run time, is waited for until that port accepts connections, and is stopped when
// the test ends. Also the byte comparison the peer tests report their differences with.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

// A TCP port on 127.0.0.1 that was free a moment ago: bound with port 0, read, let go.
quint16 FreeLoopbackPort();

class PeerProcess {
public:
    PeerProcess() = default;
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;
    ~PeerProcess() { Stop(); }

    // Starts the program and waits until 127.0.0.1:port accepts a connection. False when the
    // program ends first or the time-out passes; Failure() then says why.
    bool Start(const QString& program, const QStringList& arguments, quint16 port, int timeoutMs = 20000);

    // Terminates the program (killing it when it does not end within a few seconds).
    void Stop();

    QString Failure() const { return mFailure; }

private:
    QProcess mProcess;
    QString mFailure;
};

// Whether two byte strings are equal; when not, where they first differ, with the lines there.
::testing::AssertionResult SameBytes(const QByteArray& expected, const QByteArray& actual);
