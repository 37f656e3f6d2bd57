#include "email_Encoding.h"

#include "ProductInfo.h"
#include "Text8.h"

#include <algorithm>

namespace {
const QByteArray CrLf("\r\n");
const QByteArray RecordPrefix("X-Wrenpost info: ");

QByteArray TwoDigits(int value) { return QByteArray::number(value).rightJustified(2, '0'); }
} // namespace

QByteArray CheckBodyLines(const QByteArray& text, QString& message)
{
    if (text.isEmpty())
        return {};
    // One pass into one buffer sized up front: a body of many megabytes is neither split into
    // lines nor copied twice.
    const QByteArrayView whole(text);
    qsizetype lineFeeds = 0;
    for (qsizetype at = whole.indexOf('\n'); at >= 0; at = whole.indexOf('\n', at + 1))
        ++lineFeeds;
    QByteArray result(text.size() + lineFeeds + CrLf.size(), Qt::Uninitialized);
    char* out = result.data();
    qsizetype start = 0;
    for (qsizetype number = 0;; ++number) {
        const qsizetype lineFeed = whole.indexOf('\n', start);
        const QByteArrayView line = whole.sliced(start, (lineFeed < 0 ? whole.size() : lineFeed) - start);
        char* const lineStart = out;
        for (qsizetype from = 0; from < line.size();) {
            const qsizetype carriageReturn = line.indexOf('\r', from);
            const qsizetype to = carriageReturn < 0 ? line.size() : carriageReturn;
            out = std::copy(line.data() + from, line.data() + to, out);
            from = to + 1;
        }
        if (out - lineStart > MaxBodyLineChars) {
            const QByteArray piece(lineStart, out - lineStart);
            if (Text8::CharCount(piece) > MaxBodyLineChars) {
                message = QStringLiteral("String #") + QString::number(number) + QStringLiteral(":\r\n")
                    + Text8::ToDisplay(Text8::LeftChars(piece, 80)) + QStringLiteral(" ... \r\nis longer than 77 characters.");
                return {};
            }
        }
        out = std::copy(CrLf.cbegin(), CrLf.cend(), out);
        if (lineFeed < 0) {
            result.truncate(out - result.constData());
            return result;
        }
        start = lineFeed + 1;
    }
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

QByteArray MessageBody(const MessageHeader& header, const QByteArray& checkedBody)
{
    if (header.boundary.isEmpty())
        return checkedBody;
    return "This is a multi-part message in MIME format." + CrLf + checkedBody;
}

namespace {

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

QByteArray Terminator(const QByteArray& body) { return body.endsWith(CrLf) ? "." + CrLf : CrLf + "." + CrLf; }

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
