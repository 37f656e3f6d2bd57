// preferences.txt: looking keys up in the file read once per run, and rewriting it whole.

#include "AppState.h"
#include "QtPrinting.h"
#include "ParsePreferences.h"
#include "TestApp.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

struct LookupRow {
    const char* name;
    QByteArray fileText;
    QByteArray key;
    QByteArray value;
};

class PreferenceLookup : public AppTest, public ::testing::WithParamInterface<LookupRow> {};

TEST_P(PreferenceLookup, FindsTheValueOfTheFirstLineStartingWithTheKey)
{
    WriteAppFile("preferences.txt", GetParam().fileText);
    EXPECT_EQ(GetPreference(GetParam().key), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(ParsePreferences, PreferenceLookup,
    ::testing::Values(
        LookupRow { "plain line", "user=joe\r\n", "user", "joe" },
        LookupRow { "blanks before cr trimmed", "user=joe \t\r\nserver=h\r\n", "user", "joe" },
        LookupRow { "last line without line end", "a=1\r\nuser=joe", "user", "joe" },
        LookupRow { "bare lf lines", "a=1\nuser=joe\n", "user", "joe" },
        LookupRow { "key inside send user not found", "send user=joe2\r\n", "user", "" },
        LookupRow { "send user skipped for later user", "send user=joe2\r\nuser=joe\r\n", "user", "joe" },
        LookupRow { "password inside save_password not found", "save_password=Y\r\n", "password", "" },
        LookupRow { "save_password skipped for later password", "save_password=Y\r\npassword=pw\r\n", "password", "pw" },
        LookupRow { "first matching line wins", "server=a\r\nserver=b\r\n", "server", "a" },
        LookupRow { "longer key matched by its prefix", "x=1\r\nPOP3UserPassword=pw\r\n", "POP3User", "Password=pw" },
        LookupRow { "blanks around key and separator", "user=joe\r\n  server = host1  \r\n", "server", "host1" },
        LookupRow { "tab before key", "user=joe\r\n\tserver=h\r\n", "server", "h" },
        LookupRow { "doubled separator", "user==x\r\n", "user", "x" },
        LookupRow { "key is case sensitive", "User=x\r\n", "user", "" },
        LookupRow { "blank instead of separator", "a=1\r\nuser joe\r\n", "user", "joe" },
        LookupRow { "blanks before key on first line", "  user=joe\r\n", "user", "" },
        LookupRow { "empty value", "server=\r\nuser=joe\r\n", "server", "" },
        LookupRow { "key absent", "user=joe\r\n", "server", "" },
        LookupRow { "empty file", "", "user", "" }),
    RowName());

class Preferences : public AppTest {
protected:
    QString PreferencesPath() const { return folder.path() + "/preferences.txt"; }
};

TEST_F(Preferences, MissingFileGivesEmptyValues)
{
    EXPECT_EQ(GetPreference("user"), "");
    EXPECT_EQ(GetPreference("server"), "");
    EXPECT_EQ(GetPreference("retrieve interval"), "");
}

TEST_F(Preferences, FileIsReadOnceWithCrLfAppended)
{
    WriteAppFile("preferences.txt", "user=joe\r\nserver=old");
    EXPECT_EQ(GetPreference("user"), "joe");
    EXPECT_EQ(App().PreferencesText, "user=joe\r\nserver=old\r\n");

    WriteAppFile("preferences.txt", "user=ann\r\nserver=new\r\nsend user=x\r\n");
    EXPECT_EQ(GetPreference("user"), "joe");
    EXPECT_EQ(GetPreference("server"), "old");
    EXPECT_EQ(GetPreference("send user"), "");
}

TEST_F(Preferences, WritesTheFixedLinesForUnsavedPasswords)
{
    AppState& app = App();
    app.ReceiveUser = "joe";
    app.SendUser = "joe2";
    app.SaveReceivePassword = "N";
    app.ReceivePassword = "secret";
    app.RetrieveIntervalMs = 300000;

    ASSERT_TRUE(WritePreferences());
    EXPECT_EQ(ReadAppFile("preferences.txt"), Fixture("common/preferences_joe.txt"));
    EXPECT_EQ(PreferencesFileText(), Fixture("common/preferences_joe.txt"));
    EXPECT_TRUE(dialogs.shown.isEmpty());
}

TEST_F(Preferences, WritesEveryLineWhenAllPasswordsAreSaved)
{
    AppState& app = App();
    app.ReceiveUser = "ann";
    app.SendUser = "ann.out";
    app.ReceivePassword = "rpw";
    app.SendPassword = "spw";
    app.SaveReceivePassword = "Y";
    app.ReceiveServer = "pop.example.net";
    app.SaveSendPassword = "Y";
    app.SendServer = "smtp.example.net";
    app.RetrieveIntervalMs = 90000;
    app.POP3User = "local";
    app.POP3UserPassword = "lpw";
    app.POP3UserSavePassword = "Y";
    app.POP3UserFolder = "/home/ann/mail";
    app.POP3RunsAtStartup = "Y";
    app.POP3DeleteIfRequested = "Y";

    ASSERT_TRUE(WritePreferences());
    EXPECT_EQ(ReadAppFile("preferences.txt"), Fixture("common/preferences_all_saved.txt"));
}

struct FlagRow {
    const char* name;
    QByteArray flag;
};

class PasswordFlag : public Preferences, public ::testing::WithParamInterface<FlagRow> {};

TEST_P(PasswordFlag, OnlyExactlyYSavesPasswords)
{
    AppState& app = App();
    app.ReceivePassword = "rpw";
    app.SendPassword = "spw";
    app.POP3UserPassword = "lpw";
    app.SaveReceivePassword = app.SaveSendPassword = app.POP3UserSavePassword = GetParam().flag;

    const QByteArray text = PreferencesFileText();
    EXPECT_FALSE(text.contains("\npassword=") || text.contains("send password=") || text.contains("POP3UserPassword=")
        || text.contains("pw\r\n"))
        << text.constData();
}

INSTANTIATE_TEST_SUITE_P(ParsePreferences, PasswordFlag,
    ::testing::Values(FlagRow { "N", "N" }, FlagRow { "lower y", "y" }, FlagRow { "YES", "YES" },
        FlagRow { "blank then Y", " Y" }, FlagRow { "empty", "" }),
    RowName());

TEST_F(Preferences, NewFileIsOwnerOnly)
{
    ASSERT_TRUE(WritePreferences());
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(PreferencesPath()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
}

TEST_F(Preferences, MissingFolderShowsTheWriteFailure)
{
    App().applicationFolder = folder.path() + "/gone";
    const QString path = folder.path() + "/gone/preferences.txt";

    EXPECT_FALSE(WritePreferences());
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].text,
        "Exception 2 No such file or directory\r\nwhen opening a file `" + path + "` in `write_f` module");
    EXPECT_EQ(dialogs.shown[0].style, 0);
    EXPECT_EQ(dialogs.shown[0].title, "");
}

TEST_F(Preferences, DirectoryInTheWayShowsTheWriteFailure)
{
    ASSERT_TRUE(QDir(folder.path()).mkpath("preferences.txt/keep"));

    EXPECT_FALSE(WritePreferences());
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].text,
        "Exception 21 Is a directory\r\n when writing a file `" + PreferencesPath() + "` in `write_f` module");
    EXPECT_EQ(dialogs.shown[0].style, 0);
    EXPECT_EQ(dialogs.shown[0].title, "");
    EXPECT_TRUE(QFileInfo(PreferencesPath() + "/keep").isDir());
}

} // namespace
