#include "IncomingMessage.h"

#include "modSaveMail.h"

#include <algorithm>

namespace {

constexpr std::string_view Terminator = "\r\n.\r\n";
// The terminating line alone: the whole of a message without lines.
constexpr std::string_view LastLine = Terminator.substr(2);

} // namespace

IncomingMessage::IncomingMessage(qint32 number) : mNumber(number), mFile(ReceivedMessageFile(number)) {}

// A message ends with a line holding only "." (RFC 1939, 3): CR LF "." CR LF, or "." CR LF at
// the very start for a message without lines.
bool IncomingMessage::Take(QByteArray& received)
{
    if (mComplete)
        return true;
    const std::string_view bytes(received.constData(), static_cast<size_t>(received.size()));
    const bool withoutLines = !mStarted && bytes.starts_with(LastLine);
    const size_t end = withoutLines ? 0 : bytes.find(Terminator);
    mComplete = end != std::string_view::npos;
    // Short of the end, the last bytes may begin the terminating line: they wait for more.
    const size_t lines = mComplete ? end : bytes.size() - std::min(bytes.size(), Terminator.size() - 1);
    AppendUnstuffed(bytes.substr(0, lines));
    mStarted = mStarted || lines > 0;
    if (mComplete)
        mFile.Append(Terminator);
    received.remove(0, static_cast<qsizetype>(mComplete ? end + (withoutLines ? LastLine : Terminator).size() : lines));
    return mComplete;
}

bool IncomingMessage::Store() { return SaveReceivedMessage(mFile, mNumber); }

// Every line that begins with "." loses that dot: the first line, and any after a line feed.
void IncomingMessage::AppendUnstuffed(std::string_view lines)
{
    if (lines.empty())
        return;
    const bool endsLine = lines.back() == '\n';
    if (mAtLineStart && lines.front() == '.')
        lines.remove_prefix(1);
    for (size_t stuffed = lines.find("\n."); stuffed != std::string_view::npos; stuffed = lines.find("\n.")) {
        mFile.Append(lines.substr(0, stuffed + 1));
        lines.remove_prefix(stuffed + 2);
    }
    mFile.Append(lines);
    mAtLineStart = endsLine;
}
