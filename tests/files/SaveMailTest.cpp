// Message files of the mail store: retrieved messages in the inbox, composed messages in their
// folders, the undo file, and the failures the user is shown.

#include "QtPrinting.h"
#include "TestApp.h"
#include "modSaveMail.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

namespace {

class SaveMail : public AppTest {
protected:
    SaveMail()
    {
        clock.now = QDateTime(QDate(2026, 3, 2), QTime(9, 5, 7));
        App().MailFolderPath = folder.path() + QStringLiteral("/MailFolder");
        App().InBoxPath = App().MailFolderPath + QStringLiteral("/InBox");
        for (const char* name : { "SentMessages", "SavedMessages", "InBox" })
            EXPECT_TRUE(QDir().mkpath(App().MailFolderPath + QLatin1Char('/') + QLatin1String(name)));
    }

    // A path inside the mail folder.
    QString Mail(const QString& relative) const { return App().MailFolderPath + QLatin1Char('/') + relative; }

    static QByteArray Read(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    // Every file under the application folder (hidden ones too), relative to it, sorted.
    QStringList AllFiles() const
    {
        QStringList files;
        QDirIterator it(folder.path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << QDir(folder.path()).relativeFilePath(it.next());
        files.sort();
        return files;
    }

    const QByteArray message = Fixture(QStringLiteral("send/received-message.txt"));
};

// ---- Retrieved messages ----

TEST_F(SaveMail, ReceivedMessageIsStoredExactlyUnderItsTimeAndNumber)
{
    EXPECT_TRUE(SaveReceivedMessage(message, 12));

    EXPECT_EQ(AllFiles(), QStringList { QStringLiteral("MailFolder/InBox/260302_090507__12.txt") });
    EXPECT_EQ(Read(Mail(QStringLiteral("InBox/260302_090507__12.txt"))), Fixture(QStringLiteral("send/received-message.txt")));
    EXPECT_EQ(FileMode(Mail(QStringLiteral("InBox/260302_090507__12.txt"))), 0600u);
    EXPECT_TRUE(dialogs.shown.isEmpty());
    EXPECT_EQ(clock.sleeps, 0);
}

class SecondReceivedSave : public SaveMail, public ::testing::WithParamInterface<int> {};

TEST_P(SecondReceivedSave, WaitsForTheNextSecondAndLeavesTheFirstFile)
{
    clock.now = clock.now.addMSecs(GetParam());
    ASSERT_TRUE(SaveReceivedMessage("first\r\n", 12));
    EXPECT_EQ(clock.sleeps, 0);

    EXPECT_TRUE(SaveReceivedMessage("second\r\n", 12));

    EXPECT_GE(clock.sleeps, 1);
    EXPECT_EQ(clock.now.time().second(), 8);
    EXPECT_EQ(AllFiles(),
        (QStringList { QStringLiteral("MailFolder/InBox/260302_090507__12.txt"), QStringLiteral("MailFolder/InBox/260302_090508__12.txt") }));
    EXPECT_EQ(Read(Mail(QStringLiteral("InBox/260302_090507__12.txt"))), QByteArray("first\r\n"));
    EXPECT_EQ(Read(Mail(QStringLiteral("InBox/260302_090508__12.txt"))), QByteArray("second\r\n"));
}

INSTANTIATE_TEST_SUITE_P(SaveReceivedMessage, SecondReceivedSave, ::testing::Values(0, 250, 999),
    [](const ::testing::TestParamInfo<int>& info) { return "at_millisecond_" + std::to_string(info.param); });

TEST_F(SaveMail, NamesUseAsciiDigitsWhateverTheLocale)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::Arabic, QLocale::Egypt));
    const bool stored = SaveReceivedMessage("x\r\n", 7) && SaveComposedMessage("y\r\n", "bob@x", QStringLiteral("SentMessages"));
    QLocale::setDefault(saved);

    EXPECT_TRUE(stored);
    EXPECT_EQ(AllFiles(),
        (QStringList { QStringLiteral("MailFolder/InBox/260302_090507__7.txt"), QStringLiteral("MailFolder/SentMessages/bob@x__260302_090507.txt") }));
}

TEST_F(SaveMail, OtherNumberInTheSameSecondDoesNotWait)
{
    ASSERT_TRUE(SaveReceivedMessage("twelve\r\n", 12));
    EXPECT_TRUE(SaveReceivedMessage("thirteen\r\n", 13));

    EXPECT_EQ(clock.sleeps, 0);
    EXPECT_EQ(Read(Mail(QStringLiteral("InBox/260302_090507__13.txt"))), QByteArray("thirteen\r\n"));
}

