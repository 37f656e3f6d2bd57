#include "frmPOP3User.h"

#include "AppState.h"
#include "Dialogs.h"
#include "FormHelpers.h"
#include "ParsePreferences.h"
#include "SettingsWindow.h"
#include "Text8.h"
#include "modGeneralExceptionHandler.h"
#include "modMain.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

constexpr int ClientWidth = 4770;
constexpr int ClientHeight = 2505;
// Check boxes a little wider than laid out (1215, 1935, 3255), so that their captions show
// whole in this font; the widest still ends inside the frame.
constexpr int SaveBoxWidth = 1320;
constexpr int RunBoxWidth = 2100;
constexpr int DeleteBoxWidth = 3360;

} // namespace

frmPOP3User::frmPOP3User(QWidget* parent)
    : SettingsWindow(parent, QStringLiteral("SET POP3 SERVER DATA"), ClientWidth, ClientHeight, QStringLiteral("frmPOP3User"))
{
    frmReceiveServer = Place(new QGroupBox(this), { 120, 0, 4575, 1935 });
    QGroupBox* frame = frmReceiveServer;
    Place(new QLabel(QStringLiteral("user name:"), frame), { 120, 360, 975, 255 });
    txtUserName = Place(new QLineEdit(frame), { 1200, 360, 3255, 285 });
    Place(new QLabel(QStringLiteral("password:"), frame), { 120, 600, 975, 255 });
    txtPassword = Place(new QLineEdit(frame), { 1200, 600, 1815, 285 });
    chkSaveToDisk = Place(new QCheckBox(QStringLiteral("save to disk"), frame), { 3240, 600, SaveBoxWidth, 255 });
    Place(new QLabel(QStringLiteral("folder:"), frame), { 120, 840, 975, 255 });
    txtFolder = Place(new QLineEdit(frame), { 1200, 840, 3255, 285 });
    chkRunAtStartup = Place(new QCheckBox(QStringLiteral("run server at startup"), frame), { 1200, 1200, RunBoxWidth, 255 });
    chkDeleteIfRequested = Place(
        new QCheckBox(QStringLiteral("delete message(s) if user requested"), frame), { 1200, 1440, DeleteBoxWidth, 255 });

    PlaceButtons(2040);
    SetTabOrder({ txtUserName, txtPassword, chkSaveToDisk, txtFolder, cmdApply, cmdCancel, chkRunAtStartup, chkDeleteIfRequested });
    TakeKeysOf({ txtUserName, txtPassword, txtFolder });

    const AppState& app = App();
    txtUserName->setText(Text8::ToDisplay(app.prefs.POP3User));
    txtPassword->setText(Text8::ToDisplay(app.prefs.POP3UserPassword));
    txtFolder->setText(Text8::ToDisplay(app.prefs.POP3UserFolder));
    chkSaveToDisk->setChecked(app.prefs.POP3UserSavePassword == "Y");
    chkRunAtStartup->setChecked(app.prefs.POP3RunsAtStartup == "Y");
    chkDeleteIfRequested->setChecked(app.prefs.POP3DeleteIfRequested != "N");
}

void frmPOP3User::cmdApply_Click()
{
    AppState& app = App();
    app.prefs.POP3UserFolder = StoredBoxText(txtFolder->text());
    // Decoded as start-up decodes it, so both name the same folder.
    app.paths.POP3MailBoxPath = JoinPath(app.paths.MailFolderPath, QString::fromLocal8Bit(app.prefs.POP3UserFolder));
    // Created at once, so that the server's next login lists the new folder.
    const QString problem = EnsureFolder(app.paths.POP3MailBoxPath);
    if (!problem.isEmpty())
        app.services.dialogs->MsgBox(problem, MsgBoxStyle::OkOnly);
    app.prefs.POP3DeleteIfRequested = CheckedFlag(*chkDeleteIfRequested);
    app.prefs.POP3RunsAtStartup = CheckedFlag(*chkRunAtStartup);
    app.prefs.POP3User = StoredBoxText(txtUserName->text());
    app.prefs.POP3UserPassword = StoredBoxText(txtPassword->text());
    WriteMainNote("POP3 User: " + app.prefs.POP3User);
    WriteMainNote("POP3 Folder: " + app.prefs.POP3UserFolder);
    app.prefs.POP3UserSavePassword = CheckedFlag(*chkSaveToDisk);
    NotePasswordSaving("POP3", app.prefs.POP3UserSavePassword);
    WritePreferences();
    accept();
}

void ShowPOP3SettingsWindow(QWidget* parent) { ShowSettingsWindow<frmPOP3User>(parent); }
