#pragma once
// The text of an outgoing message: the body line rule, the header block, dot stuffing, the
// terminator, and the send record kept in front of each sent copy.

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <functional>

// Longest body line allowed, in characters, CRs not counted.
constexpr qsizetype MaxBodyLineChars = 77;

// "" when every line of the text (split at LF) is at most 77 characters long, CRs not counted;
// else the refusal that names the first longer line.
QString CheckBodyLines(QByteArrayView text);

// "Date: Sat, 05 Dec 2026 03:28:43 +0100" CR LF, in English names, with the given local time
// and its offset from UTC.
QByteArray DateLine(const QDateTime& localTime, int utcOffsetSeconds);

struct MessageHeader {
    QByteArray toName;
    QByteArray toAddress;
    QByteArray fromAddress;
    QByteArray subject;
    QByteArray boundary;
};

// From, To, Subject, Date, X-Mailer, the MIME lines when a boundary is given, the empty line.
QByteArray HeaderBlock(const MessageHeader& header, const QByteArray& dateLine);

// The body as it goes out after the header: with a boundary, the MIME preamble line first; then
// the text split at every LF, every CR dropped, each line ended by CR LF (a text ending in LF
// gains an empty last line). It is made piece by piece as it is read, so that a body of many
// megabytes is never copied whole; it refers to the text, which must outlive it.
class OutgoingBody {
public:
    OutgoingBody(const MessageHeader& header, const QByteArray& text);

    qsizetype Size() const { return mSize; }
    // How many of its lines begin with ".".
    qsizetype LineDots() const;
    // The terminating line: "." CR LF, after CR LF when the body is empty.
    QByteArray Terminator() const;

    // Reads the body from its start, in pieces made from at most 64 KiB of the text each.
    class Reader {
    public:
        explicit Reader(const OutgoingBody& body) : mBody(body) { }
        // The next piece, never empty, valid until the next call; false after the last.
        bool Next(QByteArrayView& piece);

    private:
        const OutgoingBody& mBody;
        bool mPreambleRead = false;
        qsizetype mTextRead = 0;
        QByteArray mPiece;
    };

    // Hands every piece to `write` in order; false as soon as `write` gives false.
    bool WriteTo(const std::function<bool(QByteArrayView)>& write) const;

private:
    QByteArray mPreamble;
    const QByteArray& mText;
    qsizetype mSize;
};

// Every LF followed by "." becomes LF ".."; with `afterLineFeed` (the content goes on from a
// line end), a "." at its start is doubled too. Content sent in pieces is stuffed piece by piece.
QByteArray DotStuff(QByteArrayView content, bool afterLineFeed = false);
// How many dots DotStuff adds.
qsizetype StuffingDots(QByteArrayView content, bool afterLineFeed = false);

// The text of a reply for the send record: before its first CR LF, from its fourth character.
QByteArray ReplyText(const QByteArray& reply);

// What a send records about its dialog: the commands it sent and the server's key replies.
class SendRecord {
public:
    void SetStartupInfo(const QString& localIP, const QString& remoteHost, quint16 remotePort);
    void AddSent(const QByteArray& commandLine);
    void SetConnResponse(const QByteArray& reply) { mConnResponse = ReplyText(reply); }
    void SetHeloResponse(const QByteArray& reply) { mHeloResponse = ReplyText(reply); }
    void SetBodyEndResponse(const QByteArray& reply) { mBodyEndResponse = ReplyText(reply); }

    // The sent lines, then the information lines.
    QByteArray Text() const;

private:
    QByteArray mSentLines;
    QByteArray mStartupInfo;
    QByteArray mConnResponse;
    QByteArray mHeloResponse;
    QByteArray mBodyEndResponse;
};
