#include "frmUser.h"

#include "Console.h"
#include "QtPrinting.h"
#include "TestApp.h"
#include "SettingsWindowTesting.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

const QByteArray ResetNote = ":\"Since last attention counter\" is reset to 0.\r\n";

class frmUserTest : public AppTest {
protected:
    frmUserTest()
    {
        AppState& app = App();
        app.ReceiveUser = "joe";
        app.ReceivePassword = "secret";
        app.ReceiveServer = "pop.example.net";
        app.SendUser = "joe2 ";
        app.SendPassword = " sp";
        app.SendServer = "smtp.example.net";
        app.SaveReceivePassword = "Y";
        app.SaveSendPassword = "N";
    }

    // The controls by name, in the order the Tab key should visit them.
    static NamedControls Controls(const frmUser& w)
    {
        return { { w.txtUserName, "txtUserName" }, { w.txtPassword, "txtPassword" }, { w.chkSaveToDisk, "chkSaveToDisk" },
            { w.txtServer, "txtServer" }, { w.txtSendUser, "txtSendUser" }, { w.txtSendPassword, "txtSendPassword" },
            { w.chkSendSaveToDisk, "chkSendSaveToDisk" }, { w.txtSendServer, "txtSendServer" }, { w.cmdApply, "cmdApply" },
            { w.cmdCancel, "cmdCancel" } };
    }

    static QList<QByteArray> Stored()
    {
        const AppState& a = App();
        return { a.ReceiveUser, a.ReceivePassword, a.ReceiveServer, a.SendUser, a.SendPassword, a.SendServer,
            a.SaveReceivePassword, a.SaveSendPassword };
    }
};

TEST_F(frmUserTest, LoadingFillsTheBoxesAndResetsAttention)
{
    App().ReceiveUser = "j\xC3\xBCrgen";
    App().SinceLastAttentionCounter = 5;
    App().mainConsole.setStatusColour(StatusColour::LightCyan);
    {
        frmUser window;
        EXPECT_TRUE(App().UserFormOpen);
        EXPECT_EQ(App().SinceLastAttentionCounter, 0);
        EXPECT_EQ(App().mainConsole.statusColour(), qRgb(192, 192, 192));
        EXPECT_EQ(App().mainConsole.boxText(), ResetNote);
        const frmUser& w = window;
        EXPECT_EQ(QStringList({ w.txtUserName->text(), w.txtPassword->text(), w.txtServer->text(), w.txtSendUser->text(),
                      w.txtSendPassword->text(), w.txtSendServer->text() }),
            QStringList({ QString::fromUtf8("j\xC3\xBCrgen"), "secret", "pop.example.net", "joe2 ", " sp", "smtp.example.net" }));
    }
    EXPECT_FALSE(App().UserFormOpen);
}

