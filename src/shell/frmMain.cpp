#include "frmMain.h"

#include "AppState.h"
#include "Attention.h"
#include "Autoretrieve.h"
#include "ConsoleView.h"
#include "Dialogs.h"
#include "FormHelpers.h"
#include "Icons.h"
#include "frmFile.h"
#include "frmPOP3User.h"
#include "frmUser.h"
#include "NestedLoop.h"
#include "ParsePreferences.h"
#include "ProductInfo.h"
#include "Text8.h"
#include "modConsole.h"
#include "modGeneralExceptionHandler.h"

#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>

namespace {
// Design-time sizes in twips.
constexpr int FormWidth = 9600;
constexpr int FormHeight = 7200;
constexpr int StatusFrameHeight = 615;
constexpr int StatusTop = 180;
constexpr int StatusHeight = 315;
constexpr int AutoretrieveTickMs = 100;
} // namespace

frmMain::frmMain() : mMainIcon(Icons::MainIcon()), mReceiveIcon(Icons::ReceiveIcon())
{
    setWindowTitle(ApplicationTitle());
    setWindowIcon(mMainIcon);
    BuildControls();
    BuildMenus();
    resize(Twips::ToPixels(FormWidth), Twips::ToPixels(FormHeight));
    // Timer1 stays idle until start-up has run.
    connect(&Timer1, &QTimer::timeout, this, [this] { GuardEntryPoint(QStringLiteral("In frmMain Timer1."), [this] { Timer1Tick(); }); });
    App().lifecycle.resumeClose = [this] { close(); };
    showAccountWindow = [this] { ShowAccountWindow(this); };
}

frmMain::~frmMain() { App().lifecycle.resumeClose = nullptr; }

void frmMain::BuildControls()
{
    auto* client = new QWidget(this);
    setCentralWidget(client);
    BuildConsole(client, App().consoles.mainConsole, { 0, 0, FormWidth, StatusFrameHeight }, { 120, StatusTop, 0, StatusHeight },
        { 0, StatusTop, 0, StatusHeight });
    txtConsole->installEventFilter(this);
    txtStatus->installEventFilter(this);
}

void frmMain::BuildMenus()
{
    QMenuBar* bar = menuBar();
    const auto item = [this](QWidget* container, const QString& caption, void (frmMain::*handler)()) {
        return GuardedMenuItem(container, caption, QStringLiteral("frmMain"), [this, handler] { (this->*handler)(); });
    };
    mnuReceiveMail = item(bar, QStringLiteral("&Receive  "), &frmMain::mnuReceiveMail_Click);
    mnuSend = item(bar, QStringLiteral("&Send  "), &frmMain::mnuSend_Click);
    mnuViewMail = item(bar, QStringLiteral("&View   "), &frmMain::mnuViewMail_Click);
    mnuUser = item(bar, QStringLiteral("&User"), &frmMain::mnuUser_Click);
    mnuSetRetrievalInterval = item(bar, QStringLiteral("&Interval"), &frmMain::mnuSetRetrievalInterval_Click);
    QMenu* tools = bar->addMenu(QStringLiteral("&Tools"));
    mnuSetPOP3 = item(tools, QStringLiteral("&Set POP3"), &frmMain::mnuSetPOP3_Click);
    mnuRunPOP3 = item(tools, QStringLiteral("&Run POP3 Server"), &frmMain::RunPOP3Server);
    mnuStopPOP3Server = item(tools, QStringLiteral("S&top POP3 Server"), &frmMain::mnuStopPOP3Server_Click);
    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    mnuHelp = item(help, QStringLiteral("&Help"), &frmMain::mnuHelp_Click);
    mnuAbout = item(help, QStringLiteral("&About"), &frmMain::mnuAbout_Click);
    mnuExit = bar->addAction(QStringLiteral("E&xit"));
    connect(mnuExit, &QAction::triggered, this, &QWidget::close);
}

