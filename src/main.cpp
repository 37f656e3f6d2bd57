#include "AppState.h"
#include "Clock.h"
#include "ProtocolObjects.h"
#include "QtDialogs.h"
#include "StartUp.h"
#include "TerminationSignals.h"
#include "frmMain.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    TerminationSignals::Install();
    QApplication application(argc, argv);
    // The installed desktop entry's name, by which desktops match the windows to it.
    QGuiApplication::setDesktopFileName(QStringLiteral("wrenpost"));

    QtDialogs dialogs;
    SystemClock clock;
    AppState& app = App();
    app.paths.applicationFolder = QCoreApplication::applicationDirPath();
    app.services.dialogs = &dialogs;
    app.services.clock = &clock;
    app.services.beep = [] { QApplication::beep(); };

    frmMain mainWindow;
    ProtocolObjects objects;
    TerminationSignals::Watch([&mainWindow] { mainWindow.close(); });
    if (Main(mainWindow, objects) == StartUpOutcome::EndProgram)
        return 1;
    return application.exec();
}
