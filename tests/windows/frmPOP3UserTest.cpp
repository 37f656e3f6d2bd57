#include "frmPOP3User.h"

#include "Console.h"
#include "FormHelpers.h"
#include "ProtocolObjects.h"
#include "QtPrinting.h"
#include "StartUp.h"
#include "TestApp.h"
#include "SettingsWindowTesting.h"
#include "frmMain.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTest>

namespace {

class frmPOP3UserTest : public AppTest {
protected:
    frmPOP3UserTest()
    {
        AppState& app = App();
        app.MailFolderPath = AppPath("MailFolder");
        EXPECT_TRUE(QDir().mkpath(app.MailFolderPath));
        app.POP3UserFolder = "POP3MailBox";
        app.POP3MailBoxPath = AppPath("MailFolder/POP3MailBox");
        app.POP3User = "bob";
        app.POP3UserPassword = "old pw";
        app.POP3UserSavePassword = "N";
        app.POP3RunsAtStartup = "N";
        app.POP3DeleteIfRequested = "Y";
        app.ReceiveUser = "joe";
        app.SendUser = "joe2";
        app.SaveReceivePassword = "N";
        app.ReceiveServer = "pop.example.net";
        app.SaveSendPassword = "N";
        app.SendServer = "smtp.example.net";
        app.RetrieveIntervalMs = 300000;
    }

    // The controls by name, in the order the Tab key should visit them.
    static NamedControls Controls(const frmPOP3User& w)
    {
        return { { w.txtUserName, "txtUserName" }, { w.txtPassword, "txtPassword" }, { w.chkSaveToDisk, "chkSaveToDisk" },
            { w.txtFolder, "txtFolder" }, { w.cmdApply, "cmdApply" }, { w.cmdCancel, "cmdCancel" },
            { w.chkRunAtStartup, "chkRunAtStartup" }, { w.chkDeleteIfRequested, "chkDeleteIfRequested" } };
    }

    static QList<QByteArray> Stored()
    {
        const AppState& a = App();
        return { a.POP3User, a.POP3UserPassword, a.POP3UserFolder, a.POP3UserSavePassword, a.POP3RunsAtStartup,
            a.POP3DeleteIfRequested, a.POP3MailBoxPath.toUtf8() };
    }

    QList<QByteArray> Untouched() const
    {
        return { "bob", "old pw", "POP3MailBox", "N", "N", "Y", AppPath("MailFolder/POP3MailBox").toUtf8() };
    }