TEST_F(SaveMail, ReceivedMessageIntoMissingInBoxIsReported)
{
    ASSERT_TRUE(QDir(Mail(QStringLiteral("InBox"))).removeRecursively());

    EXPECT_FALSE(SaveReceivedMessage(message, 12));

    ASSERT_EQ(dialogs.shown.size(), 1);
    const QString text = dialogs.shown[0].text;
    EXPECT_TRUE(text.startsWith(QStringLiteral("EXCEPTION 2048\r\n"))) << text.toStdString();
    EXPECT_TRUE(text.endsWith(QStringLiteral("\r\nException when saving message to file: \r\n") + Mail(QStringLiteral("InBox/260302_090507__12.txt"))))
        << text.toStdString();
    EXPECT_EQ(dialogs.shown[0].style, 0);
    EXPECT_TRUE(AllFiles().isEmpty()) << AllFiles().join(QLatin1Char(' ')).toStdString();
}

// ---- Composed messages ----

TEST_F(SaveMail, ComposedMessageIsNamedAfterItsRecipientAndTime)
{
    EXPECT_TRUE(SaveComposedMessage(message, "bob@x", QStringLiteral("SentMessages")));

    EXPECT_EQ(AllFiles(), QStringList { QStringLiteral("MailFolder/SentMessages/bob@x__260302_090507.txt") });
    EXPECT_EQ(Read(Mail(QStringLiteral("SentMessages/bob@x__260302_090507.txt"))), Fixture(QStringLiteral("send/received-message.txt")));
    EXPECT_EQ(FileMode(Mail(QStringLiteral("SentMessages/bob@x__260302_090507.txt"))), 0600u);
    EXPECT_TRUE(dialogs.shown.isEmpty());
}

TEST_F(SaveMail, TwoSavesToOneAddressInOneSecondAreASecondApart)
{
    ASSERT_TRUE(SaveComposedMessage("one\r\n", "bob@x", QStringLiteral("SavedMessages")));
    EXPECT_TRUE(SaveComposedMessage("two\r\n", "bob@x", QStringLiteral("SavedMessages")));

    EXPECT_GE(clock.sleeps, 1);
    EXPECT_EQ(Read(Mail(QStringLiteral("SavedMessages/bob@x__260302_090507.txt"))), QByteArray("one\r\n"));
    EXPECT_EQ(Read(Mail(QStringLiteral("SavedMessages/bob@x__260302_090508.txt"))), QByteArray("two\r\n"));
    EXPECT_EQ(AllFiles().size(), 2);
}

TEST_F(SaveMail, UndoFileIsReplacedEveryTime)
{
    const QString undo = Mail(QStringLiteral("SavedMessages/saved_send_message_undo.txt"));

    ASSERT_TRUE(SaveComposedMessage("first draft\r\n", "bob@x", QStringLiteral("U_N_D_O")));
    EXPECT_EQ(Read(undo), QByteArray("first draft\r\n"));
    ASSERT_TRUE(SaveComposedMessage("second\r\n", "bob@x", QStringLiteral("U_N_D_O")));
    EXPECT_EQ(Read(undo), QByteArray("second\r\n"));
    ASSERT_TRUE(SaveComposedMessage("", "", QStringLiteral("U_N_D_O")));
    EXPECT_EQ(Read(undo), QByteArray());

    EXPECT_EQ(AllFiles(), QStringList { QStringLiteral("MailFolder/SavedMessages/saved_send_message_undo.txt") });
    EXPECT_EQ(clock.sleeps, 0);
    EXPECT_TRUE(dialogs.shown.isEmpty());
}

struct RecipientRow {
    const char* name;
    QByteArray recipient;
};

class UnusableRecipient : public SaveMail, public ::testing::WithParamInterface<RecipientRow> {};

TEST_P(UnusableRecipient, IsRefusedWithABoxAndWritesNothing)
{
    const QString attempted = Mail(QStringLiteral("SentMessages/")) + QString::fromUtf8(GetParam().recipient) + QStringLiteral("__260302_090507.txt");

    EXPECT_FALSE(SaveComposedMessage(message, GetParam().recipient, QStringLiteral("SentMessages")));

    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].text, QStringLiteral("Exception when saving message to a folder. \r\nSentMessages\r\nBasic File name: ") + attempted);
    EXPECT_EQ(dialogs.shown[0].style, 0);
    EXPECT_TRUE(AllFiles().isEmpty()) << AllFiles().join(QLatin1Char(' ')).toStdString();
}

