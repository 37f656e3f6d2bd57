#pragma once
// A message file on its way to a client that asked for it with RETR or TOP. The file is read
// and shaped for the wire a chunk at a time, so a message of any size costs the server a few
// chunks of memory; the socket asks for the next chunk as it drains.

#include <QByteArray>
#include <QByteArrayView>
#include <QIODevice>
#include <QString>

#include <limits>
#include <memory>

// A message's text in its wire form, shaped piece by piece as it is read: every line that
// begins with "." gets one more, line ends go out as CR LF (a lone CR is not a line end), then
// the terminator CR LF "." CR LF follows. A text that already ends with that terminator loses
// it first (its last line end stays). TOP's cut keeps the header lines, the empty line and that
// many body lines; a text without an empty line is all header.
//
// A piece may end anywhere (between CR and LF, after a LF before a ".", inside the last five
// bytes, which may be the text's own terminator): what a line's start or end depends on is kept
// until the next piece.
class MessageShaper {
public:
    static constexpr qint64 WholeText = std::numeric_limits<qint64>::max();

    // `bodyLines`: TOP's count (none when negative), or WholeText for RETR.
    explicit MessageShaper(qint64 bodyLines = WholeText);

    // The wire bytes of the piece, less what waits for the next.
    QByteArray Shape(QByteArrayView piece);
    // What waited, and the terminator: the text has ended.
    QByteArray Finish();
    // TOP has all its lines: the rest of the text is not wanted.
    bool Cut() const { return mInBody && mBodyLinesLeft == 0; }

private:
    QByteArray Stuff(QByteArrayView text);
    void EndLine();

    // The text's last bytes so far: they go out, or not, once it is known whether they end it.
    QByteArray mTail;
    qint64 mBodyLinesLeft;
    bool mInBody = false;
    bool mLineStart = true;
    // Of the line being shaped: its length so far (without the LF) and whether its last byte
    // is a CR.
    qint64 mLineLength = 0;
    bool mAfterCR = false;
};

// A message's text read through a MessageShaper in chunks.
class MessageStream {
public:
    static constexpr qint64 ChunkSize = 64 * 1024;

    // The message file at `path`, opened when it is an ordinary file that can be read.
    static std::unique_ptr<QIODevice> OpenFile(const QString& path);

    // Reads the first chunk of `text`; one that is not open reads as empty.
    explicit MessageStream(std::unique_ptr<QIODevice> text, qint64 bodyLines = MessageShaper::WholeText);

    // The file has no text: nothing to send.
    bool Empty() const { return mNext.isEmpty(); }
    // The next wire bytes; the last ones carry the terminator.
    QByteArray Next();
    // Everything has been given, or reading failed.
    bool AtEnd() const { return mAtEnd; }
    // Reading failed: what was given does not end the message.
    bool Failed() const { return mFailed; }
    QString ReadError() const { return mText->errorString(); }

private:
    QByteArray ReadChunk();

    std::unique_ptr<QIODevice> mText;
    MessageShaper mShaper;
    QByteArray mNext;
    bool mAtEnd = false;
    bool mFailed = false;
};
