// The two consoles' writers and the spill of old console text into console.txt.

#include "AppState.h"
#include "QtPrinting.h"
#include "TestApp.h"
#include "modConsole.h"
#include "modGeneralExceptionHandler.h"
#include "modMain.h"
#include "modSendForm.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

enum Write { Note, Sent, Received, Line, Append, Status };
using Writer = void (*)(const QByteArray&);

struct Family {
    const char* name;
    Writer writers[6]; // by Write
    Console& (*own)();
    Console& (*other)();
};

const Family Families[] = {
    { "main", { WriteMainNote, WriteMainSent, WriteMainReceived, WriteMainConsoleLine, AppendMainConsole, SetMainStatus },
        [] () -> Console& { return App().mainConsole; }, [] () -> Console& { return App().sendConsole; } },
    { "send", { WriteSendNote, WriteSendSent, WriteSendReceived, WriteSendConsoleLine, AppendSendConsole, SetSendStatus },
        [] () -> Console& { return App().sendConsole; }, [] () -> Console& { return App().mainConsole; } },
};

struct WriterRow {
    const char* name;
    Write write;
    QByteArray text;
    QByteArray box;
    QByteArray status;
};

class Writers : public AppTest, public ::testing::WithParamInterface<WriterRow> {};

TEST_P(Writers, WriteTheirMarkAndLineEndToTheirOwnConsole)
{
    const WriterRow& row = GetParam();
    for (const Family& family : Families) {
        SCOPED_TRACE(family.name);
        for (Console* console : { &App().mainConsole, &App().sendConsole }) {
            console->setBoxText({});
            console->setStatusText({});
        }
        family.writers[row.write](row.text);
        EXPECT_EQ(family.own().boxText(), row.box);
        EXPECT_EQ(family.own().statusText(), row.status);
        EXPECT_EQ(family.other().boxText(), "");
        EXPECT_EQ(family.other().statusText(), "");
    }
}

INSTANTIATE_TEST_SUITE_P(ConsoleWriters, Writers,
    ::testing::Values(
        WriterRow { "note", Note, "Connected.", ":Connected.\r\n", "Connected." },
        WriterRow { "two line note", Note, "first\r\nsecond", ":first\r\nsecond\r\n", "first" },
        WriterRow { "note ending in lf", Note, "done\n", ":done\r\n", "done" },
        WriterRow { "sent", Sent, "USER joe", ">USER joe\r\n", "" },
        WriterRow { "sent with crlf", Sent, "QUIT\r\n", ">QUIT\r\n", "" },
        WriterRow { "received", Received, "+OK ready", "<+OK ready\r\n", "" },
        WriterRow { "line ending in bare lf", Line, "abc\n", "abc\r\n", "" },
        WriterRow { "line ending in crlf", Line, "abc\r\n", "abc\r\n", "" },
        WriterRow { "line without end", Line, "abc", "abc\r\n", "" },
        WriterRow { "append adds no line end", Append, "raw", "raw", "" },
        WriterRow { "status only", Status, "Sending", "", "Sending" }),
    RowName());

// Ten distinct ASCII characters, repeated: position k holds '0' + k % 10.
QByteArray Digits(qsizetype count)
{
    QByteArray text;
    for (qsizetype i = 0; i < count; ++i)
        text.append(char('0' + i % 10));
    return text;
}

class ConsoleSpill : public AppTest {
protected:
    QByteArray Log() const { return ReadAppFile("console.txt"); }
    const QByteArray& Box() const { return App().mainConsole.boxText(); }
};

TEST_F(ConsoleSpill, BoxUpToTenThousandCharactersDoesNotSpill)
{
    AppendMainConsole(Digits(6000));
    AppendMainConsole(Digits(4000));
    AppendMainConsole("x");
    EXPECT_FALSE(QFileInfo::exists(AppPath("console.txt")));
    EXPECT_EQ(Box(), Digits(6000) + Digits(4000) + "x");
}

TEST_F(ConsoleSpill, OldestCharactersGoFirstWhenOverTenThousand)
{
    AppendMainConsole("AB");
    AppendMainConsole(Digits(9999));
    AppendMainConsole("x");
    EXPECT_EQ(Log(), "A");
    EXPECT_EQ(Box(), "B" + Digits(9999) + "x");

    AppendMainConsole(Digits(2000));
    EXPECT_EQ(Log(), "AB");
    AppendMainConsole("y");
    EXPECT_EQ(Log(), "AB" + Digits(2000));
    EXPECT_EQ(Box(), Digits(9999).mid(2000) + "x" + Digits(2000) + "y");
}

