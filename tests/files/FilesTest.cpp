// The files the program writes: whole-file replacement and its durability, folder listings, the
// console log and message files; and how caught errors are shown.

#include "FileHandlers.h"
#include "QtPrinting.h"
#include "TestApp.h"
#include "modConsole.h"
#include "modGeneralExceptionHandler.h"
#include "modMain.h"
#include "modSaveMail.h"
#include "modSendForm.h"
#include "modSpecificExceptionHandler.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <map>
#include <stdexcept>
#include <sys/syscall.h>
#include <unistd.h>

// What each fsync of the process flushed, by path: this definition stands in for the C
// library's and passes every call on to the kernel.
static QStringList synced;

extern "C" int fsync(int fd)
{
    synced.append(QFileInfo(QStringLiteral("/proc/self/fd/%1").arg(fd)).symLinkTarget());
    return static_cast<int>(::syscall(SYS_fsync, fd));
}

namespace {

using Stored = std::map<QString, QByteArray>;

class Files : public AppTest {
protected:
    // Every file under the application folder, hidden ones too (a temporary left behind shows).
    Stored Contents() const
    {
        Stored files;
        for (QDirIterator it(folder.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
            const QString path = it.next();
            files[path.mid(folder.path().size() + 1)] = ReadFile(path);
        }
        return files;
    }
};

// The new text reaches the disk before it takes the file's name, and the name after it. A
// failed write keeps the old file whole.
TEST_F(Files, WriteReplacesTheWholeFileDurablyOrNotAtAll)
{
    const QString mail = AppPath("mail.txt");
    const QByteArray awkward("a\0b\r\nc\n\r\xFF", 9);
    EXPECT_EQ(write_f("", "text"), "");
    synced.clear();
    EXPECT_EQ(write_f(mail, awkward), "");
    EXPECT_EQ(Contents(), (Stored { { "mail.txt", awkward } }));
    EXPECT_EQ(FileMode(mail), 0600u);
    ASSERT_EQ(synced.size(), 2);
    EXPECT_TRUE(synced[0].startsWith(folder.path() + "/.mail.txt.")) << synced[0].toStdString();
    EXPECT_EQ(synced[1], folder.path());

    ASSERT_TRUE(QFile::setPermissions(mail, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    EXPECT_EQ(write_f(mail, ""), "");
    EXPECT_EQ(Contents(), (Stored { { "mail.txt", "" } }));
    EXPECT_EQ(FileMode(mail), 0640u);

    ASSERT_EQ(write_f(mail, "old content\r\n"), "");
    const QString message = [&] {
        const FileSizeLimit limit(64);
        return write_f(mail, QByteArray(4096, 'x'));
    }();
    EXPECT_EQ(message, "Exception 27 File too large\r\n when writing a file `" + mail + "` in `write_f` module");
    EXPECT_EQ(Contents(), (Stored { { "mail.txt", "old content\r\n" } }));
}

// Index 0 of a listing is empty; the files follow, by name ignoring case, ties in byte order.
TEST_F(Files, ListingHoldsTheOrdinaryFilesSortedByName)
{
    const char* created[] = { "b", "a2", "A", "C", "a", "A10", "a1", ".hidden" };
    for (int i = 0; i < 8; ++i)
        WriteAppFile(created[i], QByteArray(i + 1, 'x'));
    ASSERT_TRUE(QDir(folder.path()).mkdir("B folder"));

    DirectoryListing listing;
    EXPECT_EQ(DirectoryList(folder.path(), listing), "");
    EXPECT_EQ(listing.names, (QStringList { "", "A", "a", "a1", "A10", "a2", "b", "C" }));
    EXPECT_EQ(listing.sizes, (QList<qint64> { 0, 3, 5, 7, 6, 2, 1, 4 }));
    EXPECT_EQ(listing.marks, QStringList(8, ""));
    EXPECT_EQ(listing.total, 28);
    EXPECT_EQ(listing.count, 7);

    EXPECT_EQ(DirectoryList(AppPath("gone"), listing), "2 No such file or directory\r\nException in \"DirectoryList.\"");
    EXPECT_EQ(listing.count, 7);
}

// The box keeps its last 10000 characters, and spills the oldest into console.txt at the next
// write. A valid UTF-8 sequence is one character; each byte of an invalid one counts as one.
TEST_F(Files, ConsoleSpillsItsOldestCharactersIntoTheLog)
{
    const QByteArray face = "\xF0\x9F\x98\x80";
    const QByteArray valid = "\xC3\xA9\xE2\x82\xAC" + face;
    // A stray byte, overlong forms, a surrogate half, a code point past U+10FFFF, a cut sequence.
    const QByteArray invalid = "\xFF\xC0\xAF\xE0\x80\x80\xED\xA0\x80\xF4\x90\x80\x80\xE2\x82";
    AppendMainConsole(valid + invalid);
    AppendMainConsole(QByteArray(9982, 'a'));
    AppendMainConsole("xyz");
    EXPECT_EQ(Contents(), Stored());
    AppendMainConsole("!");
    EXPECT_EQ(ReadAppFile("console.txt"), valid);
    EXPECT_EQ(App().consoles.mainConsole.boxText(), invalid + QByteArray(9982, 'a') + "xyz!");
    EXPECT_EQ(FileMode(AppPath("console.txt")), 0600u);

    // A long write keeps its own last 10000, never cutting a character in two.
    AppendMainConsole(QByteArray(15000, 'b') + face + QByteArray(9999, 'c'));
    const QByteArray spilled = valid + invalid + QByteArray(9982, 'a') + "xyz!" + QByteArray(15000, 'b');
    EXPECT_EQ(ReadAppFile("console.txt"), spilled);
    EXPECT_EQ(App().consoles.mainConsole.boxText(), face + QByteArray(9999, 'c'));

    // The compose console spills into the same log; saving a box appends all of it.
    AppendSendConsole("S" + QByteArray(10000, 's'));
    SaveConsoleToLog(App().consoles.mainConsole);
    EXPECT_EQ(ReadAppFile("console.txt"), spilled + "S" + face + QByteArray(9999, 'c'));
    EXPECT_EQ(App().consoles.sendConsole.boxText(), QByteArray(10000, 's'));

    // Once the log is deleted a folder can take its name. Where the log cannot be written, a
    // spill raises and leaves the box as it was.
    DeleteConsoleLog();
    ASSERT_TRUE(QDir(folder.path()).mkpath("console.txt/inside"));
    AppendMainConsole("x");
    EXPECT_THROW(WriteMainNote("lost"), AppError);
    EXPECT_THROW(AppendMainConsole(QByteArray(10001, 'z')), AppError);
    EXPECT_EQ(App().consoles.mainConsole.boxText(), face + QByteArray(9999, 'c') + "x");
}

// Whatever the write boundaries, the log followed by the box is everything written, in order.
// Every split near either end, where the characters and the 10000 mark are, is tried; in the
// middle, where all act alike, every 997th.
TEST_F(Files, ConsoleLosesOrRepeatsNothingAtAnySplitPoint)
{
    const QByteArray text = "\xC3\xA9\xFF\xE2\x82\xAC" + QByteArray("0123456789").repeated(1000) + "\xF0\x9F\x98\x80\xE2\x82";
    for (qsizetype split = 0; split <= text.size(); ++split) {
        if (split > 64 && split < text.size() - 64 && split % 997 != 0)
            continue;
        App().consoles.mainConsole.setBoxText({});
        QFile::remove(AppPath("console.txt"));
        AppendMainConsole(text.left(split));
        AppendMainConsole(text.mid(split));
        WriteMainNote("end");
        ASSERT_EQ(ReadAppFile("console.txt") + App().consoles.mainConsole.boxText(), text + ":end\r\n") << "split at byte " << split;
        ASSERT_TRUE(App().consoles.mainConsole.boxText().endsWith(":end\r\n")) << "split at byte " << split;
    }
}

TEST_F(Files, MessageSavesWriteTheNamedFileOrShowWhyNot)
{
    clock.now = QDateTime(QDate(2026, 3, 2), QTime(9, 5, 7, 999));
    App().paths.MailFolderPath = AppPath("MailFolder");
    App().paths.InBoxPath = AppPath("MailFolder/InBox");
    Stored expected;
    int saves = 0;
    const auto saveReceived = [](const QByteArray& message, qint32 number) {
        StagedFile file = ReceivedMessageFile(number);
        file.Append(message);
        return SaveReceivedMessage(file, number);
    };
    for (const QByteArrayList& row : FixtureRows("files/saves.txt")) {
        SCOPED_TRACE(::testing::PrintToString(row));
        const QString where = QString::fromUtf8(row.value(1));
        if (row[0] == "make" || row[0] == "remove") {
            QDir mailFolder(AppPath("MailFolder/" + where));
            ASSERT_TRUE(row[0] == "make" ? mailFolder.mkpath(".") : mailFolder.removeRecursively());
            std::erase_if(expected, [&](const auto& file) { return file.first.startsWith("MailFolder/" + where); });
            continue;
        }
        const QByteArray message = Fixture("files/received-message.txt") + QByteArray::number(++saves);
        const QString result = QString::fromUtf8(row.value(3)).replace("{mail}", AppPath("MailFolder"));
        const bool writes = result.startsWith("MailFolder/");
        dialogs.shown.clear();
        EXPECT_EQ(row[0] == "received" ? saveReceived(message, row[1].toInt())
                                       : SaveComposedMessage(WholeText(message), row.value(2), where),
            writes);
        EXPECT_EQ(dialogs.Texts(), writes ? QStringList() : QStringList { result });
        if (writes) {
            expected[result] = message;
            EXPECT_EQ(FileMode(AppPath(result)), 0600u);
        }
        EXPECT_EQ(Contents(), expected);
    }
}

// An error raised in an event handler is shown with its number and the handler's name, and a
// message box shows 1000 characters at most (one outside the basic plane counting once, never
// cut in two).
TEST_F(Files, RaisedErrorsAndMessagesAreShownCutToAThousandCharacters)
{
    const QString gone = AppPath("gone/log.txt");
    const QString grin = QStringLiteral("\U0001F600");
    const std::pair<std::function<void()>, QString> rows[] = {
        { [] { throw AppError(13, "Permission denied"); }, "EXCEPTION 13\r\nPermission denied\r\nfrmMain.Timer" },
        { [] { throw std::runtime_error("boom"); }, "EXCEPTION 2048\r\nboom\r\nfrmMain.Timer" },
        { [&] { OpenAndAppendToFile(gone, "line\r\n"); },
            "EXCEPTION 2\r\nNo such file or directory\r\nIn OpenAndAppendToFile\r\nwhen opening file: " + gone + "\r\nfrmMain.Timer" },
        { [&] { throw AppError(5, grin.repeated(1200)); }, "EXCEPTION 5\r\n" + grin.repeated(987) },
        { [] { EXPECT_TRUE(ShowMessageIfAny({})); }, "" }, // nothing raised, nothing to show
        { [&] { EXPECT_FALSE(ShowMessageIfAny(QString(999, 'a') + grin + grin)); }, QString(999, 'a') + grin },
    };
    for (const auto& [body, shown] : rows) {
        SCOPED_TRACE(shown.left(30).toStdString());
        dialogs.shown.clear();
        EXPECT_NO_THROW(GuardEntryPoint("frmMain.Timer", body));
        EXPECT_EQ(dialogs.Texts(), shown.isEmpty() ? QStringList() : QStringList { shown });
    }
}

TEST_F(Files, SpecificReportNamesTheModuleAndNotesItsNote)
{
    StoreLastError(110, "Connection timed out");
    ReportSpecificException(48, "MailReceiver", "Connect", "Server did not answer.");
    ReportSpecificException(16, "MailSender", "Initialize", "");
    QStringList shown;
    for (const ShownDialog& box : dialogs.shown)
        shown.append(QString::number(box.style) + ' ' + box.title + ": " + box.text);
    EXPECT_EQ(shown, (QStringList {
        "48 EXCEPTION: 110 Connection timed out\r\nServer did not answer.\r\nModule:   MailReceiver\r\nFunction: Connect\r\n",
        "16 EXCEPTION: 110 Connection timed out\r\n\r\nModule:   MailSender\r\nFunction: Initialize\r\n" }));
    EXPECT_EQ(App().consoles.mainConsole.boxText(), ":Server did not answer.\r\n");
    EXPECT_EQ(App().consoles.sendConsole.boxText(), "");
}

} // namespace
