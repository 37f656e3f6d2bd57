#include "frmSend.h"

#include "Console.h"
#include "ConsoleView.h"
#include "FormHelpers.h"
#include "TestApp.h"
#include "modSendForm.h"

#include <QDir>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTest>

namespace {

struct SentFields {
    QByteArray to, from, subject, body, cc;
    bool consoleShown = false;
};

class frmSendTest : public AppTest {
protected:
    frmSendTest()
    {
        App().MailFolderPath = AppPath("MailFolder");
        QDir(AppPath("")).mkpath("MailFolder/SavedMessages");
        window.send = [this](const QByteArray& to, const QByteArray& from, const QByteArray& subject,
                          const QByteArray& body, const QByteArray& cc) {
            sends.append({ to, from, subject, body, cc, window.txtConsole->isVisible() && !window.txtMessage->isVisible() });
        };
        window.ShowWindow();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    QStringList SavedFiles() const { return QDir(AppPath("MailFolder/SavedMessages")).entryList(QDir::Files); }

    frmSend window;
    QList<SentFields> sends;
};

TEST_F(frmSendTest, CaptionAndMenus)
{
    EXPECT_EQ(window.windowTitle(), "Prepare and Send Message");
    QStringList captions;
    for (const QAction* action : window.menuBar()->actions())
        captions.append(action->text());
    EXPECT_EQ(captions, QStringList({ "&Send", "Save &Message", "&Cancel", "Console &Veiw", "&Help" }));
    window.mnuHelp->trigger();
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].text, "Ctrl + Space - SendMessage\r\nEsc          - exit\r\nOne level undo text file is always saved.");
}

TEST_F(frmSendTest, CtrlSpaceInTheMessageSendsOnceAndLeavesTheTextAlone)
{
    window.txtTo->setText(" bob@example.net ");
    window.txtFrom->setText("ann@example.org");
    window.txtCC->setText("  cat@example.com  ");
    window.txtSubject->setText("Lunch");
    window.txtMessage->setFocus();
    QTest::keyClicks(window.txtMessage, "Hello");
    QTest::keyClick(window.txtMessage, Qt::Key_Return);
    QTest::keyClicks(window.txtMessage, "Bob");
    QTextCursor caret = window.txtMessage->textCursor();
    caret.setPosition(3);
    window.txtMessage->setTextCursor(caret);

    QTest::keyClick(window.txtMessage, Qt::Key_Space, Qt::ControlModifier);
    ASSERT_TRUE(WaitFor([this] { return !sends.isEmpty(); }));
    QTest::qWait(20);

    ASSERT_EQ(sends.size(), 1);
    EXPECT_EQ(sends[0].to, " bob@example.net ");
    EXPECT_EQ(sends[0].cc, "cat@example.com");
    EXPECT_EQ(sends[0].body, "Hello\r\nBob");
    EXPECT_TRUE(sends[0].consoleShown);
    EXPECT_EQ(window.txtMessage->toPlainText(), "Hello\nBob");
    EXPECT_EQ(window.txtMessage->textCursor().position(), 3);
    EXPECT_TRUE(window.txtMessage->isVisible());
    EXPECT_FALSE(window.txtConsole->isVisible());

    // A blank typed right after the send is the user's and stays.
    QTest::keyClick(window.txtMessage, Qt::Key_Space);
    QTest::qWait(20);
    EXPECT_EQ(window.txtMessage->toPlainText(), "Hel lo\nBob");
    EXPECT_TRUE(dialogs.shown.isEmpty());
    EXPECT_EQ(sends.size(), 1);
}

TEST_F(frmSendTest, CtrlSpaceInEveryFieldAndOnTheStatusBoxSends)
{
    for (QWidget* box : { static_cast<QWidget*>(window.txtFrom), static_cast<QWidget*>(window.txtTo),
             static_cast<QWidget*>(window.txtCC), static_cast<QWidget*>(window.txtSubject),
             static_cast<QWidget*>(window.txtStatus) }) {
        const qsizetype before = sends.size();
        QTest::keyClick(box, Qt::Key_Space, Qt::ControlModifier);
        ASSERT_TRUE(WaitFor([&] { return sends.size() == before + 1; })) << box->metaObject()->className();
    }
    EXPECT_EQ(window.txtFrom->text(), "");
    EXPECT_EQ(window.txtSubject->text(), "");
}

