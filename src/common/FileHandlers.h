#pragma once
// Whole-file operations. Files hold the program's 8-bit text exactly as given: no line-end
// translation, no byte-order mark. Each operation reports failure its own way, and callers
// rely on the difference: write_f and DirectoryList return a message, ReadFileText swallows
// every error, OpenAndAppendToFile raises an AppError.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// The whole content of an ordinary file; "" when it is missing, empty or unreadable.
QByteArray ReadFileText(const QString& path);

// Replaces the file's content atomically and durably: the text goes to a hidden temporary
// file beside it, is flushed to disk and renamed over the target, and the folder is flushed.
// A new file is readable and writable by its owner only; a replaced one keeps its mode.
// Returns "" on success (and for an empty path), else a message naming the target; on
// failure the target is untouched and no temporary file is left. Given in pieces, the text is
// written piece after piece, never joined in memory.
using PieceWriter = std::function<bool(QByteArrayView)>;
// Hands a text to the writer piece after piece; false as soon as a write failed.
using TextPieces = std::function<bool(const PieceWriter&)>;
QString write_f(const QString& path, const TextPieces& text);
// The text as its one piece.
inline TextPieces WholeText(const QByteArray& text)
{
    return [text](const PieceWriter& write) { return write(text); };
}
inline QString write_f(const QString& path, const QByteArray& text) { return write_f(path, WholeText(text)); }

// A file written piece by piece under a hidden name in its folder, then put in place as
// durably as write_f does. Pieces are gathered into large writes. The first failure ends the
// writing and removes the hidden file at once, so a full disk gets its space back while the
// caller still reads what it was going to write; Commit tells the failure. A file never
// committed is removed when the object goes.
class StagedFile {
public:
    // Creates the hidden file `folder`/.`stem`.XXXXXX, readable and writable by its owner only.
    StagedFile(const QString& folder, const QString& stem);
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // False once a write has failed: nothing more is written.
    bool Append(QByteArrayView bytes);
    // Flushes the file to disk, renames it to `path` in the same folder (an existing file there
    // keeps its mode) and flushes the folder. Returns "" on success, else write_f's message
    // naming `path`; no hidden file is left either way.
    QString Commit(const QString& path);

private:
    bool Flush();
    bool WriteOut(QByteArrayView bytes);
    // Records the first failure (errno `error`) and removes the hidden file.
    void Fail(int error);
    void Remove();

    QByteArray mFolder;
    QByteArray mName;
    int mFd = -1;
    int mError = 0;
    bool mOpening = false;
    QByteArray mBuffer;
};

// Appends the text (nothing for an empty path or text); a new file is created owner-only.
// Raises AppError with the place of the failure appended to its description.
void OpenAndAppendToFile(const QString& path, const QByteArray& text);

// The ordinary files of a folder. Index 0 of each list holds "" or 0; files are 1 to count.
struct DirectoryListing {
    QStringList names { QString() };
    QList<qint64> sizes { 0 };
    QStringList marks { QString() };
    qint64 total = 0;
    qint32 count = 0;
};

// Lists the folder's ordinary files, hidden ones (a name beginning with ".") left out, sorted
// by name case-insensitively with ties in byte order. Returns "" on success, else a message
// ending with the line `Exception in "DirectoryList."`; `listing` is untouched on failure.
QString DirectoryList(const QString& folder, DirectoryListing& listing);
