#pragma once
// The program's 8-bit text is the locale's encoding (UTF-8 here). The core keeps it as bytes;
// these helpers count characters as the user sees them and convert at the widget boundary.
// A byte that does not start a valid UTF-8 sequence counts as one character of its own.

#include <QByteArray>
#include <QString>

namespace Text8 {

// Number of characters in the text.
qsizetype CharCount(const QByteArray& text);

// Byte offset at which character number `chars` (counted from 0) starts; the text's size when
// it has no more characters than that. Never lands inside a character.
qsizetype ByteOffsetOfChar(const QByteArray& text, qsizetype chars);

// The first / last `chars` characters of the text.
QByteArray LeftChars(const QByteArray& text, qsizetype chars);
QByteArray RightChars(const QByteArray& text, qsizetype chars);

// The first `chars` characters of a display text (a character outside the basic plane is one
// character, never split).
QString LeftDisplayChars(const QString& text, qsizetype chars);

QString ToDisplay(const QByteArray& text);
QByteArray FromDisplay(const QString& text);

} // namespace Text8
