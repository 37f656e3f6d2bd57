#pragma once
// Shared by the tests: readable failure output for Qt's byte strings and strings.

#include <QByteArray>
#include <QString>
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>

// Quoted, control bytes escaped, long texts shortened.
inline void PrintTo(const QByteArray& bytes, std::ostream* out)
{
    constexpr qsizetype Shown = 160;
    *out << '"';
    for (qsizetype i = 0; i < bytes.size() && i < Shown; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        char escaped[5];
        if (byte == '\r' || byte == '\n')
            *out << (byte == '\r' ? "\\r" : "\\n");
        else if (byte < 0x20 || byte >= 0x7F || byte == '"' || byte == '\\')
            *out << (std::snprintf(escaped, sizeof escaped, "\\x%02X", byte), escaped);
        else
            *out << char(byte);
    }
    *out << '"';
    if (bytes.size() > Shown)
        *out << "... (" << bytes.size() << " bytes)";
}

inline void PrintTo(const QString& text, std::ostream* out) { PrintTo(text.toUtf8(), out); }
