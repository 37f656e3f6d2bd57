// Pure text and geometry helpers: trimming, UTF-8 character counting, lenient numbers, first
// lines, and the window layout arithmetic.

#include "QtPrinting.h"
#include "FormHelpers.h"
#include "MiscUtilities.h"
#include "Text8.h"
#include "Trimmers.h"

#include <optional>

namespace {

struct TrimRow {
    const char* name;
    QByteArray (*trim)(const QByteArray&);
    QByteArray text;
    QByteArray expected;
};

QByteArray LeftOfEqualsAndSemicolons(const QByteArray& text) { return TrimLeftChars(text, "=;"); }
QByteArray RightOfEqualsAndSemicolons(const QByteArray& text) { return TrimRightChars(text, "=;"); }
QByteArray LeftOfNothing(const QByteArray& text) { return TrimLeftChars(text, ""); }
QByteArray RightOfNothing(const QByteArray& text) { return TrimRightChars(text, ""); }

class Trimming : public ::testing::TestWithParam<TrimRow> {};

TEST_P(Trimming, KeepsWhatIsOutsideTheSet) { EXPECT_EQ(GetParam().trim(GetParam().text), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Trimmers, Trimming,
    ::testing::Values(
        TrimRow { "left any run of set chars", LeftOfEqualsAndSemicolons, "==;=a=b=", "a=b=" },
        TrimRow { "right any run of set chars", RightOfEqualsAndSemicolons, "=a=b;==", "=a=b" },
        TrimRow { "left everything in set", LeftOfEqualsAndSemicolons, "=;=", "" },
        TrimRow { "right everything in set", RightOfEqualsAndSemicolons, "=;=", "" },
        TrimRow { "left empty set changes nothing", LeftOfNothing, "  a  ", "  a  " },
        TrimRow { "right empty set changes nothing", RightOfNothing, "  a  ", "  a  " },
        TrimRow { "left ws all four kinds", TrimLeftWS, " \t\r\n x y \r\n", "x y \r\n" },
        TrimRow { "right ws all four kinds", TrimRightWS, " x y\n\r\t ", " x y" },
        TrimRow { "both ws keeps inner blanks", TrimWS, "\r\n\t a \t b \t\r\n", "a \t b" },
        TrimRow { "ws leaves other control chars", TrimWS, "\v\fa\f\v", "\v\fa\f\v" },
        TrimRow { "ws only", TrimWS, " \t\r\n", "" }),
    RowName());

// "a", e acute (2 bytes), euro sign (3 bytes), grinning face (4 bytes).
const QByteArray Mixed("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");

struct CountRow {
    const char* name;
    QByteArray text;
    qsizetype chars;
};

class CharCounting : public ::testing::TestWithParam<CountRow> {};

TEST_P(CharCounting, CountsCharactersNotBytes) { EXPECT_EQ(Text8::CharCount(GetParam().text), GetParam().chars); }

INSTANTIATE_TEST_SUITE_P(Text8, CharCounting,
    ::testing::Values(
        CountRow { "empty", "", 0 },
        CountRow { "ascii", "hello", 5 },
        CountRow { "two byte", "\xC3\xA9\xC3\xA9", 2 },
        CountRow { "one of each width", Mixed, 4 },
        CountRow { "three byte cut after two bytes", "\xE2\x82", 2 },
        CountRow { "four byte cut after three bytes at end", "x\xF0\x9F\x98", 4 },
        CountRow { "lead byte followed by ascii", "\xE2\x82" "A", 3 },
        CountRow { "stray continuation bytes", "\x80\xBF" "a", 3 },
        CountRow { "bytes never used in utf8", "\xFF\xFE", 2 },
        CountRow { "overlong forms", "\xC0\xAF\xE0\x80\x80", 5 },
        CountRow { "surrogate half", "\xED\xA0\x80", 3 },
        CountRow { "beyond last code point", "\xF4\x90\x80\x80", 4 },
        CountRow { "nul is a character", QByteArray("a\0b", 3), 3 }),
    RowName());

struct OffsetRow {
    const char* name;
    QByteArray text;
    qsizetype chars;
    qsizetype offset;
};

class CharOffsets : public ::testing::TestWithParam<OffsetRow> {};

TEST_P(CharOffsets, LandsOnCharacterStarts)
{
    EXPECT_EQ(Text8::ByteOffsetOfChar(GetParam().text, GetParam().chars), GetParam().offset);
}

INSTANTIATE_TEST_SUITE_P(Text8, CharOffsets,
    ::testing::Values(
        OffsetRow { "zero", Mixed, 0, 0 },
        OffsetRow { "after ascii", Mixed, 1, 1 },
        OffsetRow { "after two byte", Mixed, 2, 3 },
        OffsetRow { "after three byte", Mixed, 3, 6 },
        OffsetRow { "after four byte is the size", Mixed, 4, 10 },
        OffsetRow { "past the end is the size", Mixed, 9, 10 },
        OffsetRow { "truncated lead counts alone", "\xE2\x82" "A", 1, 1 },
        OffsetRow { "valid after stray", "\x80\xC3\xA9z", 2, 3 }),
    RowName());

struct SliceRow {
    const char* name;
    QByteArray text;
    qsizetype chars;
    QByteArray left;
    QByteArray right;
};

class CharSlices : public ::testing::TestWithParam<SliceRow> {};

TEST_P(CharSlices, LeftAndRightTakeWholeCharacters)
{
    EXPECT_EQ(Text8::LeftChars(GetParam().text, GetParam().chars), GetParam().left);
    EXPECT_EQ(Text8::RightChars(GetParam().text, GetParam().chars), GetParam().right);
}

INSTANTIATE_TEST_SUITE_P(Text8, CharSlices,
    ::testing::Values(
        SliceRow { "none", Mixed, 0, "", "" },
        SliceRow { "ascii", "abcdef", 2, "ab", "ef" },
        SliceRow { "one wide char each side", Mixed, 1, "a", "\xF0\x9F\x98\x80" },
        SliceRow { "two chars each side", Mixed, 2, "a\xC3\xA9", "\xE2\x82\xAC\xF0\x9F\x98\x80" },
        SliceRow { "three chars each side", Mixed, 3, "a\xC3\xA9\xE2\x82\xAC", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80" },
        SliceRow { "more than all", Mixed, 40, Mixed, Mixed },
        SliceRow { "truncated tail stays bytes", "ab\xE2\x82", 3, "ab\xE2", "b\xE2\x82" },
        SliceRow { "stray head stays bytes", "\x80\xC3\xA9z", 2, "\x80\xC3\xA9", "\xC3\xA9z" }),
    RowName());

struct LineRow {
    const char* name;
    QByteArray (*take)(const QByteArray&);
    QByteArray text;
    QByteArray expected;
};

class FirstLines : public ::testing::TestWithParam<LineRow> {};

TEST_P(FirstLines, StopAtTheLineFeed) { EXPECT_EQ(GetParam().take(GetParam().text), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(MiscUtilities, FirstLines,
    ::testing::Values(
        LineRow { "no line feed", FirstLine, "whole text\r", "whole text\r" },
        LineRow { "crlf", FirstLine, "a\r\nb", "a" },
        LineRow { "bare lf", FirstLine, "a\nb\r\n", "a" },
        LineRow { "starts with lf", FirstLine, "\nb", "" },
        LineRow { "starts with crlf", FirstLine, "\r\nb", "" },
        LineRow { "reply without line feed", ReplyFirstLine, "abc", "abc" },
        LineRow { "reply keeps its lf", ReplyFirstLine, "a\nb", "a\n" },
        LineRow { "reply keeps its crlf", ReplyFirstLine, "+OK\r\nmore\r\n", "+OK\r\n" }),
    RowName());

struct NumberRow {
    const char* name;
    QByteArray text;
    std::optional<double> value;
};

class LenientNumbers : public ::testing::TestWithParam<NumberRow> {};

TEST_P(LenientNumbers, ReadTheLeadingNumber) { EXPECT_EQ(LenientNumber(GetParam().text), GetParam().value); }

INSTANTIATE_TEST_SUITE_P(MiscUtilities, LenientNumbers,
    ::testing::Values(
        NumberRow { "integer", "5", 5.0 },
        NumberRow { "fraction", "0.5", 0.5 },
        NumberRow { "blanks inside and around", " 1 0 ", 10.0 },
        NumberRow { "tabs and line feeds ignored", "\t1\n5\n", 15.0 },
        NumberRow { "trailing letters", "10abc", 10.0 },
        NumberRow { "letters only", "abc", 0.0 },
        NumberRow { "empty", "", 0.0 },
        NumberRow { "negative", "-1", -1.0 },
        NumberRow { "exponent", "1e3", 1000.0 },
        NumberRow { "second full stop ends it", "1.5.2", 1.5 },
        NumberRow { "comma is not a separator", "1,5", 1.0 },
        NumberRow { "overflow", "1e999", std::nullopt }),
    RowName());

struct ShortestRow {
    const char* name;
    double value;
    QByteArray text;
};

class ShortestNumbers : public ::testing::TestWithParam<ShortestRow> {};

TEST_P(ShortestNumbers, WriteNoMoreDigitsThanNeeded) { EXPECT_EQ(ShortestNumber(GetParam().value), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(MiscUtilities, ShortestNumbers,
    ::testing::Values(ShortestRow { "whole", 5.0, "5" }, ShortestRow { "half", 0.5, "0.5" },
        ShortestRow { "two decimals", 2.25, "2.25" }, ShortestRow { "one and a half", 1.5, "1.5" },
        ShortestRow { "zero", 0.0, "0" }, ShortestRow { "ten days of minutes", 14400.0, "14400" }),
    RowName());

struct RectRow {
    const char* name;
    TwipRect (*layout)(qint32, qint32, qint32, qint32);
    qint32 a, b, c, d;
    TwipRect expected;
};

class Layout : public ::testing::TestWithParam<RectRow> {};

TEST_P(Layout, ComputesTheRectangle)
{
    const RectRow& row = GetParam();
    EXPECT_EQ(row.layout(row.a, row.b, row.c, row.d), row.expected);
}

// CenteredFormRect(formWidth, formHeight, screenWidth, screenHeight) and
// FittedControlRect(formWidth, formHeight, reservedHeight, topOffset), rectangles as {left, top, width, height}.
INSTANTIATE_TEST_SUITE_P(FormHelpers, Layout,
    ::testing::Values(
        RectRow { "smaller window centred", CenteredFormRect, 9000, 6000, 15000, 12000, { 3000, 3000, 9000, 6000 } },
        RectRow { "wider than screen narrowed to left 1", CenteredFormRect, 20000, 6000, 15000, 12000, { 1, 3000, 15000, 6000 } },
        RectRow { "taller than screen shortened to top 1", CenteredFormRect, 9000, 13000, 15000, 12000, { 3000, 1, 9000, 12000 } },
        RectRow { "exactly the screen", CenteredFormRect, 15000, 12000, 15000, 12000, { 1, 1, 15000, 12000 } },
        RectRow { "half rounds down to even", CenteredFormRect, 9000, 6000, 12001, 9001, { 1500, 1500, 9000, 6000 } },
        RectRow { "half rounds up to even", CenteredFormRect, 9000, 6000, 12003, 9003, { 1502, 1502, 9000, 6000 } },
        RectRow { "one twip spare still 1", CenteredFormRect, 14999, 11999, 15000, 12000, { 1, 1, 14999, 11999 } },
        RectRow { "roomy window", FittedControlRect, 9000, 7000, 1000, 200, { 50, 280, 8770, 5440 } },
        RectRow { "no reserve no offset", FittedControlRect, 9000, 7000, 0, 0, { 50, 80, 8770, 6440 } },
        RectRow { "330 wide gives width 100", FittedControlRect, 330, 7000, 0, 0, { 50, 80, 100, 6440 } },
        RectRow { "331 wide gives width 101", FittedControlRect, 331, 7000, 0, 0, { 50, 80, 101, 6440 } },
        RectRow { "narrower still gives width 100", FittedControlRect, 100, 7000, 0, 0, { 50, 80, 100, 6440 } },
        RectRow { "height floor 100", FittedControlRect, 9000, 600, 0, 0, { 50, 80, 8770, 100 } },
        RectRow { "reserve eats the height", FittedControlRect, 9000, 7000, 6500, 40, { 50, 120, 8770, 100 } }),
    RowName());

} // namespace
