#include "Text8.h"

namespace Text8 {
namespace {

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the character starting at `pos`: its valid UTF-8 sequence, or 1 for a stray byte.
qsizetype CharLengthAt(const QByteArray& text, qsizetype pos)
{
    const auto lead = static_cast<unsigned char>(text[pos]);
    qsizetype length = 1;
    unsigned int codePoint = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
    } else {
        return 1;
    }
    if (pos + length > text.size())
        return 1;
    for (qsizetype i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[pos + i]);
        if (!IsContinuation(byte))
            return 1;
        codePoint = (codePoint << 6) | (byte & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not characters.
    const bool overlong = (length == 3 && codePoint < 0x800) || (length == 4 && codePoint < 0x10000);
    if (overlong || (codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF)
        return 1;
    return length;
}

} // namespace

qsizetype CharCount(const QByteArray& text)
{
    qsizetype count = 0;
    for (qsizetype pos = 0; pos < text.size(); pos += CharLengthAt(text, pos))
        ++count;
    return count;
}

qsizetype ByteOffsetOfChar(const QByteArray& text, qsizetype chars)
{
    qsizetype pos = 0;
    for (qsizetype seen = 0; seen < chars && pos < text.size(); ++seen)
        pos += CharLengthAt(text, pos);
    return pos;
}

QByteArray LeftChars(const QByteArray& text, qsizetype chars)
{
    return text.left(ByteOffsetOfChar(text, chars));
}

QByteArray RightChars(const QByteArray& text, qsizetype chars)
{
    const qsizetype total = CharCount(text);
    if (chars >= total)
        return text;
    return text.mid(ByteOffsetOfChar(text, total - chars));
}

QString LeftDisplayChars(const QString& text, qsizetype chars)
{
    qsizetype units = 0;
    for (qsizetype seen = 0; seen < chars && units < text.size(); ++seen)
        units += text[units].isHighSurrogate() && units + 1 < text.size() ? 2 : 1;
    return text.left(units);
}

QString ToDisplay(const QByteArray& text) { return QString::fromLocal8Bit(text); }

QByteArray FromDisplay(const QString& text) { return text.toLocal8Bit(); }

} // namespace Text8