TEST_F(ConsoleSpill, LongWriteKeepsOnlyItsLastTenThousand)
{
    WriteMainNote("old");
    const QByteArray big = QByteArray("abcde").repeated(5000);
    AppendMainConsole(big);
    EXPECT_EQ(Box(), QByteArray("abcde").repeated(2000));
    EXPECT_EQ(Log(), ":old\r\n" + QByteArray("abcde").repeated(3000));
}

TEST_F(ConsoleSpill, CountsUtf8CharactersAndNeverSplitsThem)
{
    AppendMainConsole("\xC3\xA9\xE2\x82\xAC");
    AppendMainConsole(QByteArray(10000, 'a'));
    EXPECT_FALSE(QFileInfo::exists(AppPath("console.txt")));
    AppendMainConsole("x");
    EXPECT_EQ(Log(), "\xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(Box(), QByteArray(10000, 'a') + "x");
}

TEST_F(ConsoleSpill, InvalidByteCountsAsOneCharacter)
{
    AppendMainConsole("\xFF\xE2\x82");
    AppendMainConsole(QByteArray(9998, 'a'));
    AppendMainConsole("x");
    EXPECT_EQ(Log(), "\xFF");
    EXPECT_EQ(Box(), "\xE2\x82" + QByteArray(9998, 'a') + "x");
}

TEST_F(ConsoleSpill, LongUtf8WriteIsCutAtACharacter)
{
    const QByteArray e = "\xC3\xA9";
    AppendMainConsole(e.repeated(25000));
    EXPECT_EQ(Box(), e.repeated(10000));
    EXPECT_EQ(Log(), e.repeated(15000));
}

TEST_F(ConsoleSpill, FourByteCharacterAtTheCutStaysWhole)
{
    const QByteArray face = "\xF0\x9F\x98\x80";
    AppendMainConsole(QByteArray(15000, 'a') + face + QByteArray(9999, 'b'));
    EXPECT_EQ(Log(), QByteArray(15000, 'a'));
    EXPECT_EQ(Box(), face + QByteArray(9999, 'b'));
}

TEST_F(ConsoleSpill, ComposeConsoleSpillsIntoTheSameFile)
{
    WriteAppFile("console.txt", "earlier\r\n");
    AppendSendConsole("S");
    AppendSendConsole(QByteArray(10000, 's'));
    WriteSendNote("sent.");
    EXPECT_EQ(Log(), "earlier\r\nS");
    EXPECT_EQ(App().sendConsole.boxText(), QByteArray(10000, 's') + ":sent.\r\n");
    EXPECT_EQ(App().mainConsole.boxText(), "");
}

TEST_F(ConsoleSpill, UnwritableSpillRaisesAndKeepsTheBox)
{
    ASSERT_TRUE(QDir(folder.path()).mkpath("console.txt/inside"));
    const QByteArray held = "H" + QByteArray(10000, 'h');
    AppendMainConsole("H");
    AppendMainConsole(QByteArray(10000, 'h'));
    EXPECT_THROW(WriteMainNote("lost"), AppError);
    EXPECT_EQ(Box(), held);
    EXPECT_THROW(AppendMainConsole(QByteArray(10001, 'z')), AppError);
    EXPECT_EQ(Box(), held);
}

TEST_F(ConsoleSpill, LogFileIsOwnerOnly)
{
    AppendMainConsole(QByteArray(10001, 'a'));
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(AppPath("console.txt")).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
}

TEST_F(ConsoleSpill, SaveAppendsTheWholeBoxAndDeleteRemovesTheLog)
{
    WriteAppFile("console.txt", "before\r\n");
    WriteMainNote("one");
    WriteMainSent("two");
    SaveConsoleToLog(App().mainConsole);
    EXPECT_EQ(Log(), "before\r\n:one\r\n>two\r\n");
    EXPECT_EQ(Box(), ":one\r\n>two\r\n");

    DeleteConsoleLog();
    EXPECT_FALSE(QFileInfo::exists(AppPath("console.txt")));
    EXPECT_NO_THROW(DeleteConsoleLog());
}

// Whatever the write boundaries, the log followed by the box is everything written, in order.
TEST_F(ConsoleSpill, NothingLostOrRepeatedAtAnySplitPoint)
{
    const QByteArray text = "\xC3\xA9\xFF\xE2\x82\xAC" + Digits(10000) + "\xF0\x9F\x98\x80\xE2\x82";
    const QByteArray tail = ":end\r\n";
    for (qsizetype split = 0; split <= text.size(); ++split) {
        App().mainConsole.setBoxText({});
        QFile::remove(AppPath("console.txt"));
        AppendMainConsole(text.left(split));
        AppendMainConsole(text.mid(split));
        WriteMainNote("end");
        ASSERT_EQ(Log() + Box(), text + tail) << "split at byte " << split;
        ASSERT_TRUE(Box().endsWith(tail)) << "split at byte " << split;
    }
}

} // namespace
