#pragma once
// The main window: the main console with its status box and progress bar, the menu bar that
// leads to every function, the window's keys, the autoretrieve clock and the closing that
// saves the console.

#include "ConsoleWindow.h"

#include <QTimer>
#include <functional>
#include <memory>

class ConsoleView;
class QAction;
class QFrame;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;

class frmMain : public ConsoleWindow {
    Q_OBJECT
public:
    frmMain();
    ~frmMain() override;

    void Arrange() override;
    void HideProgressBar();
    // Shows the receiving icon during a retrieval, the normal one otherwise.
    void ShowReceivingIcon(bool receiving);

    // Starts the autoretrieve clock (Timer1 every 100 ms).
    void StartAutoretrieveClock();
    // One tick of Timer1.
    void Timer1Tick();

    // What "&Receive  " and the autoretrieve clock start, and what "&Send  " opens; set by the
    // parts of the program that provide them.
    std::function<void()> retrieveMail;
    std::function<void()> showComposeWindow;
    // Closes the compose window when the main window closes.
    std::function<void()> closeComposeWindow;
    // Shows the account window modally ("&User", start-up, a refused password).
    std::function<void()> showAccountWindow;
    // Start and stop the local POP3 server.
    std::function<void()> runPOP3Server;
    std::function<void()> stopPOP3Server;

    // "&Run POP3 Server" and start-up's step for a server that runs at start-up.
    void RunPOP3Server();

    void mnuReceiveMail_Click();
    void mnuSend_Click();
    void mnuSetRetrievalInterval_Click();
    void mnuViewMail_Click();
    void mnuSetPOP3_Click();
    void mnuUser_Click();
    void mnuStopPOP3Server_Click();
    void mnuHelp_Click();
    void mnuAbout_Click();

    QTimer Timer1;

    QAction* mnuReceiveMail = nullptr;
    QAction* mnuSend = nullptr;
    QAction* mnuViewMail = nullptr;
    QAction* mnuUser = nullptr;
    QAction* mnuSetRetrievalInterval = nullptr;
    QAction* mnuSetPOP3 = nullptr;
    QAction* mnuRunPOP3 = nullptr;
    QAction* mnuStopPOP3Server = nullptr;
    QAction* mnuHelp = nullptr;
    QAction* mnuAbout = nullptr;
    QAction* mnuExit = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    void BuildMenus();
    // Handles the keys shared by the window and its two boxes; true when the key was taken.
    bool HandleKey(const QKeyEvent& key, bool shiftSpaceReceives);

    QIcon mMainIcon;
    QIcon mReceiveIcon;
    bool mClosed = false;
};
