// Whole-file operations: reading, atomic replacement, appending and folder listings, with each
// one's own way of reporting a failure.

#include "AppState.h"
#include "QtPrinting.h"
#include "FileHandlers.h"
#include "TestApp.h"
#include "modGeneralExceptionHandler.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

const QByteArray Awkward("a\0b\r\nc\n\r\xFF", 9);

unsigned ModeOf(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return 0xFFFFFFFF;
    return info.st_mode & 07777;
}

// Limits the size of files this process may write; undone when it goes out of scope.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &mSaved);
        mHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = mSaved;
        limited.rlim_cur = bytes;
        mActive = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &mSaved);
        std::signal(SIGXFSZ, mHandler);
    }
    bool active() const { return mActive; }

private:
    rlimit mSaved {};
    void (*mHandler)(int) = nullptr;
    bool mActive = false;
};

class FileHandlers : public AppTest {
protected:
    QString Path(const QString& name) const { return folder.path() + '/' + name; }

    // Every entry of the application folder, hidden ones included.
    QStringList Entries() const
    {
        return QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
            QDir::Name);
    }
};

TEST_F(FileHandlers, ReadGivesTheBytesExactly)
{
    WriteAppFile("awkward.bin", Awkward);
    EXPECT_EQ(ReadFileText(Path("awkward.bin")), Awkward);
}

TEST_F(FileHandlers, ReadOfMissingEmptyOrFolderGivesNothing)
{
    WriteAppFile("empty.txt", "");
    ASSERT_TRUE(QDir(folder.path()).mkdir("sub"));
    EXPECT_EQ(ReadFileText(Path("missing.txt")), "");
    EXPECT_EQ(ReadFileText(Path("empty.txt")), "");
    EXPECT_EQ(ReadFileText(Path("sub")), "");
    EXPECT_EQ(ReadFileText(""), "");
}

TEST_F(FileHandlers, WriteOfEmptyPathDoesNothing)
{
    EXPECT_EQ(write_f("", "text"), "");
    EXPECT_TRUE(Entries().isEmpty()) << Entries().join(' ').toStdString();
}

TEST_F(FileHandlers, WriteCreatesOwnerOnlyFileWithExactBytes)
{
    EXPECT_EQ(write_f(Path("new.txt"), Awkward), "");
    EXPECT_EQ(ReadAppFile("new.txt"), Awkward);
    EXPECT_EQ(ModeOf(Path("new.txt")), 0600u);
    EXPECT_EQ(Entries(), QStringList { "new.txt" });
}

TEST_F(FileHandlers, WriteOfEmptyTextCreatesAndTruncates)
{
    EXPECT_EQ(write_f(Path("created.txt"), ""), "");
    EXPECT_TRUE(QFileInfo(Path("created.txt")).isFile());
    EXPECT_EQ(QFileInfo(Path("created.txt")).size(), 0);

    WriteAppFile("full.txt", "old content\r\n");
    EXPECT_EQ(write_f(Path("full.txt"), ""), "");
    EXPECT_EQ(QFileInfo(Path("full.txt")).size(), 0);
}

TEST_F(FileHandlers, ReplacementKeepsTheFileMode)
{
    WriteAppFile("shared.txt", "a much longer old content than the new one\r\n");
    ASSERT_EQ(::chmod(QFile::encodeName(Path("shared.txt")).constData(), 0640), 0);

    EXPECT_EQ(write_f(Path("shared.txt"), "new\r\n"), "");
    EXPECT_EQ(ReadAppFile("shared.txt"), "new\r\n");
    EXPECT_EQ(ModeOf(Path("shared.txt")), 0640u);
    EXPECT_EQ(Entries(), QStringList { "shared.txt" });
}

TEST_F(FileHandlers, WriteIntoMissingFolderReportsOpening)
{
    const QString path = Path("gone/file.txt");
    EXPECT_EQ(write_f(path, "x"),
        "Exception 2 No such file or directory\r\nwhen opening a file `" + path + "` in `write_f` module");
    EXPECT_TRUE(Entries().isEmpty());
}

TEST_F(FileHandlers, FailedWriteKeepsTheOldFileAndLeavesNoTemporary)
{
    WriteAppFile("mail.txt", "old content\r\n");
    QString message;
    {
        FileSizeLimit limit(64);
        ASSERT_TRUE(limit.active());
        message = write_f(Path("mail.txt"), QByteArray(4096, 'x'));
    }
    EXPECT_EQ(message, "Exception 27 File too large\r\n when writing a file `" + Path("mail.txt") + "` in `write_f` module");
    EXPECT_EQ(ReadAppFile("mail.txt"), "old content\r\n");
    EXPECT_EQ(Entries(), QStringList { "mail.txt" });
}

TEST_F(FileHandlers, FailedRenameLeavesTheFolderInTheWay)
{
    ASSERT_TRUE(QDir(folder.path()).mkpath("target/inside"));
    EXPECT_EQ(write_f(Path("target"), "text"),
        "Exception 21 Is a directory\r\n when writing a file `" + Path("target") + "` in `write_f` module");
    EXPECT_TRUE(QFileInfo(Path("target/inside")).isDir());
    EXPECT_EQ(Entries(), QStringList { "target" });
}

