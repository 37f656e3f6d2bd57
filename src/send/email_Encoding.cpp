#include "email_Encoding.h"

#include "ProductInfo.h"
#include "Text8.h"

namespace {
const QByteArray CrLf("\r\n");
const QByteArray RecordPrefix("X-Wrenpost info: ");

QByteArray TwoDigits(int value) { return QByteArray::number(value).rightJustified(2, '0'); }
} // namespace

QByteArray CheckBodyLines(const QByteArray& text, QString& message)
{
    if (text.isEmpty())
        return {};
    QByteArray result;
    result.reserve(text.size() + text.size() / 32 + 2);
    qsizetype start = 0;
    for (qsizetype number = 0;; ++number) {
        const qsizetype lineFeed = text.indexOf('\n', start);
        const qsizetype end = lineFeed < 0 ? text.size() : lineFeed;
        QByteArray piece = text.mid(start, end - start);
        piece.replace('\r', QByteArray());
        if (piece.size() > MaxBodyLineChars && Text8::CharCount(piece) > MaxBodyLineChars) {
            message = QStringLiteral("String #") + QString::number(number) + QStringLiteral(":\r\n")
                + Text8::ToDisplay(Text8::LeftChars(piece, 80)) + QStringLiteral(" ... \r\nis longer than 77 characters.");
            return {};
        }
        result += piece + CrLf;
        if (lineFeed < 0)
            return result;
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

QByteArray DotStuff(const QByteArray& content)
{
    QByteArray stuffed;
    stuffed.reserve(content.size() + content.size() / 64 + 1);
    qsizetype start = 0;
    for (qsizetype dot = content.indexOf("\n.", start); dot >= 0; dot = content.indexOf("\n.", start)) {
        stuffed.append(content.constData() + start, dot + 2 - start);
        stuffed.append('.');
        start = dot + 2;
    }
    stuffed.append(content.constData() + start, content.size() - start);
    return stuffed;
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
