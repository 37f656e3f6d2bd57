#pragma once
// The account window: the receive account (user, password, server) and the send server. Set
// stores the values, notes them on the main console and rewrites the preferences.

#include "SettingsWindow.h"

class QCheckBox;
class QLineEdit;

class frmUser : public SettingsWindow {
    Q_OBJECT
public:
    // Loads the window from the current values; UserFormOpen holds until it closes.
    explicit frmUser(QWidget* parent = nullptr);
    ~frmUser() override;

    void cmdApply_Click() override;

    QLineEdit* txtUserName = nullptr;
    QLineEdit* txtPassword = nullptr;
    QCheckBox* chkSaveToDisk = nullptr;
    QLineEdit* txtServer = nullptr;
    QLineEdit* txtSendUser = nullptr;
    QLineEdit* txtSendPassword = nullptr;
    QCheckBox* chkSendSaveToDisk = nullptr;
    QLineEdit* txtSendServer = nullptr;
};

// Shows the account window modally over `parent` and returns once it has closed.
void ShowAccountWindow(QWidget* parent);
