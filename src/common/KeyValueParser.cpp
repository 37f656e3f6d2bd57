#include "KeyValueParser.h"

#include "Trimmers.h"

QByteArray FindKeyValue(const QByteArray& text, const QByteArray& key, const QByteArray& sep, const QByteArray& eol)
{
    if (key.isEmpty())
        return {};
    // Positions are 0-based here; the search runs while it starts before the last character.
    qsizetype searchFrom = 0;
    while (searchFrom < text.size() - 1) {
        const qsizetype found = text.indexOf(key, searchFrom);
        if (found < 0)
            return {};
        if (found == 0)
            return ExtractValue(text, key, sep, eol);
        // Walk back over blanks and tabs: a line feed before them means the key starts a line.
        qsizetype back = found - 1;
        while (back >= 0 && (text[back] == ' ' || text[back] == '\t'))
            --back;
        if (back < 0)
            return {};
        if (text[back] == '\n')
            return ExtractValue(text.mid(found), key, sep, eol);
        searchFrom = found + key.size();
    }
    return {};
}

QByteArray ExtractValue(const QByteArray& text, const QByteArray& key, const QByteArray& sep, const QByteArray& eol)
{
    if (key.isEmpty())
        return {};
    const qsizetype found = text.indexOf(key);
    if (found < 0)
        return {};
    const qsizetype start = found + key.size();
    qsizetype end = eol.isEmpty() ? -1 : text.indexOf(eol, start);
    if (end < 0)
        end = text.size();
    return TrimLeftWS(TrimLeftChars(TrimWS(text.mid(start, end - start)), sep));
}
