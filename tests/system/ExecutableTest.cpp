// The real program in a folder of its own (its application folder), ended by the signals a
// logout or a terminal sends.
#include "TestApp.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

namespace {

void Write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

// Runs the program in `home` and sends it `signal` once `ready` holds; its exit code (-1: it
// crashed, did not end, or had ended before).
int EndWith(const QTemporaryDir& home, int signal, const std::function<bool()>& ready)
{
    QFile::copy(QStringLiteral(WRENPOST_EXECUTABLE), home.filePath("wrenpost"));
    QProcess program;
    program.start(home.filePath("wrenpost"), {});
    if (!WaitFor(ready) || program.state() != QProcess::Running)
        return -1;
    ::kill(pid_t(program.processId()), signal);
    return program.waitForFinished() && program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
}

// Each run removes the log of the run before (after the mail folders are made, before the
// preferences are read) and writes its own as it closes.
TEST(Executable, EachTerminationSignalClosesLikeExit)
{
    QTemporaryDir home;
    Write(home.filePath("preferences.txt"), Fixture("system/startup-complete-preferences.txt"));
    Write(home.filePath("console.txt"), "the run before");
    const auto started = [&home] {
        return QFileInfo(home.filePath("MailFolder/POP3MailBox")).isDir() && !QFileInfo::exists(home.filePath("console.txt"));
    };
    for (const int signal : { SIGTERM, SIGINT, SIGHUP }) {
        SCOPED_TRACE(signal);
        EXPECT_EQ(EndWith(home, signal, started), 0);
        EXPECT_EQ(ReadFile(home.filePath("console.txt")), Fixture("system/startup-complete-console.txt"));
        EXPECT_EQ(FileMode(home.filePath("console.txt")), 0600u);
    }
}

// The box that says why the mail folder cannot be had waits for an answer; a signal then ends
// the program without a log.
TEST(Executable, SignalWhileTheFolderBoxIsOpenKeepsTheOldLog)
{
    QTemporaryDir home;
    Write(home.filePath("MailFolder"), "a file where the mail store belongs");
    Write(home.filePath("console.txt"), "the run before");
    const auto aSecondLater = [] {
        QTest::qWait(1000);
        return true;
    };
    EXPECT_EQ(EndWith(home, SIGTERM, aSecondLater), 1);
    EXPECT_EQ(ReadFile(home.filePath("console.txt")), "the run before");
}

} // namespace