TEST_F(FileHandlers, AppendOfEmptyTextCreatesNothing)
{
    OpenAndAppendToFile(Path("log.txt"), "");
    EXPECT_FALSE(QFileInfo::exists(Path("log.txt")));
}

TEST_F(FileHandlers, AppendAddsTheBytesExactly)
{
    WriteAppFile("log.txt", "first\r\n");
    OpenAndAppendToFile(Path("log.txt"), Awkward);
    OpenAndAppendToFile(Path("log.txt"), "\n");
    EXPECT_EQ(ReadAppFile("log.txt"), "first\r\n" + Awkward + "\n");
}

TEST_F(FileHandlers, AppendCreatesOwnerOnlyFile)
{
    OpenAndAppendToFile(Path("log.txt"), "line\r\n");
    EXPECT_EQ(ReadAppFile("log.txt"), "line\r\n");
    EXPECT_EQ(ModeOf(Path("log.txt")), 0600u);
}

TEST_F(FileHandlers, AppendIntoMissingFolderRaisesWithThePlace)
{
    const QString path = Path("gone/log.txt");
    try {
        OpenAndAppendToFile(path, "line\r\n");
        FAIL() << "no AppError raised";
    } catch (const AppError& error) {
        EXPECT_EQ(error.number(), 2);
        EXPECT_EQ(error.description(), "No such file or directory\r\nIn OpenAndAppendToFile\r\nwhen opening file: " + path);
    }
    EXPECT_EQ(App().LastErrNumber, 2);
    EXPECT_EQ(App().LastErrDescription, "No such file or directory");
}

TEST_F(FileHandlers, ListingOfEmptyFolderHoldsOnlyIndexZero)
{
    DirectoryListing listing;
    EXPECT_EQ(DirectoryList(folder.path(), listing), "");
    EXPECT_EQ(listing.count, 0);
    EXPECT_EQ(listing.total, 0);
    EXPECT_EQ(listing.names, QStringList { "" });
    EXPECT_EQ(listing.sizes, QList<qint64> { 0 });
    EXPECT_EQ(listing.marks, QStringList { "" });
}

TEST_F(FileHandlers, ListingSkipsFoldersAndHiddenFiles)
{
    WriteAppFile("b", "1");
    WriteAppFile("A", "22");
    WriteAppFile("a", "333");
    WriteAppFile("C", "4444");
    WriteAppFile(".hidden", "55555");
    ASSERT_TRUE(QDir(folder.path()).mkdir("B folder"));

    DirectoryListing listing;
    EXPECT_EQ(DirectoryList(folder.path(), listing), "");
    EXPECT_EQ(listing.names, (QStringList { "", "A", "a", "b", "C" }));
    EXPECT_EQ(listing.sizes, (QList<qint64> { 0, 2, 3, 1, 4 }));
    EXPECT_EQ(listing.marks, (QStringList { "", "", "", "", "" }));
    EXPECT_EQ(listing.total, 10);
    EXPECT_EQ(listing.count, 4);
}

TEST_F(FileHandlers, ListingOfMissingFolderLeavesTheListing)
{
    WriteAppFile("one", "1");
    DirectoryListing listing;
    ASSERT_EQ(DirectoryList(folder.path(), listing), "");

    const QString message = DirectoryList(Path("gone"), listing);
    EXPECT_TRUE(message.endsWith("\nException in \"DirectoryList.\"")) << message.toStdString();
    EXPECT_EQ(listing.names, (QStringList { "", "one" }));
    EXPECT_EQ(listing.sizes, (QList<qint64> { 0, 1 }));
    EXPECT_EQ(listing.total, 1);
    EXPECT_EQ(listing.count, 1);
}

struct SortRow {
    const char* name;
    QStringList created;
    QStringList listed;
};

class ListingOrder : public FileHandlers, public ::testing::WithParamInterface<SortRow> {};

TEST_P(ListingOrder, IgnoresCaseThenUsesBytes)
{
    for (const QString& name : GetParam().created)
        WriteAppFile(name, "x");
    DirectoryListing listing;
    ASSERT_EQ(DirectoryList(folder.path(), listing), "");
    EXPECT_EQ(listing.names.mid(1), GetParam().listed);
}

INSTANTIATE_TEST_SUITE_P(FileHandlers, ListingOrder,
    ::testing::Values(
        SortRow { "all folded alike", { "bb", "bB", "BB", "Bb" }, { "BB", "Bb", "bB", "bb" } },
        SortRow { "digits are not numbers", { "a2", "A10", "a1" }, { "a1", "A10", "a2" } },
        SortRow { "extensions", { "Inbox.TXT", "inbox.dat", "INBOX" }, { "INBOX", "inbox.dat", "Inbox.TXT" } }),
    RowName());

} // namespace