    static void Type(frmPOP3User& w, const char* user, const char* password, const char* folder)
    {
        w.txtUserName->setText(user);
        w.txtPassword->setText(password);
        w.txtFolder->setText(folder);
    }
};

TEST_F(frmPOP3UserTest, LoadingFillsTheBoxesAsStored)
{
    App().POP3User = "j\xC3\xBCrgen ";
    App().POP3UserPassword = "\tpw";
    App().POP3UserFolder = "Kiste";
    frmPOP3User window;
    EXPECT_EQ(QStringList({ window.txtUserName->text(), window.txtPassword->text(), window.txtFolder->text() }),
        QStringList({ QString::fromUtf8("j\xC3\xBCrgen "), "\tpw", "Kiste" }));
    EXPECT_EQ(App().mainConsole.boxText(), "");
}

struct FlagRow {
    const char* name;
    QByteArray save, run, remove;
    bool saveChecked, runChecked, removeChecked;
};

class frmPOP3UserFlags : public frmPOP3UserTest, public ::testing::WithParamInterface<FlagRow> {};

TEST_P(frmPOP3UserFlags, CheckBoxesShowTheFlagsAndSetStoresYOrN)
{
    const FlagRow& row = GetParam();
    App().POP3UserSavePassword = row.save;
    App().POP3RunsAtStartup = row.run;
    App().POP3DeleteIfRequested = row.remove;
    frmPOP3User window;
    EXPECT_EQ(window.chkSaveToDisk->isChecked(), row.saveChecked);
    EXPECT_EQ(window.chkRunAtStartup->isChecked(), row.runChecked);
    EXPECT_EQ(window.chkDeleteIfRequested->isChecked(), row.removeChecked);

    window.cmdApply_Click();

    EXPECT_EQ(App().POP3UserSavePassword, row.saveChecked ? "Y" : "N");
    EXPECT_EQ(App().POP3RunsAtStartup, row.runChecked ? "Y" : "N");
    EXPECT_EQ(App().POP3DeleteIfRequested, row.removeChecked ? "Y" : "N");
    EXPECT_TRUE(App().mainConsole.boxText().endsWith(
        row.saveChecked ? ":POP3 Password WILL BE SAVED to a disk.\r\n" : ":POP3 Password will NOT BE SAVED to a disk.\r\n"))
        << App().mainConsole.boxText().toStdString();
}

INSTANTIATE_TEST_SUITE_P(POP3Settings, frmPOP3UserFlags,
    ::testing::Values(FlagRow { "all Y", "Y", "Y", "Y", true, true, true },
        FlagRow { "all N", "N", "N", "N", false, false, false },
        FlagRow { "all empty", "", "", "", false, false, true },
        FlagRow { "lower case", "y", "y", "n", false, false, true },
        FlagRow { "deletion anything but N", "N", "Y", "YES", false, true, true }),
    RowName());

using EndRow = WindowEnd<frmPOP3User>;

class frmPOP3UserSet : public frmPOP3UserTest, public ::testing::WithParamInterface<EndRow> {};

TEST_P(frmPOP3UserSet, StoresTrimmedValuesCreatesTheFolderNotesAndRewritesPreferences)
{
    frmPOP3User window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    Type(window, "  local user ", " pw 1 ", " Served ");
    window.chkSaveToDisk->setChecked(true);
    window.chkRunAtStartup->setChecked(true);
    window.chkDeleteIfRequested->setChecked(false);

    End(window, GetParam(), window.cmdApply);

    const QString served = AppPath("MailFolder/Served");
    EXPECT_EQ(Stored(), QList<QByteArray>({ "local user", "pw 1", "Served", "Y", "Y", "N", served.toUtf8() }));
    EXPECT_TRUE(QFileInfo(served).isDir());
    EXPECT_EQ(FileMode(served), 0700u);
    EXPECT_EQ(App().mainConsole.boxText(),
        ":POP3 User: local user\r\n:POP3 Folder: Served\r\n:POP3 Password WILL BE SAVED to a disk.\r\n");
    EXPECT_EQ(ReadAppFile("preferences.txt"), Fixture("pop3server/settings/preferences_after_set.txt"));
    EXPECT_TRUE(dialogs.shown.isEmpty());
    EXPECT_EQ(window.result(), QDialog::Accepted);
    EXPECT_FALSE(window.isVisible());
}

INSTANTIATE_TEST_SUITE_P(POP3Settings, frmPOP3UserSet,
    ::testing::Values(EndRow { "Set button", Action::Button },
        EndRow { "Enter in txtUserName", Action::Key, &frmPOP3User::txtUserName, Qt::Key_Return },
        EndRow { "Enter in txtPassword", Action::Key, &frmPOP3User::txtPassword, Qt::Key_Return },
        EndRow { "Enter in txtFolder", Action::Key, &frmPOP3User::txtFolder, Qt::Key_Return },
        EndRow { "keypad Enter in txtFolder", Action::Key, &frmPOP3User::txtFolder, Qt::Key_Enter }),
    RowName());

class frmPOP3UserCancel : public frmPOP3UserTest, public ::testing::WithParamInterface<EndRow> {};

TEST_P(frmPOP3UserCancel, AfterTypingStoresAndWritesNothing)
{
    frmPOP3User window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.setResult(-1);
    for (QLineEdit* box : { window.txtUserName, window.txtPassword, window.txtFolder })
        QTest::keyClicks(box, "Changed");
    for (QCheckBox* box : { window.chkSaveToDisk, window.chkRunAtStartup, window.chkDeleteIfRequested })
        QTest::keyClick(box, Qt::Key_Space);
    ASSERT_EQ(window.txtFolder->text(), "POP3MailBoxChanged");
    ASSERT_FALSE(window.chkDeleteIfRequested->isChecked());

    End(window, GetParam(), window.cmdCancel);

    EXPECT_EQ(Stored(), Untouched());
    EXPECT_FALSE(QFileInfo::exists(AppPath("preferences.txt")));
    EXPECT_FALSE(QFileInfo::exists(AppPath("MailFolder/POP3MailBoxChanged")));
    EXPECT_EQ(App().mainConsole.boxText(), "");
    EXPECT_EQ(window.result(), QDialog::Rejected);
    EXPECT_FALSE(window.isVisible());
}

INSTANTIATE_TEST_SUITE_P(POP3Settings, frmPOP3UserCancel,
    ::testing::Values(EndRow { "Cancel button", Action::Button }, EndRow { "window closed", Action::Close },
        EndRow { "Esc in txtUserName", Action::Key, &frmPOP3User::txtUserName, Qt::Key_Escape },
        EndRow { "Esc in txtPassword", Action::Key, &frmPOP3User::txtPassword, Qt::Key_Escape },
        EndRow { "Esc in txtFolder", Action::Key, &frmPOP3User::txtFolder, Qt::Key_Escape }),
    RowName());

TEST_F(frmPOP3UserTest, EscAndEnterOutsideTheTextBoxesNeitherSetNorCancel)
{
    frmPOP3User window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    Type(window, "changed", "changed", "NewBox");
    NamedControls outside = Controls(window).mid(4);
    outside.append({ { window.chkSaveToDisk, "chkSaveToDisk" }, { window.frmReceiveServer, "frmReceiveServer" }, { &window, "window" } });
    for (const auto& [control, name] : outside)
        for (const auto& [key, keyName] : { std::pair { Qt::Key_Escape, "Esc" }, { Qt::Key_Return, "Enter" }, { Qt::Key_Enter, "keypad Enter" } }) {
            QTest::keyClick(control, key);
            ASSERT_TRUE(window.isVisible()) << keyName << " in " << name.toStdString();
        }
    EXPECT_EQ(Stored(), Untouched());
    EXPECT_FALSE(QFileInfo::exists(AppPath("preferences.txt")));
}

TEST_F(frmPOP3UserTest, AFileInTheFoldersPlaceIsShownAndTheValuesAreStoredAllTheSame)
{
    WriteAppFile("MailFolder/Taken", "not a folder");
    frmPOP3User window;
    Type(window, "ann", "pw", "Taken");

    window.cmdApply_Click();

    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].kind, ShownDialog::Kind::MsgBox);
    EXPECT_EQ(dialogs.shown[0].text, "Folder name: \r\n" + AppPath("MailFolder/Taken") + "\r\nis aready occupied by file.");
    EXPECT_EQ(dialogs.shown[0].style, 0);
    EXPECT_EQ(dialogs.shown[0].title, "");
    EXPECT_EQ(App().POP3UserFolder, "Taken");
    EXPECT_EQ(App().POP3MailBoxPath, AppPath("MailFolder/Taken"));
    EXPECT_EQ(App().POP3User, "ann");
    EXPECT_TRUE(ReadAppFile("preferences.txt").contains("\r\nPOP3UserFolder=Taken\r\n"));
    EXPECT_EQ(ReadAppFile("MailFolder/Taken"), "not a folder");
    EXPECT_EQ(window.result(), QDialog::Accepted);
}

