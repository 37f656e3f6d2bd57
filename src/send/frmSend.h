#pragma once
// The compose window: From, To, CC, Subject and the message, a console pane that shows the SMTP
// dialog while a send runs, and a status frame with the status box and the send's progress bar.
// One window object serves the whole run; closing it clears its fields and hides it.

#include "ConsoleWindow.h"

#include <QTimer>
#include <functional>
#include <memory>

class ConsoleView;
class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;

class frmSend : public ConsoleWindow {
    Q_OBJECT
public:
    frmSend();
    ~frmSend() override;

    // Shows the window (modeless), raising it when it is already shown.
    void ShowWindow();
    // Closes the window: writes the undo file (when it was shown since its last closing),
    // appends its console to console.txt, clears its fields and hides it.
    void Unload();

    void Arrange() override;

    // The Send command: runs `send` with the fields, the console pane in the message's place.
    void mnuSend_Click();
    void mnuSaveMessage_Click();
    void mnuConsoleView_Click();
    void mnuHelp_Click();

    // What the Send command calls: to, from, subject, body, cc (trimmed).
    std::function<void(const QByteArray& to, const QByteArray& from, const QByteArray& subject, const QByteArray& body,
        const QByteArray& cc)>
        send;

    QLineEdit* txtFrom = nullptr;
    QLineEdit* txtTo = nullptr;
    QLineEdit* txtCC = nullptr;
    QLineEdit* txtSubject = nullptr;
    QPlainTextEdit* txtMessage = nullptr;
    QTimer tmrSend;

    QAction* mnuSend = nullptr;
    QAction* mnuSaveMessage = nullptr;
    QAction* mnuCancel = nullptr;
    QAction* mnuConsoleView = nullptr;
    QAction* mnuHelp = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    void BuildMenus();
    // Ctrl+Space in an editable box: the send starts a moment later, from tmrSend.
    bool CheckSendKey(const QKeyEvent& key);
    // A change of an editable box: removes the blank a box inserted for a Ctrl+Space.
    void DropCtrlSpace(QWidget& box);
    bool IsEditableBox(const QObject* object) const;
    // The message box's text with CR LF line ends, as the program's 8-bit text.
    QByteArray MessageText() const;

    bool mSendKeyPressed = false;
    bool mInChange = false;
    bool mShownSinceClosing = false;
};