void frmMain::Arrange()
{
    FitToForm(*this, *txtConsole, RoundTwips(WidgetTwips(*fraStatus).height + 300), 0);
    ArrangeStatusFrame(*txtConsole, *fraStatus, *txtStatus, *ProgressBar1);
}

void frmMain::HideProgressBar()
{
    ProgressBar1->hide();
    ProgressBar1->setValue(0);
}

void frmMain::ShowReceivingIcon(bool receiving) { setWindowIcon(receiving ? mReceiveIcon : mMainIcon); }

void frmMain::StartAutoretrieveClock() { Timer1.start(AutoretrieveTickMs); }

void frmMain::Timer1Tick()
{
    if (AutoretrieveTick() && retrieveMail)
        retrieveMail();
}

void frmMain::mnuReceiveMail_Click()
{
    ResetAttentionCounter();
    if (retrieveMail)
        retrieveMail();
}

void frmMain::mnuSend_Click()
{
    ResetAttentionCounter();
    if (showComposeWindow)
        showComposeWindow();
}

void frmMain::mnuSetRetrievalInterval_Click()
{
    const QString answer = App().services.dialogs->InputBox(
        QStringLiteral("Please enter interval in minutes.\r\nZero value will disable autoretrieve."), QStringLiteral("SET AUTORETRIEVE"));
    // A box closed because the program is closing is no answer of the user's.
    if (App().lifecycle.closing)
        return;
    SetRetrieveInterval(Text8::FromDisplay(answer));
    WritePreferences();
}

void frmMain::RunPOP3Server()
{
    if (runPOP3Server)
        runPOP3Server();
}

void frmMain::mnuStopPOP3Server_Click()
{
    if (stopPOP3Server)
        stopPOP3Server();
}

void frmMain::mnuViewMail_Click() { ViewMail(this); }

void frmMain::mnuSetPOP3_Click() { ShowPOP3SettingsWindow(this); }

void frmMain::mnuUser_Click() { showAccountWindow(); }

void frmMain::mnuHelp_Click()
{
    App().services.dialogs->MsgBox(QStringLiteral("Ctrl +Space - Send \r\nShift+Space - Receive\r\nEsc         - Exit"), MsgBoxStyle::OkOnly);
}

void frmMain::mnuAbout_Click() { App().services.dialogs->MsgBox(AboutText(), MsgBoxStyle::OkOnly); }

bool frmMain::HandleKey(const QKeyEvent& key, bool shiftSpaceReceives)
{
    if (key.key() == Qt::Key_Escape) {
        close();
        return true;
    }
    if (key.key() != Qt::Key_Space)
        return false;
    const Qt::KeyboardModifiers held = key.modifiers() & ~Qt::KeypadModifier;
    if (held == Qt::ControlModifier) {
        mnuSend->trigger();
        return true;
    }
    if (held == Qt::ShiftModifier && shiftSpaceReceives) {
        mnuReceiveMail->trigger();
        return true;
    }
    return false;
}

void frmMain::keyPressEvent(QKeyEvent* event)
{
    if (!HandleKey(*event, false))
        QMainWindow::keyPressEvent(event);
}

bool frmMain::eventFilter(QObject* watched, QEvent* event)
{
    if ((watched == txtConsole || watched == txtStatus) && event->type() == QEvent::KeyPress)
        return HandleKey(*static_cast<QKeyEvent*>(event), true);
    return QMainWindow::eventFilter(watched, event);
}

void frmMain::closeEvent(QCloseEvent* event)
{
    App().lifecycle.closing = true;
    if (NestedLoop::Active()) {
        // Whatever waits or asks ends through its own path first; the close is carried out
        // once the last nested loop has unwound.
        event->ignore();
        App().services.dialogs->DismissAll();
        return;
    }
    if (!mClosed) {
        mClosed = true;
        Timer1.stop();
        consoleView().Refresh();
        GuardEntryPoint(QStringLiteral("In frmMain closing."), [] { SaveConsoleToLog(App().consoles.mainConsole); });
        if (closeComposeWindow)
            closeComposeWindow();
    }
    event->accept();
}
