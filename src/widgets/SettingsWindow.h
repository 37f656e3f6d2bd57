#pragma once
// What the two settings windows (the account window and the local server's) share: the design
// font and a fixed size, centring when shown, the Set and Cancel buttons, the keys of the text
// boxes (Enter sets, Esc cancels; elsewhere in the window neither does anything), and how a
// box's value is stored and a check box becomes a flag.

#include <QByteArray>
#include <QDialog>
#include <QString>

#include <initializer_list>

class QCheckBox;
class QLineEdit;
class QPushButton;

// Shows the window through the program's dialogs.
void ShowModalWindow(QDialog& window);

class SettingsWindow : public QDialog {
    Q_OBJECT
public:
    // Stores the values, notes them and closes (Set, or Enter in a text box).
    virtual void cmdApply_Click() = 0;
    // Closes storing nothing (Cancel, or Esc in a text box).
    void cmdCancel_Click() { reject(); }

    QPushButton* cmdApply = nullptr;
    QPushButton* cmdCancel = nullptr;

protected:
    // A window of `width` x `height` twips; `name` names it in failure reports ("frmUser").
    SettingsWindow(QWidget* parent, const QString& title, int width, int height, const QString& name);
    // The Set and Cancel buttons, at their design height in the window.
    void PlaceButtons(int top);
    // The text boxes in which Enter sets and Esc cancels.
    void TakeKeysOf(std::initializer_list<QLineEdit*> boxes);

    // A text box's value as stored: its bytes without blanks at either end (a tab is kept).
    static QByteArray StoredBoxText(const QString& text);
    // "Y" for a checked box, "N" otherwise.
    static QByteArray CheckedFlag(const QCheckBox& box);
    // Notes on the main console whether the password of `whose` ("Receive", "Send", "POP3")
    // will be saved, as its flag says.
    static void NotePasswordSaving(const QByteArray& whose, const QByteArray& flag);

    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QString mName;
};

// Shows a settings window modally over `parent` and returns once it has closed.
template <typename Window>
void ShowSettingsWindow(QWidget* parent)
{
    Window window(parent);
    ShowModalWindow(window);
}
