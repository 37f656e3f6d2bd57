#include "POP3Commands.h"

#include "modGeneralExceptionHandler.h"

#include <QCryptographicHash>
#include <QList>
#include <limits>

namespace POP3Commands {

namespace {

const QByteArray Terminator = QByteArrayLiteral("\r\n.\r\n");

// The wire form of lines: a "." doubled at each line start, every line end CR LF, then the
// terminator. The last line's own end serves as the terminator's first CR LF.
QByteArray StuffAndTerminate(QByteArrayView text)
{
    QByteArray wire;
    wire.reserve(text.size() + text.size() / 32 + 8);
    bool lineStart = true;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (lineStart && c == '.')
            wire += '.';
        if (c == '\n' && (i == 0 || text[i - 1] != '\r'))
            wire += '\r';
        wire += c;
        lineStart = c == '\n';
    }
    wire.append(lineStart ? QByteArrayView(".\r\n") : QByteArrayView(Terminator));
    return wire;
}

// The text without a terminator it already carries (its last line end stays).
QByteArrayView WithoutTerminator(const QByteArray& text)
{
    const QByteArrayView view(text);
    return text.endsWith(Terminator) ? view.first(view.size() - 3) : view;
}

// Where the line that starts at `from` ends (after its LF; the text's end for the last line).
qsizetype NextLine(QByteArrayView text, qsizetype from)
{
    const qsizetype lf = text.indexOf('\n', from);
    return lf < 0 ? text.size() : lf + 1;
}

bool IsEmptyLine(QByteArrayView text, qsizetype from, qsizetype to)
{
    const QByteArrayView line = text.sliced(from, to - from);
    return line == "\n" || line == "\r\n";
}

} // namespace

QByteArray CommandOf(const QByteArray& line) { return line.left(4).toUpper(); }

QByteArray NameArgument(const QByteArray& line)
{
    if (line.size() <= 5)
        return {};
    const qsizetype blank = line.indexOf(' ', 5);
    return blank < 0 ? line.mid(5) : line.mid(5, blank - 5);
}

NumberArgument ToNumber(const QByteArray& text)
{
    NumberArgument argument;
    argument.present = true;
    argument.text = text;
    qsizetype digitsFrom = (text.startsWith('-') || text.startsWith('+')) ? 1 : 0;
    if (digitsFrom == text.size()) {
        argument.errorNumber = ErrorNumbers::TypeMismatch;
        return argument;
    }
    qint64 magnitude = 0;
    bool outOfRange = false;
    for (qsizetype i = digitsFrom; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') {
            argument.errorNumber = ErrorNumbers::TypeMismatch;
            return argument;
        }
        if (magnitude <= std::numeric_limits<qint32>::max() + qint64(1))
            magnitude = magnitude * 10 + (c - '0');
        else
            outOfRange = true;
    }
    const qint64 value = text.startsWith('-') ? -magnitude : magnitude;
    if (outOfRange || value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<qint32>::max()) {
        argument.errorNumber = ErrorNumbers::Overflow;
        return argument;
    }
    argument.value = static_cast<qint32>(value);
    return argument;
}

NumberArgument NumberField(const QByteArray& line, int index)
{
    const QList<QByteArray> fields = line.split(' ');
    if (fields.size() <= index)
        return {};
    return ToNumber(fields[index]);
}

QByteArray StuffedMessage(const QByteArray& text) { return StuffAndTerminate(WithoutTerminator(text)); }

QByteArray StuffedTop(const QByteArray& text, qint32 bodyLines)
{
    const QByteArrayView view = WithoutTerminator(text);
    qsizetype end = 0;
    bool inBody = false;
    qint64 bodyLeft = std::max<qint32>(bodyLines, 0);
    while (end < view.size()) {
        if (inBody && bodyLeft-- == 0)
            break;
        const qsizetype next = NextLine(view, end);
        if (!inBody && IsEmptyLine(view, end, next))
            inBody = true;
        end = next;
    }
    return StuffAndTerminate(view.first(end));
}

QByteArray UniqueId(const QByteArray& fileName)
{
    return QCryptographicHash::hash(fileName, QCryptographicHash::Sha1).toHex();
}

} // namespace POP3Commands
