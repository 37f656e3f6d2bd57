#include "frmSend.h"

#include "AppState.h"
#include "Console.h"
#include "ConsoleView.h"
#include "Dialogs.h"
#include "FormHelpers.h"
#include "Text8.h"
#include "Trimmers.h"
#include "modConsole.h"
#include "modGeneralExceptionHandler.h"
#include "modSaveMail.h"
#include "modSendForm.h"

#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>

namespace {

// The client area at design, in twips.
constexpr int ClientWidth = 6450;
constexpr int ClientHeight = 3705;
constexpr int SendDelayMs = 1;

QByteArray TrimBlanks(const QByteArray& text) { return TrimRightChars(TrimLeftChars(text, " "), " "); }

bool IsCtrlSpace(const QKeyEvent& key)
{
    return key.key() == Qt::Key_Space && (key.modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier;
}

} // namespace

frmSend::frmSend()
{
    setWindowTitle(QStringLiteral("Prepare and Send Message"));
    UseDesignFont(*this);
    BuildControls();
    BuildMenus();
    resize(Twips::ToPixels(ClientWidth), Twips::ToPixels(ClientHeight) + menuBar()->sizeHint().height());
    tmrSend.setSingleShot(true);
    tmrSend.setInterval(SendDelayMs);
    connect(&tmrSend, &QTimer::timeout, this, [this] {
        mSendKeyPressed = false;
        mnuSend->trigger();
    });
}

frmSend::~frmSend() = default;

void frmSend::BuildControls()
{
    auto* client = new QWidget(this);
    setCentralWidget(client);
    const auto label = [client](const QString& caption, const TwipRect& rect) {
        auto* text = new QLabel(caption, client);
        SetWidgetTwips(*text, rect);
    };
    const auto line = [client](const TwipRect& rect) {
        auto* box = new QLineEdit(client);
        SetWidgetTwips(*box, rect);
        return box;
    };
    txtFrom = line({ 840, 0, 5535, 288 });
    txtTo = line({ 840, 240, 5535, 288 });
    txtCC = line({ 840, 480, 5535, 288 });
    txtSubject = line({ 840, 720, 5535, 288 });
    txtMessage = new QPlainTextEdit(client);
    SetWidgetTwips(*txtMessage, { 120, 1200, 6255, 615 });
    txtMessage->setLineWrapMode(QPlainTextEdit::NoWrap);
    QPalette white = txtMessage->palette();
    white.setColor(QPalette::Base, Qt::white);
    txtMessage->setPalette(white);
    label(QStringLiteral("From:"), { 120, 0, 735, 255 });
    label(QStringLiteral("To:"), { 120, 240, 735, 255 });
    label(QStringLiteral("CC:"), { 120, 480, 615, 255 });
    label(QStringLiteral("Subject:"), { 120, 720, 615, 255 });

    BuildConsole(client, App().consoles.sendConsole, { 120, 3000, 4575, 615 }, { 120, 240, 1095, 285 }, { 1320, 240, 2055, 255 });
    SetWidgetTwips(*txtConsole, { 120, 1920, 6255, 855 });
    txtConsole->hide();
    QPalette grey = txtConsole->palette();
    grey.setColor(QPalette::Base, QColor::fromRgb(StatusColour::Grey));
    txtConsole->setPalette(grey);
    QFont statusFont = ConsoleView::ConsoleFont();
    statusFont.setPointSizeF(8.25);
    txtStatus->setFont(statusFont);

    SetTabOrder({ txtFrom, txtTo, txtCC, txtSubject, txtMessage });
    for (QWidget* box : { static_cast<QWidget*>(txtFrom), static_cast<QWidget*>(txtTo), static_cast<QWidget*>(txtCC),
             static_cast<QWidget*>(txtSubject), static_cast<QWidget*>(txtMessage), static_cast<QWidget*>(txtStatus),
             static_cast<QWidget*>(txtConsole) })
        box->installEventFilter(this);
    for (QLineEdit* box : { txtFrom, txtTo, txtCC, txtSubject })
        connect(box, &QLineEdit::textChanged, this, [this, box] { DropCtrlSpace(*box); });
    connect(txtMessage, &QPlainTextEdit::textChanged, this, [this] { DropCtrlSpace(*txtMessage); });
}

void frmSend::BuildMenus()
{
    const auto item = [this](const QString& caption, void (frmSend::*handler)()) {
        return GuardedMenuItem(menuBar(), caption, QStringLiteral("frmSend"), [this, handler] { (this->*handler)(); });
    };
    mnuSend = item(QStringLiteral("&Send"), &frmSend::mnuSend_Click);
    mnuSaveMessage = item(QStringLiteral("Save &Message"), &frmSend::mnuSaveMessage_Click);
    mnuCancel = item(QStringLiteral("&Cancel"), &frmSend::Unload);
    // "Veiw" as users know the menu.
    mnuConsoleView = item(QStringLiteral("Console &Veiw"), &frmSend::mnuConsoleView_Click);
    mnuHelp = item(QStringLiteral("&Help"), &frmSend::mnuHelp_Click);
}

void frmSend::ShowWindow()
{
    mShownSinceClosing = true;
    show();
    raise();
    activateWindow();
}

void frmSend::Arrange()
{
    FitToForm(*this, *txtMessage, RoundTwips(WidgetTwips(*fraStatus).height + 1420), 1120);
    ArrangeStatusFrame(*txtMessage, *fraStatus, *txtStatus, *ProgressBar1);
    const TwipRect message = WidgetTwips(*txtMessage);
    for (QLineEdit* box : { txtTo, txtFrom, txtCC, txtSubject }) {
        TwipRect rect = WidgetTwips(*box);
        rect.width = message.left + message.width - rect.left;
        SetWidgetTwips(*box, rect);
    }
    SetWidgetTwips(*txtConsole, message);
}

QByteArray frmSend::MessageText() const
{
    return Text8::FromDisplay(txtMessage->toPlainText().replace(QLatin1Char('\n'), QStringLiteral("\r\n")));
}

void frmSend::mnuSend_Click()
{
    const QByteArray cc = TrimBlanks(Text8::FromDisplay(txtCC->text()));
    txtMessage->hide();
    txtConsole->show();
    if (send)
        send(Text8::FromDisplay(txtTo->text()), Text8::FromDisplay(txtFrom->text()), Text8::FromDisplay(txtSubject->text()),
            MessageText(), cc);
    txtMessage->show();
    txtConsole->hide();
}

void frmSend::mnuSaveMessage_Click()
{
    const QByteArray to = TrimBlanks(Text8::FromDisplay(txtTo->text()));
    if (to.isEmpty()) {
        App().services.dialogs->MsgBox(QStringLiteral("Please enter \"To\" e-mail address \r\nbecause it is is used as part of file name."),
            MsgBoxStyle::OkOnly);
        return;
    }
    if (SaveComposedMessage(WholeText(MessageText()), to, QStringLiteral("SavedMessages")))
        WriteSendNote("Message saved.");
}

void frmSend::mnuConsoleView_Click()
{
    txtMessage->setVisible(!txtMessage->isVisible());
    txtConsole->setVisible(!txtConsole->isVisible());
}

void frmSend::mnuHelp_Click()
{
    App().services.dialogs->MsgBox(
        QStringLiteral("Ctrl + Space - SendMessage\r\nEsc          - exit\r\nOne level undo text file is always saved."),
        MsgBoxStyle::OkOnly);
}

void frmSend::Unload()
{
    if (mShownSinceClosing)
        SaveComposedMessage(WholeText(MessageText()), QByteArray(), UndoFolderMarker);
    mShownSinceClosing = false;
    // Shown again, the window is centred as a freshly loaded one.
    mPlacement.Reset();
    GuardEntryPoint(QStringLiteral("In frmSend closing."), [] { SaveConsoleToLog(App().consoles.sendConsole); });
    for (QLineEdit* box : { txtFrom, txtTo, txtCC, txtSubject })
        box->clear();
    txtMessage->clear();
    App().consoles.sendConsole.setBoxText(QByteArray());
    App().consoles.sendConsole.setStatusText(QByteArray());
    App().consoles.sendConsole.setStatusColour(StatusColour::Grey);
    txtMessage->show();
    txtConsole->hide();
    hide();
}

void frmSend::closeEvent(QCloseEvent* event)
{
    Unload();
    event->accept();
}

bool frmSend::IsEditableBox(const QObject* object) const
{
    return object == txtFrom || object == txtTo || object == txtCC || object == txtSubject || object == txtMessage;
}

bool frmSend::CheckSendKey(const QKeyEvent& key)
{
    if (!IsCtrlSpace(key))
        return false;
    mSendKeyPressed = true;
    tmrSend.start();
    return true;
}

void frmSend::DropCtrlSpace(QWidget& box)
{
    if (mInChange)
        return;
    mInChange = true;
    if (mSendKeyPressed) {
        auto* line = qobject_cast<QLineEdit*>(&box);
        QString text = line ? line->text() : txtMessage->toPlainText();
        const int caret = line ? line->cursorPosition() : txtMessage->textCursor().position();
        if (caret > 0 && text[caret - 1] == QLatin1Char(' ')) {
            text.remove(caret - 1, 1);
            if (line) {
                line->setText(text);
                line->setCursorPosition(caret - 1);
            } else {
                txtMessage->setPlainText(text);
                QTextCursor cursor = txtMessage->textCursor();
                cursor.setPosition(caret - 1);
                txtMessage->setTextCursor(cursor);
            }
        } else {
            App().services.dialogs->MsgBox(caret > 0 ? QStringLiteral("Impossible event method.") : QStringLiteral("Impossible event."),
                MsgBoxStyle::OkOnly);
        }
        mSendKeyPressed = false;
    }
    mInChange = false;
}

void frmSend::keyPressEvent(QKeyEvent* event)
{
    if (IsCtrlSpace(*event))
        mnuSend->trigger();
    else if (event->key() == Qt::Key_Escape)
        mnuCancel->trigger();
    else
        QMainWindow::keyPressEvent(event);
}

bool frmSend::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return QMainWindow::eventFilter(watched, event);
    const auto& key = *static_cast<QKeyEvent*>(event);
    if (key.key() == Qt::Key_Escape) {
        mnuCancel->trigger();
        return true;
    }
    if (IsEditableBox(watched))
        return CheckSendKey(key);
    if (watched == txtStatus && IsCtrlSpace(key)) {
        mnuSend->trigger();
        return true;
    }
    return false;
}
