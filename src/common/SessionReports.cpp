#include "SessionReports.h"

#include "AppState.h"
#include "Console.h"
#include "ConsoleWriters.h"
#include "Dialogs.h"
#include "SocketAdapter.h"
#include "Text8.h"
#include "modSpecificExceptionHandler.h"

void ReportSessionFailure(Console& console, const QString& module, const QString& function)
{
    PassOverFailure([&] {
        console.setStatusColour(StatusColour::Red);
        if (App().LastErrNumber == SocketErrors::AddressNotAvailable) {
            ConsoleWriters::Note(console, "No Connection to Internet.");
            App().dialogs->MsgBox(QStringLiteral("No Connection to Internet."), MsgBoxStyle::OkOnly);
            return;
        }
        ConsoleWriters::Note(console, QByteArray::number(App().LastErrNumber) + ' ' + Text8::FromDisplay(App().LastErrDescription));
        ReportSpecificException(16, module, function, QString());
    });
}
