#include "modGeneralExceptionHandler.h"

#include "AppState.h"
#include "Dialogs.h"
#include "Text8.h"

AppError::AppError(qint64 number, QString description)
    : mNumber(number), mDescription(std::move(description)), mWhat(mDescription.toLocal8Bit())
{
}

void StoreLastError(qint64 number, const QString& description)
{
    App().lastError.LastErrNumber = number;
    App().lastError.LastErrDescription = description;
}

void StoreLastError(const std::exception& error)
{
    if (const auto* appError = dynamic_cast<const AppError*>(&error))
        StoreLastError(appError->number(), appError->description());
    else
        StoreLastError(AppErrorNumber, QString::fromLocal8Bit(error.what()));
}

void ReportGeneralException(const QString& place)
{
    const QString text = QStringLiteral("EXCEPTION ") + QString::number(App().lastError.LastErrNumber) + QStringLiteral("\r\n")
        + App().lastError.LastErrDescription + QStringLiteral("\r\n") + place;
    App().services.dialogs->MsgBox(Text8::LeftDisplayChars(text, ExceptionReportLimit), MsgBoxStyle::OkOnly);
}

void RaiseAppError(const QString& description) { throw AppError(AppErrorNumber, description); }

void ReraiseWithPlace(const QString& place)
{
    throw AppError(App().lastError.LastErrNumber, App().lastError.LastErrDescription + QStringLiteral("\r\n") + place);
}

void GuardEntryPoint(const QString& place, const std::function<void()>& body)
{
    try {
        body();
    } catch (const std::exception& error) {
        StoreLastError(error);
        ReportGeneralException(place);
    }
}
