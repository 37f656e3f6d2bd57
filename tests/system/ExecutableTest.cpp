// The real program, copied into an empty folder that becomes its application folder.

#include "TestApp.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>

namespace {

class ExecutableTest : public ::testing::TestWithParam<int> {
protected:
    ExecutableTest()
    {
        program = home.filePath("wrenpost");
        EXPECT_TRUE(QFile::copy(WRENPOST_EXECUTABLE, program));
    }

    void Write(const QString& name, const QByteArray& bytes)
    {
        QFile file(home.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QByteArray Read(const QString& name) { return ReadFile(home.filePath(name)); }

    void Start()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(QDir::rootPath());
        process.start(program, {});
        ASSERT_TRUE(process.waitForStarted());
    }

    void StopWith(int signal)
    {
        ::kill(static_cast<pid_t>(process.processId()), signal);
        ASSERT_TRUE(process.waitForFinished(10000));
    }

    QTemporaryDir home;
    QString program;
    QProcess process;
};

TEST_P(ExecutableTest, SignalClosesLikeExitAndKeepsTheStartUpNotes)
{
    Write("preferences.txt", Fixture("startup-complete-preferences.txt"));
    Write("console.txt", "the previous run\r\n");

    Start();
    // The old log goes at step 9; the mailbox folder comes after the preferences.
    ASSERT_TRUE(WaitFor([this] {
        return QFileInfo(home.filePath("MailFolder/POP3MailBox")).isDir() && !QFileInfo::exists(home.filePath("console.txt"));
    }));
    StopWith(GetParam());

    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
    for (const char* folder : { "SentMessages", "InBox", "SavedMessages", "Deleted_Messages", "POP3MailBox" })
        EXPECT_TRUE(QFileInfo(home.filePath(QStringLiteral("MailFolder/") + folder)).isDir()) << folder;
    EXPECT_EQ(Read("console.txt"), Fixture("startup-complete-console.txt"));
    EXPECT_EQ(FileMode(home.filePath("console.txt")), 0600);
}

INSTANTIATE_TEST_SUITE_P(Signals, ExecutableTest, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
    [](const auto& info) { return info.param == SIGTERM ? "Term" : info.param == SIGINT ? "Int" : "Hup"; });

class ExecutableFolderFailureTest : public ExecutableTest {};

TEST_F(ExecutableFolderFailureTest, SignalWhileTheFolderBoxIsOpenEndsWithoutWritingTheLog)
{
    Write("MailFolder", "a file where the mail store belongs");
    Write("console.txt", "the previous run\r\n");

    Start();
    // The box waits for an answer; the program must still be running then.
    EXPECT_FALSE(process.waitForFinished(1000));
    StopWith(SIGTERM);

    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_EQ(Read("console.txt"), "the previous run\r\n");
    EXPECT_FALSE(QFileInfo::exists(home.filePath("MailFolder/InBox")));
}

} // namespace
