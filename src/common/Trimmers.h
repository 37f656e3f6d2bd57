#pragma once
// Trimming of leading and trailing characters. The whitespace set is blank, tab, CR, LF.

#include <QByteArray>

QByteArray TrimLeftChars(const QByteArray& text, const QByteArray& set);
QByteArray TrimRightChars(const QByteArray& text, const QByteArray& set);
QByteArray TrimLeftWS(const QByteArray& text);
QByteArray TrimRightWS(const QByteArray& text);
QByteArray TrimWS(const QByteArray& text);
