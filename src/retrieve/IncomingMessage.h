#pragma once
// A message that RETR has begun to send, written into the inbox as it arrives. Its bytes go
// through with POP3's byte-stuffing undone into a hidden file of the inbox, which gets its own
// name once the terminating line is there. Only the few bytes that may begin the terminating
// line wait in memory, so a message of any size takes no more than one arrival of data.
//
// The file holds the message's lines, every line that began with "." without that dot, then
// CR LF "." CR LF: the terminating line stays at its end.

#include "FileHandlers.h"

#include <QByteArray>
#include <string_view>

class IncomingMessage {
public:
    // Message `number` of this retrieval; its hidden file is made at once.
    explicit IncomingMessage(qint32 number);

    // Takes the message's bytes from the front of `received`, leaving there those that may
    // begin its terminating line or, once the message is complete, those after that line.
    // True once the message is complete.
    bool Take(QByteArray& received);
    // Stores the complete message in the inbox under its own name; false when it could not be
    // written, as the user has been told.
    bool Store();

private:
    void AppendUnstuffed(std::string_view lines);

    qint32 mNumber;
    StagedFile mFile;
    bool mStarted = false;
    // The last byte taken ended a line (or none was taken): a "." next is the stuffing.
    bool mAtLineStart = true;
    bool mComplete = false;
};
