#pragma once
// The text of an outgoing message: the body line rule, the header block, dot stuffing, the
// terminator, and the send record kept in front of each sent copy.

#include <QByteArray>
#include <QDateTime>
#include <QString>

// Longest body line allowed, in characters, CRs not counted.
constexpr qsizetype MaxBodyLineChars = 77;

// Splits the text at every LF, drops every CR and ends each line with CR LF (a text ending in
// LF gains an empty last line). A line longer than 77 characters sets `message` and gives "".
QByteArray CheckBodyLines(const QByteArray& text, QString& message);

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

// The body as sent after the header: with a boundary, preceded by the MIME preamble line.
QByteArray MessageBody(const MessageHeader& header, const QByteArray& checkedBody);

// Every LF followed by "." becomes LF ".."; with `afterLineFeed` (the content goes on from a
// line end), a "." at its start is doubled too. Content sent in pieces is stuffed piece by piece.
QByteArray DotStuff(QByteArrayView content, bool afterLineFeed = false);
// How many dots DotStuff adds.
qsizetype StuffingDots(QByteArrayView content, bool afterLineFeed = false);

// "." CR LF after a body ending in CR LF, else CR LF "." CR LF.
QByteArray Terminator(const QByteArray& body);

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
