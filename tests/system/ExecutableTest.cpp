// The real program in a folder of its own (its application folder), ended by the signals a
// logout or a terminal sends.
#include "Clock.h"
#include "TestApp.h"

#include <QCoreApplication>

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

namespace {

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
    WriteFile(home.filePath("preferences.txt"), Fixture("system/startup-complete-preferences.txt"));
    WriteFile(home.filePath("console.txt"), "the run before");
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
    WriteFile(home.filePath("MailFolder"), "a file where the mail store belongs");
    WriteFile(home.filePath("console.txt"), "the run before");
    const auto aSecondLater = [] {
        QTest::qWait(1000);
        return true;
    };
    EXPECT_EQ(EndWith(home, SIGTERM, aSecondLater), 1);
    EXPECT_EQ(ReadFile(home.filePath("console.txt")), "the run before");
}

// The tick counts on while the machine sleeps, as a count since the system started does: in a
// time namespace whose machine slept a day, the tick runs a day ahead of the monotonic clock.
TEST(SystemClock, CountsTheTimeTheMachineSlept)
{
    timespec monotonic {};
    clock_gettime(CLOCK_MONOTONIC, &monotonic);
    const qint64 ahead = SystemClock().TickMs() - (qint64(monotonic.tv_sec) * 1000 + monotonic.tv_nsec / 1000000);
    if (qEnvironmentVariableIsSet("WRENPOST_TICK_AHEAD"))
        return void(std::printf("ahead=%lld\n", ahead));
    QProcess slept;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("WRENPOST_TICK_AHEAD", "1");
    slept.setProcessEnvironment(environment);
    slept.start("unshare", { "--time", "--boottime", "86400", QCoreApplication::applicationFilePath(),
                               "--gtest_filter=SystemClock.CountsTheTimeTheMachineSlept" });
    ASSERT_TRUE(slept.waitForFinished()) << slept.errorString().toStdString();
    const QString output = QString::fromLatin1(slept.readAllStandardOutput() + slept.readAllStandardError());
    EXPECT_NEAR(QRegularExpression("ahead=(-?\\d+)").match(output).captured(1).toLongLong(), 86400 * 1000, 1000) << output.toStdString();
}

} // namespace
