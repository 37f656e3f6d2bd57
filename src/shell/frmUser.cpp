#include "frmUser.h"

#include "AppState.h"
#include "Attention.h"
#include "FormHelpers.h"
#include "Dialogs.h"
#include "ParsePreferences.h"
#include "ServerName.h"
#include "SettingsWindow.h"
#include "Text8.h"
#include "modGeneralExceptionHandler.h"
#include "modMain.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

constexpr int ClientWidth = 4770;
constexpr int ClientHeight = 3105;
// A little wider than laid out (1215), so that "save to disk" shows whole in this font.
constexpr int SaveBoxWidth = 1320;

// A name no session could connect to is said so at once, not first when a session tries it.
void NoteIfNoServerName(const QByteArray& name, const ServerSchemes& schemes)
{
    const QString error = ParseServerName(Text8::ToDisplay(name), schemes).error;
    if (!error.isEmpty())
        WriteMainNote(Text8::FromDisplay(error));
}

} // namespace

// The title, "USRER" included, is the one users know.
frmUser::frmUser(QWidget* parent)
    : SettingsWindow(parent, QStringLiteral("SET USRER DATA"), ClientWidth, ClientHeight, QStringLiteral("frmUser"))
{
    auto* receive = Place(new QGroupBox(QStringLiteral("receive server"), this), { 120, 0, 4575, 1215 });
    Place(new QLabel(QStringLiteral("user name:"), receive), { 120, 360, 975, 255 });
    txtUserName = Place(new QLineEdit(receive), { 1200, 360, 3255, 285 });
    Place(new QLabel(QStringLiteral("password:"), receive), { 120, 600, 975, 255 });
    txtPassword = Place(new QLineEdit(receive), { 1200, 600, 1815, 285 });
    chkSaveToDisk = Place(new QCheckBox(QStringLiteral("save to disk"), receive), { 3240, 600, SaveBoxWidth, 255 });
    Place(new QLabel(QStringLiteral("server:"), receive), { 120, 840, 975, 255 });
    txtServer = Place(new QLineEdit(receive), { 1200, 840, 3255, 285 });

    auto* send = Place(new QGroupBox(QStringLiteral("send server"), this), { 120, 1320, 4575, 1215 });
    Place(new QLabel(QStringLiteral("user name:"), send), { 120, 360, 975, 255 });
    txtSendUser = Place(new QLineEdit(send), { 1200, 360, 3255, 285 });
    Place(new QLabel(QStringLiteral("password"), send), { 120, 600, 975, 255 });
    txtSendPassword = Place(new QLineEdit(send), { 1200, 600, 1815, 285 });
    chkSendSaveToDisk = Place(new QCheckBox(QStringLiteral("save to disk"), send), { 3240, 600, SaveBoxWidth, 255 });
    Place(new QLabel(QStringLiteral("server"), send), { 120, 840, 975, 255 });
    txtSendServer = Place(new QLineEdit(send), { 1200, 840, 3255, 285 });

    PlaceButtons(2640);
    SetTabOrder({ txtUserName, txtPassword, chkSaveToDisk, txtServer, txtSendUser, txtSendPassword, chkSendSaveToDisk,
        txtSendServer, cmdApply, cmdCancel });
    TakeKeysOf({ txtUserName, txtPassword, txtServer, txtSendUser, txtSendPassword, txtSendServer });

    AppState& app = App();
    ResetAttentionCounter();
    txtUserName->setText(Text8::ToDisplay(app.prefs.ReceiveUser));
    txtPassword->setText(Text8::ToDisplay(app.prefs.ReceivePassword));
    txtServer->setText(Text8::ToDisplay(app.prefs.ReceiveServer));
    txtSendUser->setText(Text8::ToDisplay(app.prefs.SendUser));
    txtSendPassword->setText(Text8::ToDisplay(app.prefs.SendPassword));
    txtSendServer->setText(Text8::ToDisplay(app.prefs.SendServer));
    chkSaveToDisk->setChecked(app.prefs.SaveReceivePassword == "Y");
    chkSendSaveToDisk->setChecked(app.prefs.SaveSendPassword == "Y");
    // Taken for open only once the window stands: a window that failed to load (its note could
    // not be written) would otherwise turn every later send and retrieval away.
    app.lifecycle.UserFormOpen = true;
}

frmUser::~frmUser() { App().lifecycle.UserFormOpen = false; }

void frmUser::cmdApply_Click()
{
    AppState& app = App();
    app.prefs.ReceiveUser = StoredBoxText(txtUserName->text());
    app.prefs.ReceivePassword = StoredBoxText(txtPassword->text());
    app.prefs.ReceiveServer = StoredBoxText(txtServer->text());
    app.prefs.SendUser = StoredBoxText(txtSendUser->text());
    app.prefs.SendServer = StoredBoxText(txtSendServer->text());
    app.prefs.SendPassword = StoredBoxText(txtSendPassword->text());
    WriteMainNote("Receive User: " + app.prefs.ReceiveUser);
    WriteMainNote("Receive Server: " + app.prefs.ReceiveServer);
    NoteIfNoServerName(app.prefs.ReceiveServer, Pop3Schemes);
    WriteMainNote("Send User: " + app.prefs.SendUser);
    WriteMainNote("Send Server: " + app.prefs.SendServer);
    NoteIfNoServerName(app.prefs.SendServer, SmtpSchemes);
    app.prefs.SaveReceivePassword = CheckedFlag(*chkSaveToDisk);
    NotePasswordSaving("Receive", app.prefs.SaveReceivePassword);
    app.prefs.SaveSendPassword = CheckedFlag(*chkSendSaveToDisk);
    NotePasswordSaving("Send", app.prefs.SaveSendPassword);
    WritePreferences();
    accept();
}

void ShowAccountWindow(QWidget* parent) { ShowSettingsWindow<frmUser>(parent); }
