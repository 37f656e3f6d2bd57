#include "POP3Commands.h"

#include "QtPrinting.h"

#include <gtest/gtest.h>

using namespace POP3Commands;

TEST(POP3CommandsTest, CommandIsTheFirstFourBytesUpperCased)
{
    EXPECT_EQ(CommandOf("user bob"), "USER");
    EXPECT_EQ(CommandOf("LISTING 1"), "LIST");
    EXPECT_EQ(CommandOf("top"), "TOP");
    EXPECT_EQ(CommandOf(""), "");
}

TEST(POP3CommandsTest, NameArgumentRunsFromTheSixthByteToTheNextBlank)
{
    EXPECT_EQ(NameArgument("USER bob"), "bob");
    EXPECT_EQ(NameArgument("USER"), "");
    EXPECT_EQ(NameArgument("USER "), "");
    EXPECT_EQ(NameArgument("PASS two words"), "two");
    // The fifth byte is not looked at.
    EXPECT_EQ(NameArgument("USERxbob"), "bob");
    EXPECT_EQ(NameArgument("USER  bob"), "");
    EXPECT_EQ(NameArgument("PASS a\tb"), "a\tb");
}

TEST(POP3CommandsTest, NumberFieldIsTheSecondBlankSeparatedField)
{
    EXPECT_FALSE(NumberField("LIST").present);

    const NumberArgument trailingBlank = NumberField("LIST ");
    EXPECT_TRUE(trailingBlank.present);
    EXPECT_EQ(trailingBlank.text, "");
    EXPECT_EQ(trailingBlank.errorNumber, 13);

    const NumberArgument three = NumberField("RETR 3 extra");
    EXPECT_EQ(three.value, 3);
    EXPECT_EQ(three.errorNumber, 0);

    EXPECT_EQ(NumberField("TOP 1 10", 2).value, 10);
    EXPECT_FALSE(NumberField("TOP 1", 2).present);
}

TEST(POP3CommandsTest, NumbersAreSignedDecimalWithin32Bits)
{
    EXPECT_EQ(ToNumber("-1").value, -1);
    EXPECT_EQ(ToNumber("+7").value, 7);
    EXPECT_EQ(ToNumber("007").value, 7);
    EXPECT_EQ(ToNumber("2147483647").value, 2147483647);
    EXPECT_EQ(ToNumber("-2147483648").value, -2147483647 - 1);
    EXPECT_EQ(ToNumber("2147483648").errorNumber, 6);
    EXPECT_EQ(ToNumber("-2147483649").errorNumber, 6);
    EXPECT_EQ(ToNumber("99999999999999999999999").errorNumber, 6);
    for (const char* notANumber : { "x", "", "-", "1x", "0x10", "1.5", " 1" })
        EXPECT_EQ(ToNumber(notANumber).errorNumber, 13) << notANumber;
}

TEST(POP3CommandsTest, StuffedMessageDoublesEveryLeadingDotAndEndsLinesWithCrLf)
{
    EXPECT_EQ(StuffedMessage(".first\r\nmid\r\n.\r\n..x\r\nlast"), "..first\r\nmid\r\n..\r\n...x\r\nlast\r\n.\r\n");
    // Bare LF line ends, as files written on Linux have them.
    EXPECT_EQ(StuffedMessage("a\n.b\n"), "a\r\n..b\r\n.\r\n");
    // A lone CR is not a line end.
    EXPECT_EQ(StuffedMessage("a\r.b"), "a\r.b\r\n.\r\n");
}

TEST(POP3CommandsTest, StuffedMessageTakesAnExistingTerminatorAsTheEnd)
{
    EXPECT_EQ(StuffedMessage("a\r\n.b\r\n.\r\n"), "a\r\n..b\r\n.\r\n");
    // Only the final one: an inner "." line is text.
    EXPECT_EQ(StuffedMessage("a\r\n.\r\nb\r\n.\r\n"), "a\r\n..\r\nb\r\n.\r\n");
    EXPECT_EQ(StuffedMessage("a\r\n\r\n.\r\n"), "a\r\n\r\n.\r\n");
    // A "." line ended by a bare LF is text, not a terminator.
    EXPECT_EQ(StuffedMessage("a\n.\n"), "a\r\n..\r\n.\r\n");
}

TEST(POP3CommandsTest, StuffedTopKeepsTheHeaderAndTheFirstBodyLines)
{
    const QByteArray message = "From: a\r\nSubject: s\r\n\r\n.one\r\ntwo\r\nthree\r\n";
    EXPECT_EQ(StuffedTop(message, 0), "From: a\r\nSubject: s\r\n\r\n.\r\n");
    EXPECT_EQ(StuffedTop(message, -5), "From: a\r\nSubject: s\r\n\r\n.\r\n");
    EXPECT_EQ(StuffedTop(message, 2), "From: a\r\nSubject: s\r\n\r\n..one\r\ntwo\r\n.\r\n");
    EXPECT_EQ(StuffedTop(message, 99), "From: a\r\nSubject: s\r\n\r\n..one\r\ntwo\r\nthree\r\n.\r\n");
    EXPECT_EQ(StuffedTop("From: a\nSubject: s\n\nbody\n", 0), "From: a\r\nSubject: s\r\n\r\n.\r\n");
    // Without an empty line it is all header.
    EXPECT_EQ(StuffedTop("From: a\r\nSubject: s", 0), "From: a\r\nSubject: s\r\n.\r\n");
    EXPECT_EQ(StuffedTop("\r\nbody\r\nmore\r\n", 1), "\r\nbody\r\n.\r\n");
}

TEST(POP3CommandsTest, UniqueIdIsTheHexSha1OfTheNameBytes)
{
    // printf %s NAME | sha1sum
    EXPECT_EQ(UniqueId("message-1.txt"), "284586f87ca4601b1d73b6282b2e53a178084ee5");
    EXPECT_EQ(UniqueId("\xc3\xa9t\xc3\xa9.eml"), "309755680a10faba19e01580c4095b62aaedc959");
}
