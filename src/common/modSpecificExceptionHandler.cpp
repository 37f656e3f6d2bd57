#include "modSpecificExceptionHandler.h"

#include "AppState.h"
#include "Dialogs.h"
#include "Text8.h"
#include "modGeneralExceptionHandler.h"
#include "modMain.h"

void ReportSpecificException(int buttons, const QString& module, const QString& function, const QString& note)
{
    const QString text = QString::number(App().lastError.LastErrNumber) + QLatin1Char(' ') + App().lastError.LastErrDescription
        + QStringLiteral("\r\n") + note + QStringLiteral("\r\nModule:   ") + module
        + QStringLiteral("\r\nFunction: ") + function + QStringLiteral("\r\n");
    App().services.dialogs->MsgBox(Text8::LeftDisplayChars(text, ExceptionReportLimit), buttons, QStringLiteral("EXCEPTION"));
    if (!note.isEmpty())
        WriteMainNote(Text8::FromDisplay(note));
}
