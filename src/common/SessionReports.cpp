#include "SessionReports.h"

#include "AppState.h"
#include "Clock.h"
#include "Console.h"
#include "ConsoleWriters.h"
#include "Dialogs.h"
#include "SocketAdapter.h"
#include "Text8.h"
#include "modGeneralExceptionHandler.h"
#include "modSpecificExceptionHandler.h"

QByteArray TimeOfDay() { return App().services.clock->LocalNow().time().toString(QStringLiteral("HH:mm:ss")).toLatin1(); }

int Percent(qint64 part, qint64 whole) { return whole <= 0 ? 0 : static_cast<int>(std::min<qint64>(100, part * 100 / whole)); }

QString SocketErrorText(int number, const QString& description)
{
    return QString::number(number) + QLatin1Char(' ') + description + QStringLiteral("\r\nCode: ") + QString::number(number)
        + QStringLiteral(" Source: ") + SocketErrors::Source;
}

QString CaughtErrorText(const std::exception& error, const QString& place)
{
    StoreLastError(error);
    QString text = QString::number(App().lastError.LastErrNumber) + QLatin1Char(' ') + App().lastError.LastErrDescription;
    if (!place.isEmpty())
        text += QStringLiteral("\r\n") + place;
    return text;
}

QString ClosingText() { return QStringLiteral("The program is closing."); }

void ReportSessionFailure(Console& console, const QString& module, const QString& function)
{
    console.setStatusColour(StatusColour::Red);
    // A note that cannot be written (the console log full, say) does not keep the user from
    // learning of the failure.
    const AppState::LastError& error = App().lastError;
    if (error.LastErrNumber == SocketErrors::AddressNotAvailable) {
        PassOverFailure([&] { ConsoleWriters::Note(console, "No Connection to Internet."); });
        App().services.dialogs->MsgBox(QStringLiteral("No Connection to Internet."), MsgBoxStyle::OkOnly);
        return;
    }
    PassOverFailure([&] { ConsoleWriters::Note(console, QByteArray::number(error.LastErrNumber) + ' ' + Text8::FromDisplay(error.LastErrDescription)); });
    ReportSpecificException(MsgBoxStyle::Critical, module, function, QString());
}
