#include "email_Encoding.h"

#include "ProductInfo.h"
#include "Text8.h"

#include <algorithm>
#include <cstring>

namespace {
const QByteArray CrLf("\r\n");
const QByteArray RecordPrefix("X-Wrenpost info: ");

QByteArray TwoDigits(int value) { return QByteArray::number(value).rightJustified(2, '0'); }

// Where the byte is first found from `from` on, or `end`.
const char* Find(const char* from, const char* end, char byte)
{
    if (from == end) // an empty text may have no data at all
        return end;
    const void* found = std::memchr(from, byte, static_cast<size_t>(end - from));
    return found == nullptr ? end : static_cast<const char*>(found);
}

// Calls `line` with each line of the text split at LF, the LF left out. A body has a line every
// few dozen bytes: one memchr a line keeps a pass over many megabytes to a few milliseconds.
template <typename Line> void ForEachLine(QByteArrayView text, Line line)
{
    const char* const end = text.data() + text.size();
    for (const char* start = text.data();; ++start) {
        const char* const lineFeed = Find(start, end, '\n');
        line(QByteArrayView(start, lineFeed));
        if (lineFeed == end)
            return;
        start = lineFeed;
    }
}

qsizetype CountOf(QByteArrayView text, char byte)
{
    qsizetype count = 0;
    const char* const end = text.data() + text.size();
    for (const char* at = Find(text.data(), end, byte); at != end; at = Find(at + 1, end, byte))
        ++count;
    return count;
}

// How much of the text one piece of an outgoing body is made from.
constexpr qsizetype TextPieceBytes = 1 << 16;

// Appends the text with every CR dropped and every LF made CR LF.
void AppendWireLines(QByteArray& out, QByteArrayView text)
{
    const qsizetype start = out.size();
    out.resize(start + 2 * text.size());
    char* to = out.data() + start;
    const char* const end = text.data() + text.size();
    const char* carriageReturn = Find(text.data(), end, '\r');
    const char* lineFeed = Find(text.data(), end, '\n');
    for (const char* from = text.data();;) {
        const char* const stop = std::min(carriageReturn, lineFeed);
        to = std::copy(from, stop, to);
        if (stop == end)
            break;
        if (stop == lineFeed) {
            to = std::copy(CrLf.cbegin(), CrLf.cend(), to);
            lineFeed = Find(stop + 1, end, '\n');
        } else {
            carriageReturn = Find(stop + 1, end, '\r');
        }
        from = stop + 1;
    }
    out.truncate(to - out.constData());
}

// Calls `dot` with the position of each "." that begins a line of the content.
template <typename AtDot> void ForEachLineDot(QByteArrayView content, bool afterLineFeed, AtDot dot)
{
    if (afterLineFeed && content.startsWith('.'))
        dot(0);
    for (qsizetype lineFeed = content.indexOf('\n'); lineFeed >= 0; lineFeed = content.indexOf('\n', lineFeed + 1))
        if (lineFeed + 1 < content.size() && content[lineFeed + 1] == '.')
            dot(lineFeed + 1);
}

} // namespace

QString CheckBodyLines(QByteArrayView text)
{
    QString refusal;
    qsizetype number = 0;
    ForEachLine(text, [&](QByteArrayView line) {
        // A line is measured only when its bytes could be too many characters.
        if (refusal.isEmpty() && line.size() > MaxBodyLineChars && line.size() - CountOf(line, '\r') > MaxBodyLineChars) {
            QByteArray piece = line.toByteArray();
            piece.replace('\r', QByteArray());
            if (Text8::CharCount(piece) > MaxBodyLineChars)
                refusal = QStringLiteral("String #") + QString::number(number) + QStringLiteral(":\r\n")
                    + Text8::ToDisplay(Text8::LeftChars(piece, 80)) + QStringLiteral(" ... \r\nis longer than 77 characters.");
        }
        ++number;
    });
    return refusal;
}

QByteArray DateLine(const QDateTime& localTime, int utcOffsetSeconds)
{
    static const char* const days[] = { "Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun" };
    static const char* const months[] = { "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec" };
    const QDate date = localTime.date();
    const QTime time = localTime.time();
    const int offsetMinutes = std::abs(utcOffsetSeconds) / 60;
    return QByteArray("Date: ") + days[date.dayOfWeek() - 1] + ", " + TwoDigits(date.day()) + ' ' + months[date.month() - 1]
        + ' ' + QByteArray::number(date.year()) + ' ' + TwoDigits(time.hour()) + ':' + TwoDigits(time.minute()) + ':'
        + TwoDigits(time.second()) + ' ' + (utcOffsetSeconds < 0 ? '-' : '+') + TwoDigits(offsetMinutes / 60)
        + TwoDigits(offsetMinutes % 60) + CrLf;
}