TEST_F(frmPOP3UserTest, AnEmptyFolderNameServesTheMailStoreItself)
{
    frmPOP3User window;
    Type(window, "", "", "   ");

    window.cmdApply_Click();

    EXPECT_EQ(App().POP3UserFolder, "");
    EXPECT_EQ(App().POP3MailBoxPath, AppPath("MailFolder") + QDir::separator());
    EXPECT_EQ(App().POP3User, "");
    EXPECT_EQ(App().POP3UserPassword, "");
    EXPECT_TRUE(dialogs.shown.isEmpty());
    EXPECT_TRUE(ReadAppFile("preferences.txt").contains("\r\nPOP3User=\r\nPOP3UserSavePassword=N\r\nPOP3UserFolder=\r\n"));
}

TEST_F(frmPOP3UserTest, TabsAreKeptOnlyBlanksAreDropped)
{
    frmPOP3User window;
    Type(window, "\tbob ", " pw\t", " box");

    window.cmdApply_Click();

    EXPECT_EQ(App().POP3User, "\tbob");
    EXPECT_EQ(App().POP3UserPassword, "pw\t");
    EXPECT_EQ(App().POP3UserFolder, "box");
}

TEST_F(frmPOP3UserTest, CaptionsPositionsAndTabOrder)
{
    frmPOP3User window;
    EXPECT_EQ(window.windowTitle(), "SET POP3 SERVER DATA");
    EXPECT_EQ(window.size(), QSize(Twips::ToPixels(4770), Twips::ToPixels(2505)));
    EXPECT_EQ(window.frmReceiveServer->title(), "");
    QStringList labels;
    for (const QLabel* label : window.frmReceiveServer->findChildren<QLabel*>())
        labels.append(label->text());
    EXPECT_EQ(labels, QStringList({ "user name:", "password:", "folder:" }));
    EXPECT_EQ(QStringList({ window.chkSaveToDisk->text(), window.chkRunAtStartup->text(), window.chkDeleteIfRequested->text(),
                  window.cmdApply->text(), window.cmdCancel->text() }),
        QStringList({ "save to disk", "run server at startup", "delete message(s) if user requested", "&Set", "&Cancel" }));
    EXPECT_EQ(window.txtPassword->echoMode(), QLineEdit::Normal);
    EXPECT_FALSE(window.cmdApply->isDefault() || window.cmdApply->autoDefault());
    EXPECT_FALSE(window.cmdCancel->isDefault() || window.cmdCancel->autoDefault());

    EXPECT_EQ(WidgetTwips(*window.frmReceiveServer), (TwipRect { 120, 0, 4575, 1935 }));
    EXPECT_EQ(window.txtFolder->parentWidget(), window.frmReceiveServer);
    EXPECT_EQ(WidgetTwips(*window.txtFolder), (TwipRect { 1200, 840, 3255, 285 }));
    // The check boxes may be wider than laid out, so that their captions show whole, but stay in the frame.
    const QList<std::pair<QCheckBox*, TwipRect>> boxes { { window.chkSaveToDisk, { 3240, 600, 1215, 255 } },
        { window.chkRunAtStartup, { 1200, 1200, 1935, 255 } }, { window.chkDeleteIfRequested, { 1200, 1440, 3255, 255 } } };
    for (const auto& [box, laidOut] : boxes) {
        const TwipRect placed = WidgetTwips(*box);
        EXPECT_EQ((TwipRect { placed.left, placed.top, laidOut.width, placed.height }), laidOut) << box->text().toStdString();
        const int needed = box->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, box)
            + box->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, box)
            + box->fontMetrics().horizontalAdvance(box->text());
        EXPECT_GE(box->width(), needed) << box->text().toStdString();
        EXPECT_LT(box->geometry().right(), window.frmReceiveServer->width() - 1) << box->text().toStdString();
    }
    EXPECT_EQ(WidgetTwips(*window.cmdApply), (TwipRect { 2520, 2040, 2175, 375 }));
    EXPECT_EQ(WidgetTwips(*window.cmdCancel), (TwipRect { 120, 2040, 2295, 375 }));

    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    window.txtUserName->setFocus();
    QStringList visited;
    for (int i = 0; i < 8; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.append(ControlName(Controls(window), QApplication::focusWidget()));
    }
    EXPECT_EQ(visited, QStringList({ "txtPassword", "chkSaveToDisk", "txtFolder", "cmdApply", "cmdCancel", "chkRunAtStartup",
                           "chkDeleteIfRequested", "txtUserName" }));
}

