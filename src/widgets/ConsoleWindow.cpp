#include "ConsoleWindow.h"

#include "ConsoleView.h"

#include <QFrame>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>

ConsoleWindow::ConsoleWindow() : mPlacement(*this, [this] { Arrange(); }) { }

ConsoleWindow::~ConsoleWindow() = default;

void ConsoleWindow::BuildConsole(QWidget* client, Console& console, const TwipRect& frame, const TwipRect& status,
    const TwipRect& progress)
{
    txtConsole = new QPlainTextEdit(client);
    fraStatus = new QFrame(client);
    fraStatus->setFrameShape(QFrame::StyledPanel);
    SetWidgetTwips(*fraStatus, frame);
    txtStatus = new QLineEdit(fraStatus);
    SetWidgetTwips(*txtStatus, status);
    ProgressBar1 = new QProgressBar(fraStatus);
    ProgressBar1->setTextVisible(false);
    SetWidgetTwips(*ProgressBar1, progress);
    mConsoleView = std::make_unique<ConsoleView>(console, *txtConsole, *txtStatus);
}
