#include "PeerHarness.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QDeadlineTimer>
#include <cstdio>

namespace {

constexpr int StopWaitMs = 5000;
// How long one connection attempt and the pause after a refused one may take.
constexpr int AttemptMs = 200;
constexpr int PauseMs = 20;

// A byte string for a failure message: CR and LF shown, other control bytes as \xNN.
std::string Shown(const QByteArray& bytes)
{
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\r')
            text += "\\r";
        else if (byte == '\n')
            text += "\\n\n";
        else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            text += escaped;
        } else
            text += c;
    }
    return text;
}

} // namespace

quint16 FreeLoopbackPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

bool PeerProcess::Start(const QString& program, const QStringList& arguments, quint16 port, int timeoutMs)
{
    mFailure.clear();
    mProcess.setProcessChannelMode(QProcess::SeparateChannels);
    mProcess.start(program, arguments);
    if (!mProcess.waitForStarted(timeoutMs)) {
        mFailure = program + QStringLiteral(" did not start: ") + mProcess.errorString();
        return false;
    }
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        if (probe.waitForConnected(AttemptMs)) {
            probe.abort();
            return true;
        }
        // Sleeps between attempts, and notices a program that ended.
        if (mProcess.waitForFinished(PauseMs) || mProcess.state() == QProcess::NotRunning) {
            mFailure = program + QStringLiteral(" ended before it listened on port ") + QString::number(port)
                + QStringLiteral(":\n") + QString::fromLocal8Bit(mProcess.readAllStandardError());
            return false;
        }
        if (deadline.hasExpired()) {
            mFailure = program + QStringLiteral(" did not listen on port ") + QString::number(port) + QStringLiteral(" in time");
            Stop();
            return false;
        }
    }
}

void PeerProcess::Stop()
{
    if (mProcess.state() == QProcess::NotRunning)
        return;
    mProcess.terminate();
    if (!mProcess.waitForFinished(StopWaitMs)) {
        mProcess.kill();
        mProcess.waitForFinished(StopWaitMs);
    }
}

::testing::AssertionResult SameBytes(const QByteArray& expected, const QByteArray& actual)
{
    if (expected == actual)
        return ::testing::AssertionSuccess();
    qsizetype at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at])
        ++at;
    // From the start of the line where they part.
    const qsizetype lineStart = at == 0 ? 0 : expected.lastIndexOf('\n', at - 1) + 1;
    return ::testing::AssertionFailure() << "the bytes differ at offset " << at << " (expected " << expected.size()
                                         << " bytes, got " << actual.size() << ")\n--- expected from that line:\n"
                                         << Shown(expected.mid(lineStart, 400)) << "\n--- actual from that line:\n"
                                         << Shown(actual.mid(lineStart, 400)) << "\n--- whole actual:\n"
                                         << Shown(actual.left(4000));
}
