#include "Trimmers.h"

namespace {
const QByteArray WhiteSpace(" \t\r\n");
}

QByteArray TrimLeftChars(const QByteArray& text, const QByteArray& set)
{
    qsizetype start = 0;
    while (start < text.size() && set.contains(text[start]))
        ++start;
    return text.mid(start);
}

QByteArray TrimRightChars(const QByteArray& text, const QByteArray& set)
{
    qsizetype end = text.size();
    while (end > 0 && set.contains(text[end - 1]))
        --end;
    return text.left(end);
}

QByteArray TrimLeftWS(const QByteArray& text) { return TrimLeftChars(text, WhiteSpace); }

QByteArray TrimRightWS(const QByteArray& text) { return TrimRightChars(text, WhiteSpace); }

QByteArray TrimWS(const QByteArray& text) { return TrimRightWS(TrimLeftWS(text)); }
