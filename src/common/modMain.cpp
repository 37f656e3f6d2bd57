#include "modMain.h"

#include "AppState.h"
#include "ConsoleWriters.h"
#include "Trimmers.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

void WriteMainNote(const QByteArray& text) { ConsoleWriters::Note(App().consoles.mainConsole, text); }
void WriteMainSent(const QByteArray& text) { ConsoleWriters::Sent(App().consoles.mainConsole, text); }
void WriteMainReceived(const QByteArray& text) { ConsoleWriters::Received(App().consoles.mainConsole, text); }
void WriteMainConsoleLine(const QByteArray& line) { ConsoleWriters::Line(App().consoles.mainConsole, line); }
void AppendMainConsole(const QByteArray& text) { ConsoleWriters::Append(App().consoles.mainConsole, text); }
void SetMainStatus(const QByteArray& text) { ConsoleWriters::Status(App().consoles.mainConsole, text); }

bool ReceiveAccountComplete()
{
    return !TrimWS(App().prefs.ReceiveUser).isEmpty() && App().prefs.SaveReceivePassword == "Y";
}

QString EnsureFolder(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (::stat(name.constData(), &info) != 0) {
        const int error = errno;
        if (error != ENOENT)
            return QString::number(error) + QLatin1Char(' ') + QString::fromLocal8Bit(std::strerror(error));
        if (::mkdir(name.constData(), 0700) != 0)
            return QStringLiteral("Cannot create folder: \r\n") + path;
        return {};
    }
    // "aready" as users know the message.
    if (!S_ISDIR(info.st_mode))
        return QStringLiteral("Folder name: \r\n") + path + QStringLiteral("\r\nis aready occupied by file.");
    return {};
}
