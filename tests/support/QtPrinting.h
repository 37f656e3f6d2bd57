#pragma once
// Shared by the tests: readable failure output for Qt's strings, and table rows shown and
// named by their `name` field.

#include <QByteArray>
#include <QString>
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <ostream>
#include <string>

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

// The same unnamed namespace as the including test's own, so that its rows find these.
namespace {

template <typename Row>
    requires requires(const Row& row) { row.name; }
void PrintTo(const Row& row, std::ostream* out)
{
    *out << row.name;
}

// Names a TEST_P row after its `name`, every character other than a letter or digit made "_".
struct RowName {
    template <typename Row>
    std::string operator()(const ::testing::TestParamInfo<Row>& info) const
    {
        std::string name = info.param.name;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    }
};

} // namespace
