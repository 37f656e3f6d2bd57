#include "MiscUtilities.h"

#include <QLocale>
#include <cctype>
#include <cmath>

QByteArray FirstLine(const QByteArray& text)
{
    const qsizetype lineFeed = text.indexOf('\n');
    if (lineFeed < 0)
        return text;
    const qsizetype end = lineFeed > 0 && text[lineFeed - 1] == '\r' ? lineFeed - 1 : lineFeed;
    return text.left(end);
}

QByteArray ReplyFirstLine(const QByteArray& text)
{
    const qsizetype lineFeed = text.indexOf('\n');
    return lineFeed < 0 ? text : text.left(lineFeed + 1);
}

std::optional<double> LenientNumber(const QByteArray& text)
{
    QByteArray compact;
    for (const char c : text)
        if (c != ' ' && c != '\t' && c != '\n')
            compact.append(c);

    // sign? digits* ("." digits*)? (exponent sign? digits+)?
    qsizetype pos = 0;
    const auto digitsFrom = [&](qsizetype at) {
        while (at < compact.size() && std::isdigit(static_cast<unsigned char>(compact[at])))
            ++at;
        return at;
    };
    if (pos < compact.size() && (compact[pos] == '-' || compact[pos] == '+'))
        ++pos;
    qsizetype end = digitsFrom(pos);
    bool anyDigit = end > pos;
    if (end < compact.size() && compact[end] == '.') {
        const qsizetype fractionEnd = digitsFrom(end + 1);
        anyDigit = anyDigit || fractionEnd > end + 1;
        end = fractionEnd;
    }
    if (!anyDigit)
        return 0.0;
    if (end < compact.size() && QByteArray("eEdD").contains(compact[end])) {
        qsizetype exponent = end + 1;
        if (exponent < compact.size() && (compact[exponent] == '-' || compact[exponent] == '+'))
            ++exponent;
        const qsizetype exponentEnd = digitsFrom(exponent);
        if (exponentEnd > exponent)
            end = exponentEnd;
    }
    QByteArray number = compact.left(end);
    number.replace('d', 'e').replace('D', 'e');
    bool ok = false;
    const double value = QLocale::c().toDouble(QString::fromLatin1(number), &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

QByteArray ShortestNumber(double value)
{
    return QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
}
