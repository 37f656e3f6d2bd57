#include "MessageStream.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <utility>

namespace {

const QByteArray Terminator = QByteArrayLiteral("\r\n.\r\n");

} // namespace

MessageShaper::MessageShaper(qint64 bodyLines) : mBodyLinesLeft(std::max<qint64>(bodyLines, 0)) {}

QByteArray MessageShaper::Shape(QByteArrayView piece)
{
    mTail.append(piece);
    const qsizetype ready = std::max<qsizetype>(mTail.size() - Terminator.size(), 0);
    QByteArray wire = Stuff(QByteArrayView(mTail).first(ready));
    mTail.remove(0, ready);
    return wire;
}

QByteArray MessageShaper::Finish()
{
    // The text's own terminator goes; the line end it begins with stays.
    if (mTail == Terminator)
        mTail.chop(3);
    QByteArray wire = Stuff(std::exchange(mTail, QByteArray()));
    // The last line's own end serves as the terminator's first CR LF.
    return wire.append(mLineStart ? ".\r\n" : "\r\n.\r\n");
}

QByteArray MessageShaper::Stuff(QByteArrayView text)
{
    QByteArray wire;
    wire.reserve(text.size() + text.size() / 32 + 8);
    qsizetype from = 0;
    while (from < text.size() && !Cut()) {
        if (mLineStart && text[from] == '.')
            wire.append('.');
        mLineStart = false;
        const qsizetype lf = text.indexOf('\n', from);
        const qsizetype end = lf < 0 ? text.size() : lf;
        if (end > from) {
            wire.append(text.sliced(from, end - from));
            mLineLength += end - from;
            mAfterCR = text[end - 1] == '\r';
        }
        if (lf < 0)
            break;
        wire.append(mAfterCR ? "\n" : "\r\n");
        EndLine();
        from = lf + 1;
    }
    return wire;
}

void MessageShaper::EndLine()
{
    const bool emptyLine = mLineLength == 0 || (mLineLength == 1 && mAfterCR);
    if (mInBody)
        --mBodyLinesLeft;
    else
        mInBody = emptyLine;
    mLineStart = true;
    mLineLength = 0;
    mAfterCR = false;
}

std::unique_ptr<QIODevice> MessageStream::OpenFile(const QString& path)
{
    auto file = std::make_unique<QFile>(path);
    // The mailbox folder itself (message 0) is no message; chunks are read whole, past Qt's buffer.
    if (QFileInfo(path).isFile())
        file->open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    return file;
}

MessageStream::MessageStream(std::unique_ptr<QIODevice> text, qint64 bodyLines)
    : mText(std::move(text)), mShaper(bodyLines)
{
    if (mText->isOpen())
        mNext = ReadChunk();
    mAtEnd = mNext.isEmpty();
}

QByteArray MessageStream::Next()
{
    // The chunk after this one is read first: only then is it known whether this one ends the text.
    QByteArray wire = mShaper.Shape(mNext);
    mNext = mShaper.Cut() ? QByteArray() : ReadChunk();
    if (!mNext.isEmpty())
        return wire;
    mAtEnd = true;
    return mFailed ? wire : wire + mShaper.Finish();
}

QByteArray MessageStream::ReadChunk()
{
    QByteArray chunk(ChunkSize, Qt::Uninitialized);
    const qint64 read = mText->read(chunk.data(), ChunkSize);
    mFailed = read < 0;
    chunk.resize(std::max<qint64>(read, 0));
    return chunk;
}
