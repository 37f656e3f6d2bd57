#pragma once
// Finds the value of a key in "key=value" lines. The key is matched as a prefix of a line
// (after blanks and tabs), so "user" finds the line "user=joe" but not "send user=joe2";
// the first matching line wins. The value is what follows the key up to the line separator,
// with whitespace trimmed and any number of leading separators dropped.

#include <QByteArray>

QByteArray FindKeyValue(const QByteArray& text, const QByteArray& key, const QByteArray& sep, const QByteArray& eol);

// Cuts the value out of a text that begins at the key.
QByteArray ExtractValue(const QByteArray& text, const QByteArray& key, const QByteArray& sep, const QByteArray& eol);
