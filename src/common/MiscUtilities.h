#pragma once

#include <QByteArray>
#include <optional>

// The text up to its first line feed, without a CR right before it.
QByteArray FirstLine(const QByteArray& text);

// A server's reply up to and including its first line feed; the whole reply when it has none.
QByteArray ReplyFirstLine(const QByteArray& text);

// Reads a number leniently: blanks, tabs and line feeds are ignored, a full stop is the decimal
// separator, reading stops at the first character that cannot continue the number, and a text
// without a leading number is 0. Empty when the number cannot be represented (overflow).
std::optional<double> LenientNumber(const QByteArray& text);

// The number in the shortest decimal form that reads back as the same value ("5", "0.5", "2.25").
QByteArray ShortestNumber(double value);