INSTANTIATE_TEST_SUITE_P(SaveComposedMessage, UnusableRecipient,
    ::testing::Values(
        RecipientRow { "colon", "bob:x" },
        RecipientRow { "slash", "bob/x" },
        RecipientRow { "up one folder", "../x" },
        RecipientRow { "up two folders", "../../x" },
        RecipientRow { "backslash", "bob\\x" },
        RecipientRow { "star", "bob*" },
        RecipientRow { "question mark", "bob?" },
        RecipientRow { "double quote", "\"bob\"@x" },
        RecipientRow { "less than", "<bob@x" },
        RecipientRow { "greater than", "bob@x>" },
        RecipientRow { "bar", "bob|x" },
        RecipientRow { "tab", "bob\tx" },
        RecipientRow { "line feed", "bob@x\n" },
        RecipientRow { "escape", "\x1b" "bob" },
        RecipientRow { "delete", "bob\x7f" }),
    RowName());

TEST_F(SaveMail, ComposedMessageIntoMissingFolderIsReported)
{
    EXPECT_FALSE(SaveComposedMessage(message, "bob@x", QStringLiteral("NoSuchFolder")));

    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].text, QStringLiteral("Exception when saving message to a folder. \r\nNoSuchFolder\r\nBasic File name: ")
            + Mail(QStringLiteral("NoSuchFolder/bob@x__260302_090507.txt")));
    EXPECT_EQ(dialogs.shown[0].style, 0);
    EXPECT_TRUE(AllFiles().isEmpty()) << AllFiles().join(QLatin1Char(' ')).toStdString();
}

TEST_F(SaveMail, UndoIntoMissingSavedMessagesIsReported)
{
    ASSERT_TRUE(QDir(Mail(QStringLiteral("SavedMessages"))).removeRecursively());

    EXPECT_FALSE(SaveComposedMessage(message, "bob@x", QStringLiteral("U_N_D_O")));

    ASSERT_EQ(dialogs.shown.size(), 1);
    const QString text = dialogs.shown[0].text;
    EXPECT_TRUE(text.startsWith(QStringLiteral("Exception when saving message to a folder. \r\n"))) << text.toStdString();
    EXPECT_TRUE(text.endsWith(QStringLiteral("\r\nBasic File name: ") + Mail(QStringLiteral("SavedMessages/saved_send_message_undo.txt"))))
        << text.toStdString();
    EXPECT_TRUE(AllFiles().isEmpty()) << AllFiles().join(QLatin1Char(' ')).toStdString();
}

// ---- Messages for the user ----

TEST_F(SaveMail, EmptyMessageShowsNothing)
{
    EXPECT_TRUE(ShowMessageIfAny(QString()));
    EXPECT_TRUE(dialogs.shown.isEmpty());
}

struct ShowRow {
    const char* name;
    QString text;
    QString shown;
};

class ShownMessage : public AppTest, public ::testing::WithParamInterface<ShowRow> {};

TEST_P(ShownMessage, ShowsTheFirstThousandCharacters)
{
    EXPECT_FALSE(ShowMessageIfAny(GetParam().text));

    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].text, GetParam().shown);
    EXPECT_EQ(dialogs.shown[0].style, 0);
}

// U+1F600, one character of two UTF-16 units.
const QString Grin = QStringLiteral("\U0001F600");

INSTANTIATE_TEST_SUITE_P(ShowMessageIfAny, ShownMessage,
    ::testing::Values(
        ShowRow { "short text whole", QStringLiteral("Could not connect."), QStringLiteral("Could not connect.") },
        ShowRow { "exactly 1000 characters whole", QString(1000, QLatin1Char('a')), QString(1000, QLatin1Char('a')) },
        ShowRow { "5000 characters cut to 1000", QString(1000, QLatin1Char('a')) + QString(4000, QLatin1Char('b')), QString(1000, QLatin1Char('a')) },
        ShowRow { "characters outside the basic plane count once", Grin.repeated(5000), Grin.repeated(1000) },
        ShowRow { "cut never splits a character", QString(999, QLatin1Char('a')) + Grin + Grin, QString(999, QLatin1Char('a')) + Grin }),
    RowName());

} // namespace