// From a settings file without the deletion key, through start-up and the Tools menu, to the
// new folder on disk.
TEST_F(frmPOP3UserTest, ToolsMenuShowsTheWindowModallyFromTheLoadedSettings)
{
    WriteAppFile("preferences.txt",
        "user=joe\r\npassword=secret\r\nsave_password=Y\r\nserver=pop.example.net\r\n"
        "POP3User=bob\r\nPOP3UserFolder=Box1\r\nPOP3RunsAtStartup=N\r\n");
    frmMain mainWindow;
    ProtocolObjects objects;
    ASSERT_EQ(Main(mainWindow, objects), StartUpOutcome::Running);
    ASSERT_TRUE(dialogs.shown.isEmpty());
    App().mainConsole.setBoxText({});
    bool deletionChecked = false;
    QString shownFolder;
    dialogs.whileModal = [&](QDialog& shown) {
        auto* window = qobject_cast<frmPOP3User*>(&shown);
        ASSERT_NE(window, nullptr);
        deletionChecked = window->chkDeleteIfRequested->isChecked();
        shownFolder = window->txtFolder->text();
        window->txtFolder->selectAll();
        QTest::keyClicks(window->txtFolder, " Box2 ");
        QTest::keyClick(window->txtFolder, Qt::Key_Return);
    };

    mainWindow.mnuSetPOP3->trigger();

    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].kind, ShownDialog::Kind::Window);
    EXPECT_EQ(dialogs.shown[0].title, "SET POP3 SERVER DATA");
    EXPECT_TRUE(deletionChecked);
    EXPECT_EQ(shownFolder, "Box1");
    EXPECT_EQ(App().POP3DeleteIfRequested, "Y");
    EXPECT_EQ(App().POP3UserFolder, "Box2");
    EXPECT_EQ(App().POP3MailBoxPath, AppPath("MailFolder/Box2"));
    EXPECT_TRUE(QFileInfo(AppPath("MailFolder/Box2")).isDir());
    EXPECT_EQ(App().mainConsole.boxText(),
        ":POP3 User: bob\r\n:POP3 Folder: Box2\r\n:POP3 Password will NOT BE SAVED to a disk.\r\n");
}

} // namespace