TEST_F(frmSendTest, EscClosesAndKeepsTheUndoText)
{
    window.txtMessage->setPlainText("draft one\nline two");

    QTest::keyClick(window.txtSubject, Qt::Key_Escape);

    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(ReadAppFile("MailFolder/SavedMessages/saved_send_message_undo.txt"), "draft one\r\nline two");
    EXPECT_EQ(window.txtMessage->toPlainText(), "");
}

TEST_F(frmSendTest, ClosingAWindowThatWasNotShownKeepsTheUndoFile)
{
    window.Unload();
    WriteAppFile("MailFolder/SavedMessages/saved_send_message_undo.txt", "earlier draft");

    window.Unload();

    EXPECT_EQ(ReadAppFile("MailFolder/SavedMessages/saved_send_message_undo.txt"), "earlier draft");
}

TEST_F(frmSendTest, ClosingAppendsTheConsoleAndStartsAfresh)
{
    WriteSendNote("Connected.");
    window.txtTo->setText("bob@example.net");

    window.mnuCancel->trigger();

    EXPECT_EQ(ReadAppFile("console.txt"), ":Connected.\r\n");
    EXPECT_EQ(App().sendConsole.boxText(), "");
    EXPECT_EQ(window.txtTo->text(), "");
}

TEST_F(frmSendTest, SaveMessageNeedsARecipient)
{
    window.txtTo->setText("   ");
    window.txtMessage->setPlainText("keep me");

    window.mnuSaveMessage->trigger();

    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].text, "Please enter \"To\" e-mail address \r\nbecause it is is used as part of file name.");
    EXPECT_TRUE(SavedFiles().isEmpty());
}

TEST_F(frmSendTest, SaveMessageStoresTheTextUnderTheTrimmedRecipient)
{
    clock.now = QDateTime(QDate(2026, 3, 2), QTime(9, 5, 7));
    window.txtTo->setText("  bob@example.net ");
    window.txtSubject->setText("not stored");
    window.txtMessage->setPlainText("only\nthe text");

    window.mnuSaveMessage->trigger();

    EXPECT_EQ(SavedFiles(), QStringList { "bob@example.net__260302_090507.txt" });
    EXPECT_EQ(ReadAppFile("MailFolder/SavedMessages/bob@example.net__260302_090507.txt"), "only\r\nthe text");
    EXPECT_TRUE(App().sendConsole.boxText().endsWith(":Message saved.\r\n"));
}

TEST_F(frmSendTest, FailedSaveIsNotReportedAsSaved)
{
    window.txtTo->setText("bob:evil");

    window.mnuSaveMessage->trigger();

    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_TRUE(dialogs.shown[0].text.startsWith("Exception when saving message to a folder. \r\nSavedMessages"));
    EXPECT_FALSE(App().sendConsole.boxText().contains("Message saved."));
}

TEST_F(frmSendTest, ConsoleViewTwiceRestoresTheMessage)
{
    window.mnuConsoleView->trigger();
    EXPECT_TRUE(window.txtConsole->isVisible());
    EXPECT_FALSE(window.txtMessage->isVisible());
    window.mnuConsoleView->trigger();
    EXPECT_FALSE(window.txtConsole->isVisible());
    EXPECT_TRUE(window.txtMessage->isVisible());
}

TEST_F(frmSendTest, ResizingKeepsTheRightEdgesAligned)
{
    for (const QSize size : { QSize(700, 500), QSize(420, 300) }) {
        window.resize(size);
        QTest::qWait(20);
        const TwipRect message = WidgetTwips(*window.txtMessage);
        for (const QLineEdit* box : { window.txtFrom, window.txtTo, window.txtCC, window.txtSubject }) {
            const TwipRect rect = WidgetTwips(*box);
            EXPECT_EQ(rect.left + rect.width, message.left + message.width);
        }
        EXPECT_EQ(WidgetTwips(*window.txtConsole), message);
        const TwipRect status = WidgetTwips(*window.txtStatus);
        const TwipRect progress = WidgetTwips(*window.ProgressBar1);
        EXPECT_EQ(progress.left, status.left + status.width + 120);
        EXPECT_EQ(progress.width, status.width);
        EXPECT_EQ(WidgetTwips(*window.fraStatus).top, message.top + message.height);
    }
}

} // namespace
