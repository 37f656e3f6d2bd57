#pragma once
// The local POP3 server's reading of command lines. Pure functions over bytes: no sockets, no
// files, no state. (Message text is shaped for the wire by MessageShaper, as it is read.)

#include <QByteArray>

namespace POP3Commands {

// A command line, as RFC 1939 (section 3) gives it:
//     command  = keyword *( SP argument ) CRLF
//     keyword  = 3 or 4 printable characters, case-insensitive
//     argument = 1 to 40 printable characters
// This server reads lines more loosely, as it always has: the command is the line's first four
// bytes, USER's and PASS's argument runs from the sixth byte, and a number is the second
// blank-separated field, as below.

// The command of a line: its first four bytes (all of a shorter line), upper-cased, so that
// "user" is USER and "LISTING 1" is LIST.
QByteArray CommandOf(const QByteArray& line);

// The argument of USER and PASS: from the sixth byte up to the next blank (or the line's end).
QByteArray NameArgument(const QByteArray& line);

// The argument of LIST, RETR, DELE, UIDL and TOP, as the line's blank-separated fields give it.
struct NumberArgument {
    bool present = false;   // the line has a field after the command (possibly empty)
    QByteArray text;        // that field as sent
    qint32 value = 0;       // the number, when errorNumber is 0
    int errorNumber = 0;    // ErrorNumbers::TypeMismatch (13) or Overflow (6, outside 32 bits)
};

// The field at `index` (1: the first after the command) read as a 32-bit number.
NumberArgument NumberField(const QByteArray& line, int index = 1);

// Converts an optionally signed run of decimal digits (13 / 6 as above).
NumberArgument ToNumber(const QByteArray& text);

// The unique id UIDL gives a message: the lowercase hexadecimal SHA-1 of its file name's bytes.
QByteArray UniqueId(const QByteArray& fileName);

} // namespace POP3Commands
