#include "FileHandlers.h"

#include "AppState.h"
#include "modGeneralExceptionHandler.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <utility>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString CrLf = QStringLiteral("\r\n");

QString ErrorText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

QString WriteFailure(int error, const QString& path, bool opening)
{
    return QStringLiteral("Exception ") + QString::number(error) + QLatin1Char(' ') + ErrorText(error) + CrLf
        + (opening ? QStringLiteral("when opening a file `") : QStringLiteral(" when writing a file `")) + path
        + QStringLiteral("` in `write_f` module");
}

// Large enough that a message of many megabytes goes out in few writes.
constexpr qsizetype StagingBufferSize = 256 * 1024;

// Writes all of `data`; false with errno set on failure.
bool WriteAll(int fd, QByteArrayView data)
{
    const char* next = data.data();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, next, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        next += written;
        left -= written;
    }
    return true;
}

// Flushes a folder's entries, so that a name just linked into it survives a power loss.
bool SyncFolder(const QByteArray& folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    errno = error;
    return synced;
}

} // namespace

QByteArray ReadFileText(const QString& path)
{
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QString write_f(const QString& path, const TextPieces& text)
{
    if (path.isEmpty())
        return {};
    const QFileInfo target(path);
    StagedFile file(target.absolutePath(), target.fileName());
    text([&file](QByteArrayView piece) { return file.Append(piece); });
    return file.Commit(path);
}

StagedFile::StagedFile(const QString& folder, const QString& stem)
    : mFolder(QFile::encodeName(folder)), mName(mFolder + "/." + QFile::encodeName(stem) + ".XXXXXX")
{
    mFd = ::mkstemp(mName.data());
    if (mFd < 0) {
        mOpening = true;
        Fail(errno);
        return;
    }
    mBuffer.reserve(StagingBufferSize);
}

StagedFile::~StagedFile() { Remove(); }

bool StagedFile::Append(QByteArrayView bytes)
{
    if (mError != 0)
        return false;
    if (mBuffer.size() + bytes.size() > StagingBufferSize && !Flush())
        return false;
    if (bytes.size() >= StagingBufferSize)
        return WriteOut(bytes);
    mBuffer.append(bytes);
    return true;
}

QString StagedFile::Commit(const QString& path)
{
    const QByteArray target = QFile::encodeName(QFileInfo(path).absoluteFilePath());
    struct stat existing {};
    if (mError == 0 && Flush() && ::stat(target.constData(), &existing) == 0 && ::fchmod(mFd, existing.st_mode & 07777) != 0)
        Fail(errno);
    if (mError == 0 && ::fsync(mFd) != 0)
        Fail(errno);
    if (mError == 0 && ::close(std::exchange(mFd, -1)) != 0)
        Fail(errno);
    if (mError == 0 && ::rename(mName.constData(), target.constData()) != 0)
        Fail(errno);
    if (mError != 0)
        return WriteFailure(mError, path, mOpening);
    mName.clear();
    return SyncFolder(mFolder) ? QString() : WriteFailure(errno, path, false);
}

bool StagedFile::Flush()
{
    const bool written = WriteOut(mBuffer);
    mBuffer.resize(0);
    return written;
}

bool StagedFile::WriteOut(QByteArrayView bytes)
{
    if (WriteAll(mFd, bytes))
        return true;
    Fail(errno);
    return false;
}

void StagedFile::Fail(int error)
{
    if (mError == 0)
        mError = error;
    Remove();
}

void StagedFile::Remove()
{
    if (mFd >= 0)
        ::close(std::exchange(mFd, -1));
    if (!mName.isEmpty() && !mOpening)
        ::unlink(mName.constData());
    mName.clear();
}

void OpenAndAppendToFile(const QString& path, const QByteArray& text)
{
    if (path.isEmpty() || text.isEmpty())
        return;
    StoreLastError(0, QString());
    const QString place = QStringLiteral("In OpenAndAppendToFile") + CrLf + QStringLiteral("when opening file: ") + path;

    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        StoreLastError(errno, ErrorText(errno));
        ReraiseWithPlace(place);
    }
    const bool written = WriteAll(fd, text);
    if (!written)
        StoreLastError(errno, ErrorText(errno));
    if (::close(fd) != 0) {
        const int closeError = errno;
        AppState& app = App();
        if (app.lastError.LastErrNumber != 0)
            app.lastError.LastErrDescription = QString::number(app.lastError.LastErrNumber) + QLatin1Char(' ') + app.lastError.LastErrDescription + CrLf;
        app.lastError.LastErrDescription += ErrorText(closeError);
        app.lastError.LastErrNumber = closeError;
        ReraiseWithPlace(QStringLiteral("When closing file: ") + path);
    }
    if (!written)
        ReraiseWithPlace(place);
}

QString DirectoryList(const QString& folder, DirectoryListing& listing)
{
    constexpr qint32 LoopGuard = 1000000;
    const auto failure = [](qint64 number, const QString& description) {
        StoreLastError(number, description);
        return QString::number(number) + QLatin1Char(' ') + description + CrLf + QStringLiteral("Exception in \"DirectoryList.\"");
    };

    const QByteArray folderName = QFile::encodeName(folder);
    DIR* dir = ::opendir(folderName.constData());
    if (!dir)
        return failure(errno, ErrorText(errno));

    struct Entry {
        QString name;
        QByteArray bytes;
        qint64 size;
    };
    QList<Entry> entries;
    errno = 0;
    while (const dirent* item = ::readdir(dir)) {
        const QByteArray name(item->d_name);
        if (name.startsWith('.'))
            continue;
        struct stat info {};
        if (::fstatat(dirfd(dir), item->d_name, &info, 0) != 0 || !S_ISREG(info.st_mode))
            continue;
        if (entries.size() >= LoopGuard) {
            ::closedir(dir);
            return failure(AppErrorNumber, QStringLiteral("More than %1 files in %2").arg(LoopGuard).arg(folder));
        }
        entries.append({ QFile::decodeName(name), name, static_cast<qint64>(info.st_size) });
        errno = 0;
    }
    const int readError = errno;
    ::closedir(dir);
    if (readError != 0)
        return failure(readError, ErrorText(readError));

    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        const int folded = a.name.compare(b.name, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a.bytes < b.bytes;
    });

    DirectoryListing result;
    for (const Entry& entry : entries) {
        result.names.append(entry.name);
        result.sizes.append(entry.size);
        result.marks.append(QString());
        result.total += entry.size;
        ++result.count;
    }
    listing = std::move(result);
    return {};
}
