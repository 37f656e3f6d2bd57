#pragma once
// The local POP3 server's settings window: the user and password a client must give, the
// mailbox folder served, and the save-password, run-at-startup and delete flags. Set stores
// them where the server reads them, creates the folder and rewrites the preferences; a running
// server picks them up at its next login or deletion.

#include "SettingsWindow.h"

class QCheckBox;
class QGroupBox;
class QLineEdit;

class frmPOP3User : public SettingsWindow {
    Q_OBJECT
public:
    // Loads the window from the current values.
    explicit frmPOP3User(QWidget* parent = nullptr);

    void cmdApply_Click() override;

    QGroupBox* frmReceiveServer = nullptr;
    QLineEdit* txtUserName = nullptr;
    QLineEdit* txtPassword = nullptr;
    QCheckBox* chkSaveToDisk = nullptr;
    QLineEdit* txtFolder = nullptr;
    QCheckBox* chkRunAtStartup = nullptr;
    QCheckBox* chkDeleteIfRequested = nullptr;
};

// Shows the POP3 server settings window modally over `parent` and returns once it has closed.
void ShowPOP3SettingsWindow(QWidget* parent);
