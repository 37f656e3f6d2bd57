#include "POP3Commands.h"

#include "modGeneralExceptionHandler.h"

#include <QCryptographicHash>
#include <QList>
#include <limits>

namespace POP3Commands {

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

QByteArray UniqueId(const QByteArray& fileName)
{
    return QCryptographicHash::hash(fileName, QCryptographicHash::Sha1).toHex();
}

} // namespace POP3Commands
