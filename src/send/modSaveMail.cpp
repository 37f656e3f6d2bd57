#include "modSaveMail.h"

#include "AppState.h"
#include "Clock.h"
#include "Dialogs.h"
#include "FileHandlers.h"
#include "Text8.h"
#include "modGeneralExceptionHandler.h"

#include <QFileInfo>
#include <functional>

namespace {

// yymmdd_hhnnss from the local clock.
QString TimeStamp(const QDateTime& now) { return now.toString(QStringLiteral("yyMMdd_HHmmss")); }

// Forms the path until no file has it. Names resolve to the second, so a taken name means
// sleeping until the clock reaches the next second.
QString FreePath(const QString& folder, const std::function<QString(const QString& stamp)>& nameFor)
{
    Clock& clock = *App().services.clock;
    for (;;) {
        const QDateTime now = clock.LocalNow();
        const QString path = JoinPath(folder, nameFor(TimeStamp(now)));
        if (!QFileInfo::exists(path))
            return path;
        clock.SleepMs(1000 - now.time().msec());
    }
}

// A recipient names a file: it must not reach outside its folder or hold what file names
// cannot carry on common systems.
void CheckRecipientName(const QString& recipient)
{
    static const QString forbidden = QStringLiteral("/\\:*?\"<>|");
    for (const QChar c : recipient)
        if (c.category() == QChar::Other_Control || forbidden.contains(c))
            RaiseAppError(QStringLiteral("The recipient address cannot be part of a file name: ") + recipient);
}

void RaiseIfAny(const QString& failure)
{
    if (!failure.isEmpty())
        RaiseAppError(failure);
}

} // namespace

StagedFile ReceivedMessageFile(qint32 number) { return StagedFile(App().paths.InBoxPath, QStringLiteral("retrieving__") + QString::number(number)); }

bool SaveReceivedMessage(StagedFile& message, qint32 number)
{
    QString path;
    try {
        path = FreePath(App().paths.InBoxPath, [number](const QString& stamp) { return stamp + QStringLiteral("__") + QString::number(number) + QStringLiteral(".txt"); });
        RaiseIfAny(message.Commit(path));
        return true;
    } catch (const std::exception& error) {
        StoreLastError(error);
        ReportGeneralException(QStringLiteral("Exception when saving message to file: \r\n") + path);
        return false;
    }
}

bool SaveComposedMessage(const TextPieces& message, const QByteArray& recipient, const QString& folder)
{
    QString path;
    try {
        const QString savedMessages = JoinPath(App().paths.MailFolderPath, QStringLiteral("SavedMessages"));
        if (folder == UndoFolderMarker) {
            path = JoinPath(savedMessages, UndoFileName);
        } else {
            const QString name = Text8::ToDisplay(recipient);
            path = FreePath(JoinPath(App().paths.MailFolderPath, folder),
                [&name](const QString& stamp) { return name + QStringLiteral("__") + stamp + QStringLiteral(".txt"); });
            CheckRecipientName(name);
        }
        RaiseIfAny(write_f(path, message));
        return true;
    } catch (const std::exception& error) {
        StoreLastError(error);
        QString text = QStringLiteral("Exception when saving message to a folder. \r\n") + folder;
        if (!path.isEmpty())
            text += QStringLiteral("\r\nBasic File name: ") + path;
        App().services.dialogs->MsgBox(text, MsgBoxStyle::OkOnly);
        return false;
    }
}

bool ShowMessageIfAny(const QString& text)
{
    if (text.isEmpty())
        return true;
    App().services.dialogs->MsgBox(Text8::LeftDisplayChars(text, 1000), MsgBoxStyle::OkOnly);
    return false;
}