QByteArray HeaderBlock(const MessageHeader& header, const QByteArray& dateLine)
{
    const QByteArray display = header.toName.isEmpty() ? QByteArray() : '"' + header.toName + "\" ";
    QByteArray block = "From: <" + header.fromAddress + '>' + CrLf + "To: " + display + '<' + header.toAddress + '>'
        + CrLf + "Subject: " + header.subject + CrLf + dateLine + "X-Mailer: " + ProductBanner() + CrLf;
    if (!header.boundary.isEmpty())
        block += "MIME-Version: 1.0" + CrLf + "Content-Type: multipart/mixed; boundary=\"" + header.boundary + '"' + CrLf;
    return block + CrLf;
}

OutgoingBody::OutgoingBody(const MessageHeader& header, const QByteArray& text)
    : mPreamble(header.boundary.isEmpty() ? QByteArray() : "This is a multi-part message in MIME format." + CrLf)
    , mText(text)
    , mSize(mPreamble.size() + (text.isEmpty() ? 0 : text.size() - CountOf(text, '\r') + CountOf(text, '\n') + CrLf.size()))
{
}

qsizetype OutgoingBody::LineDots() const
{
    // A line's CRs go, so a "." after them begins it.
    qsizetype dots = 0;
    ForEachLine(mText, [&dots](QByteArrayView line) {
        const qsizetype first = std::find_if(line.begin(), line.end(), [](char c) { return c != '\r'; }) - line.begin();
        if (first < line.size() && line[first] == '.')
            ++dots;
    });
    return dots;
}

QByteArray OutgoingBody::Terminator() const { return mSize == 0 ? CrLf + "." + CrLf : "." + CrLf; }

bool OutgoingBody::Reader::Next(QByteArrayView& piece)
{
    if (!mPreambleRead) {
        mPreambleRead = true;
        if (!mBody.mPreamble.isEmpty()) {
            piece = mBody.mPreamble;
            return true;
        }
    }
    const QByteArrayView text(mBody.mText);
    while (mTextRead < text.size()) {
        const qsizetype end = std::min(mTextRead + TextPieceBytes, text.size());
        // Truncated, not cleared: the piece's buffer serves every piece.
        mPiece.truncate(0);
        AppendWireLines(mPiece, text.sliced(mTextRead, end - mTextRead));
        if (end == text.size())
            mPiece.append(CrLf);
        mTextRead = end;
        if (!mPiece.isEmpty()) {
            piece = mPiece;
            return true;
        }
    }
    return false;
}

bool OutgoingBody::WriteTo(const std::function<bool(QByteArrayView)>& write) const
{
    Reader reader(*this);
    for (QByteArrayView piece; reader.Next(piece);)
        if (!write(piece))
            return false;
    return true;
}

QByteArray DotStuff(QByteArrayView content, bool afterLineFeed)
{
    QByteArray stuffed;
    stuffed.reserve(content.size() + StuffingDots(content, afterLineFeed));
    qsizetype start = 0;
    ForEachLineDot(content, afterLineFeed, [&](qsizetype dot) {
        stuffed.append(content.sliced(start, dot - start)).append('.');
        start = dot;
    });
    return stuffed.append(content.sliced(start));
}

qsizetype StuffingDots(QByteArrayView content, bool afterLineFeed)
{
    qsizetype dots = 0;
    ForEachLineDot(content, afterLineFeed, [&dots](qsizetype) { ++dots; });
    return dots;
}

QByteArray ReplyText(const QByteArray& reply)
{
    const qsizetype lineEnd = reply.indexOf(CrLf);
    const QByteArray firstLine = lineEnd < 0 ? reply : reply.left(lineEnd);
    return firstLine.size() < 4 ? QByteArray() : firstLine.mid(3);
}

void SendRecord::SetStartupInfo(const QString& localIP, const QString& remoteHost, quint16 remotePort)
{
    mStartupInfo = RecordPrefix + " startup info: " + "   Local IP:    " + localIP.toLocal8Bit() + CrLf
        + "   Remote Host: " + remoteHost.toLocal8Bit() + " Remote Port: " + QByteArray::number(remotePort) + CrLf;
}

void SendRecord::AddSent(const QByteArray& commandLine) { mSentLines += RecordPrefix + "sent: " + commandLine; }

QByteArray SendRecord::Text() const
{
    return mSentLines + mStartupInfo + RecordPrefix + " conn response: " + mConnResponse + CrLf + RecordPrefix
        + " helo response: " + mHeloResponse + CrLf + RecordPrefix + " body end response: " + mBodyEndResponse + CrLf;
}