TEST_F(frmUserTest, CaptionLabelsButtonsAndEnabledControls)
{
    frmUser window;
    EXPECT_EQ(window.windowTitle(), "SET USRER DATA");
    QStringList frames;
    for (const QGroupBox* frame : window.findChildren<QGroupBox*>()) {
        QStringList labels;
        for (const QLabel* label : frame->findChildren<QLabel*>())
            labels.append(label->text());
        frames.append(frame->title() + ": " + labels.join('|'));
    }
    EXPECT_EQ(frames, QStringList({ "receive server: user name:|password:|server:", "send server: user name:|password|server" }));
    EXPECT_EQ(window.cmdApply->text(), "&Set");
    EXPECT_EQ(window.cmdCancel->text(), "&Cancel");
    EXPECT_EQ(window.txtPassword->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(window.txtSendPassword->echoMode(), QLineEdit::Normal);
    QStringList disabled;
    for (const auto& [control, name] : Controls(window))
        if (!control->isEnabled())
            disabled.append(name);
    EXPECT_EQ(disabled, QStringList({ "txtSendUser", "txtSendPassword", "chkSendSaveToDisk" }));
}

TEST_F(frmUserTest, TabVisitsTheEnabledControlsInOrder)
{
    frmUser window;
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    window.txtUserName->setFocus();
    QStringList visited;
    for (int i = 0; i < 7; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.append(ControlName(Controls(window), QApplication::focusWidget()));
    }
    EXPECT_EQ(visited,
        QStringList({ "txtPassword", "chkSaveToDisk", "txtServer", "txtSendServer", "cmdApply", "cmdCancel", "txtUserName" }));
}

struct FlagRow {
    const char* name;
    QByteArray receiveFlag, sendFlag;
    bool receiveChecked, sendChecked;
    QByteArray receiveNote, sendNote;
};

class frmUserFlags : public frmUserTest, public ::testing::WithParamInterface<FlagRow> {};

TEST_P(frmUserFlags, CheckBoxesShowTheFlagsAndSetStoresYOrN)
{
    const FlagRow& row = GetParam();
    App().SaveReceivePassword = row.receiveFlag;
    App().SaveSendPassword = row.sendFlag;
    frmUser window;
    EXPECT_EQ(window.chkSaveToDisk->isChecked(), row.receiveChecked);
    EXPECT_EQ(window.chkSendSaveToDisk->isChecked(), row.sendChecked);

    window.cmdApply_Click();

    EXPECT_EQ(App().SaveReceivePassword, row.receiveChecked ? "Y" : "N");
    EXPECT_EQ(App().SaveSendPassword, row.sendChecked ? "Y" : "N");
    EXPECT_TRUE(App().mainConsole.boxText().endsWith(':' + row.receiveNote + "\r\n:" + row.sendNote + "\r\n"))
        << App().mainConsole.boxText().toStdString();
}

const QByteArray ReceiveSaved = "Receive Password WILL BE SAVED to a disk.";
const QByteArray ReceiveNotSaved = "Receive Password will NOT BE SAVED to a disk.";
const QByteArray SendSaved = "Send Password WILL BE SAVED to a disk.";
const QByteArray SendNotSaved = "Send Password will NOT BE SAVED to a disk.";

INSTANTIATE_TEST_SUITE_P(Account, frmUserFlags,
    ::testing::Values(FlagRow { "both Y", "Y", "Y", true, true, ReceiveSaved, SendSaved },
        FlagRow { "both N", "N", "N", false, false, ReceiveNotSaved, SendNotSaved },
        FlagRow { "lower-case y", "y", "Y", false, true, ReceiveNotSaved, SendSaved },
        FlagRow { "empty flags", "", "", false, false, ReceiveNotSaved, SendNotSaved },
        FlagRow { "Y and empty", "Y", "", true, false, ReceiveSaved, SendNotSaved }),
    RowName());

using EndRow = WindowEnd<frmUser>;

class frmUserSet : public frmUserTest, public ::testing::WithParamInterface<EndRow> {};

TEST_P(frmUserSet, StoresTrimmedValuesNotesThemAndCloses)
{
    frmUser window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.txtUserName->setText("  joe  ");
    window.txtPassword->setText(" pa ss ");
    window.txtServer->setText("\tpop.example ");
    window.txtSendServer->setText(" smtp.example.net:587");

    End(window, GetParam(), window.cmdApply);

    EXPECT_EQ(Stored(), QList<QByteArray>({ "joe", "pa ss", "\tpop.example", "joe2", "sp", "smtp.example.net:587", "Y", "N" }));
    EXPECT_EQ(App().mainConsole.boxText(),
        ResetNote + ":Receive User: joe\r\n:Receive Server: \tpop.example\r\n:Send User: joe2\r\n"
                    ":Send Server: smtp.example.net:587\r\n:"
            + ReceiveSaved + "\r\n:" + SendNotSaved + "\r\n");
    EXPECT_FALSE(ReadAppFile("preferences.txt").isEmpty());
    EXPECT_EQ(window.result(), QDialog::Accepted);
    EXPECT_FALSE(window.isVisible());
}

INSTANTIATE_TEST_SUITE_P(Account, frmUserSet,
    ::testing::Values(EndRow { "Set button", Action::Button }, EndRow { "cmdApply_Click", Action::Call },
        EndRow { "Enter in txtUserName", Action::Key, &frmUser::txtUserName, Qt::Key_Return },
        EndRow { "Enter in txtPassword", Action::Key, &frmUser::txtPassword, Qt::Key_Return },
        EndRow { "Enter in txtServer", Action::Key, &frmUser::txtServer, Qt::Key_Return },
        EndRow { "Enter in txtSendUser", Action::Key, &frmUser::txtSendUser, Qt::Key_Return },
        EndRow { "Enter in txtSendPassword", Action::Key, &frmUser::txtSendPassword, Qt::Key_Return },
        EndRow { "Enter in txtSendServer", Action::Key, &frmUser::txtSendServer, Qt::Key_Return },
        EndRow { "keypad Enter in txtServer", Action::Key, &frmUser::txtServer, Qt::Key_Enter }),
    RowName());

TEST_F(frmUserTest, SetRewritesPreferencesWithOnlySavedPasswords)
{
    AppState& app = App();
    app.RetrieveIntervalMs = 600000;
    app.POP3User = "local";
    app.POP3UserPassword = "hidden";
    app.POP3UserSavePassword = "N";
    app.POP3UserFolder = "box";
    app.POP3RunsAtStartup = "Y";
    app.POP3DeleteIfRequested = "N";
    frmUser window;
    window.txtPassword->setText("pa ss");
    window.txtServer->setText(" pop.example.net ");
    window.txtSendServer->setText("smtp.example.net:587");

    window.cmdApply_Click();

    EXPECT_EQ(ReadAppFile("preferences.txt"), Fixture("shell/preferences_after_set.txt"));
}

class frmUserCancel : public frmUserTest, public ::testing::WithParamInterface<EndRow> {};

TEST_P(frmUserCancel, StoresNothingButStillResetsAttention)
{
    const QByteArray preferences = Fixture("common/preferences_joe.txt");
    WriteAppFile("preferences.txt", preferences);
    App().SinceLastAttentionCounter = 3;
    frmUser window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.setResult(-1);
    for (QLineEdit* box : { window.txtUserName, window.txtPassword, window.txtServer, window.txtSendServer })
        box->setText("changed");
    window.chkSaveToDisk->setChecked(false);

    End(window, GetParam(), window.cmdCancel);

    EXPECT_EQ(Stored(), QList<QByteArray>({ "joe", "secret", "pop.example.net", "joe2 ", " sp", "smtp.example.net", "Y", "N" }));
    EXPECT_EQ(ReadAppFile("preferences.txt"), preferences);
    EXPECT_EQ(App().mainConsole.boxText(), ResetNote);
    EXPECT_EQ(App().SinceLastAttentionCounter, 0);
    EXPECT_EQ(window.result(), QDialog::Rejected);
    EXPECT_FALSE(window.isVisible());
}

INSTANTIATE_TEST_SUITE_P(Account, frmUserCancel,
    ::testing::Values(EndRow { "Cancel button", Action::Button }, EndRow { "window closed", Action::Close },
        EndRow { "Esc in txtUserName", Action::Key, &frmUser::txtUserName, Qt::Key_Escape },
        EndRow { "Esc in txtPassword", Action::Key, &frmUser::txtPassword, Qt::Key_Escape },
        EndRow { "Esc in txtServer", Action::Key, &frmUser::txtServer, Qt::Key_Escape },
        EndRow { "Esc in txtSendUser", Action::Key, &frmUser::txtSendUser, Qt::Key_Escape },
        EndRow { "Esc in txtSendPassword", Action::Key, &frmUser::txtSendPassword, Qt::Key_Escape },
        EndRow { "Esc in txtSendServer", Action::Key, &frmUser::txtSendServer, Qt::Key_Escape }),
    RowName());

TEST_F(frmUserTest, ShowAccountWindowStoresWhatWasTypedBeforeReturning)
{
    App().SaveReceivePassword = "N";
    bool openWhileShown = false;
    dialogs.whileModal = [&](QDialog& shown) {
        auto* window = qobject_cast<frmUser*>(&shown);
        ASSERT_NE(window, nullptr);
        openWhileShown = App().UserFormOpen && window->isVisible();
        window->txtUserName->clear();
        QTest::keyClicks(window->txtUserName, " ann ");
        QTest::keyClick(window->chkSaveToDisk, Qt::Key_Space);
        window->txtServer->clear();
        QTest::keyClicks(window->txtServer, "pop.test");
        QTest::keyClick(window->txtServer, Qt::Key_Return);
    };

    ShowAccountWindow(nullptr);

    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_TRUE(dialogs.shown[0].kind == ShownDialog::Kind::Window && dialogs.shown[0].title == "SET USRER DATA");
    EXPECT_TRUE(openWhileShown);
    EXPECT_FALSE(App().UserFormOpen);
    EXPECT_EQ(App().ReceiveUser, "ann");
    EXPECT_EQ(App().ReceiveServer, "pop.test");
    EXPECT_EQ(App().SaveReceivePassword, "Y");
    EXPECT_TRUE(ReadAppFile("preferences.txt").startsWith("user=ann\r\nsend user=joe2\r\npassword=secret\r\n"));
}

} // namespace
