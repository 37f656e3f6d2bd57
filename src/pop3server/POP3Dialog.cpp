// The local server's dialog with its client: the command lines of the authorization states
// (User, Password) and of the transaction, and the update after QUIT. Each state takes the
// commands of its table; any other line is refused with the state's one refusal, which ends the
// session. The answers are kept to the letter as the server has always given them, odd
// spellings included ("exist here", "Have a Wrenpost."): mail clients and their users' scripts
// know them.

#include "POP3Server.h"

#include "AppState.h"
#include "FileHandlers.h"
#include "POP3Commands.h"
#include "SessionReports.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

using namespace POP3Commands;

namespace {

QByteArray Number(qint64 value) { return QByteArray::number(value); }

QByteArray NameBytes(const QString& fileName) { return QFile::encodeName(fileName); }

// The answer to an argument that is not a 32-bit number; `what` names what it should be.
QByteArray NotANumber(const NumberArgument& argument, const char* what)
{
    return "-ERR cannot interpret parameter " + argument.text + " as " + what + ". Exception "
        + Number(argument.errorNumber);
}

// The refusal of a line the state does not take.
QByteArray RefusalOf(POP3State state)
{
    switch (state) {
    case POP3State::User: return "-ERR expecting \"USER \", \"NOP\", or \"QUIT\". ";
    case POP3State::Password: return "-ERR Authentication failed. Expecting \"PASS\" or \"QUIT\", or \"USER\". Closing connection.";
    case POP3State::Transaction: return "-ERR Expecting \"STAT\" or \"LIST\" or \"RETR\" or \"DELE\" or \"NOP\" or \"QUIT\" .";
    default: return {};
    }
}

} // namespace

void POP3Server::UserStep()
{
    static const Command Commands[] = { { "USER", &POP3Server::User }, { "QUIT", &POP3Server::SignOff },
        { "NOOP", &POP3Server::Noop }, { "CAPA", &POP3Server::Capabilities }, { "AUTH", &POP3Server::AuthMechanisms } };
    QByteArray line;
    if (TakeCommandLine(line))
        Dispatch(line, Commands);
}

void POP3Server::PasswordStep()
{
    static const Command Commands[] = { { "PASS", &POP3Server::Pass }, { "QUIT", &POP3Server::SignOff },
        { "USER", &POP3Server::UserAgain }, { "CAPA", &POP3Server::Capabilities } };
    QByteArray line;
    if (TakeCommandLine(line))
        Dispatch(line, Commands);
}

void POP3Server::TransactionStep()
{
    static const Command Commands[] = { { "STAT", &POP3Server::Stat }, { "LIST", &POP3Server::List },
        { "RETR", &POP3Server::Retrieve }, { "DELE", &POP3Server::MarkForDeletion }, { "NOOP", &POP3Server::Noop },
        { "QUIT", &POP3Server::Quit }, { "CAPA", &POP3Server::Capabilities }, { "UIDL", &POP3Server::ListUniqueIds },
        { "TOP", &POP3Server::Top } };
    QByteArray line;
    if (TakeCommandLine(line))
        Dispatch(line, Commands);
}

bool POP3Server::TakeCommandLine(QByteArray& line)
{
    const qsizetype end = mRecvBuffer.indexOf("\r\n");
    if (end < 0) {
        if (mPeerClosed)
            Enter(POP3State::Prepare);
        return false;
    }
    line = mRecvBuffer.left(end);
    mRecvBuffer.remove(0, end + 2);
    const bool hidesPassword = CommandOf(line) == "PASS" && line.size() > 5;
    LogReceived(hidesPassword ? QByteArray("PASS *******") : line);
    return true;
}

void POP3Server::Dispatch(const QByteArray& line, std::span<const Command> commands)
{
    QByteArray command = CommandOf(line);
    // The three-letter TOP comes with the blank after it.
    if (command.endsWith(' '))
        command.chop(1);
    for (const Command& entry : commands)
        if (command == entry.verb)
            return (this->*entry.handle)(line);
    Refuse();
}

void POP3Server::Refuse()
{
    const QByteArray refusal = RefusalOf(Current());
    if (!refusal.isEmpty())
        SendLine(refusal);
    Enter(POP3State::Close);
}

void POP3Server::User(const QByteArray& line)
{
    const QByteArray name = NameArgument(line);
    if (name != App().prefs.POP3User) {
        SendLine("-ERR user " + name + " does not exist.");
        return Enter(POP3State::Close);
    }
    LogLine("user \"" + name + "\" exist here.");
    SendLine("+OK User name accepted, password please");
    Enter(POP3State::Password);
}

// USER again while the password is awaited: the line is taken once more in state User.
void POP3Server::UserAgain(const QByteArray& line)
{
    mRecvBuffer = line + "\r\n" + mRecvBuffer;
    LogLine("repeat previous state \"A\".");
    Enter(POP3State::User);
}

void POP3Server::Pass(const QByteArray& line)
{
    const QByteArray password = NameArgument(line);
    if (password == App().prefs.POP3UserPassword) {
        LogLine("password is correct");
        SendLine("+OK Ready to deliver mail.");
        return Enter(LoadListing() ? POP3State::Transaction : POP3State::Error);
    }
    // Lines sent ahead of a refused password are dropped.
    mRecvBuffer.clear();
    if (!password.isEmpty()) {
        LogLine("incorrect password.");
        SendLine("-ERR incorrect logon");
    } else {
        SendLine("missing password argument.");
    }
    Enter(POP3State::User);
}

// A bare AUTH asks for the mechanisms besides USER and PASS: there are none.
void POP3Server::AuthMechanisms(const QByteArray& line)
{
    if (line.toUpper() != "AUTH")
        return Refuse();
    SendLine("+OK");
    SendLine(".");
}

void POP3Server::SignOff(const QByteArray&)
{
    SendLine("+OK POP3 signing off.");
    Enter(POP3State::Close);
}

void POP3Server::Quit(const QByteArray&)
{
    LogLine("going to state \"UPDATE\".");
    Enter(POP3State::Update);
}

void POP3Server::Noop(const QByteArray&) { SendLine("+OK"); }

void POP3Server::Capabilities(const QByteArray&)
{
    for (const char* capability : { "+OK Capability list follows", "USER", "UIDL", "TOP", "PIPELINING", "." })
        SendLine(capability);
}

bool POP3Server::LoadListing()
{
    DirectoryListing listing;
    const QString failure = DirectoryList(App().paths.POP3MailBoxPath, listing);
    if (!failure.isEmpty()) {
        LogLine(failure.toUtf8());
        return false;
    }
    mMsgNames = listing.names;
    mMsgSizes = listing.sizes;
    mMsgCount = listing.count;
    mMailboxOctets = listing.total;
    mDeleteMarks = QList<bool>(mMsgCount + 1, false);
    return true;
}

void POP3Server::Stat(const QByteArray&) { SendLine("+OK " + Number(mMsgCount) + ' ' + Number(mMailboxOctets)); }

bool POP3Server::NoSuchMessage(qint32 number)
{
    if (number >= 1 && number <= mMsgCount)
        return false;
    SendLine("-ERR No message " + Number(number) + " exists.");
    return true;
}

void POP3Server::List(const QByteArray& line)
{
    const NumberArgument argument = NumberField(line);
    if (!argument.present) {
        SendLine("+OK " + Number(mMsgCount) + " (" + Number(mMailboxOctets) + " octets.)");
        for (qint32 n = 1; n <= mMsgCount; ++n)
            SendLine(Number(n) + ' ' + Number(mMsgSizes[n]));
        SendLine(".");
    } else if (argument.errorNumber != 0) {
        SendLine(NotANumber(argument, "a number"));
    } else if (!NoSuchMessage(argument.value)) {
        SendLine("+OK " + Number(argument.value) + ' ' + Number(mMsgSizes[argument.value]));
    }
}

void POP3Server::ListUniqueIds(const QByteArray& line)
{
    const NumberArgument argument = NumberField(line);
    if (!argument.present) {
        SendLine("+OK");
        for (qint32 n = 1; n <= mMsgCount; ++n)
            SendLine(Number(n) + ' ' + UniqueId(NameBytes(mMsgNames[n])));
        SendLine(".");
    } else if (argument.errorNumber != 0) {
        SendLine(NotANumber(argument, "a number"));
    } else if (!NoSuchMessage(argument.value)) {
        SendLine("+OK " + Number(argument.value) + ' ' + UniqueId(NameBytes(mMsgNames[argument.value])));
    }
}

QString POP3Server::MessagePath(qint32 number) const { return JoinPath(App().paths.POP3MailBoxPath, mMsgNames[number]); }

bool POP3Server::TakeMessageNumber(const QByteArray& line, qint32& number)
{
    const NumberArgument argument = NumberField(line);
    if (!argument.present) {
        SendLine("-ERR Missed argument in command RETR.");
        return false;
    }
    if (argument.errorNumber != 0) {
        SendLine(NotANumber(argument, "message number"));
        return false;
    }
    number = argument.value;
    return number == 0 || !NoSuchMessage(number);
}

void POP3Server::Retrieve(const QByteArray& line)
{
    try {
        qint32 number = 0;
        if (!TakeMessageNumber(line, number))
            return;
        SendMessage(number, MessageShaper::WholeText, "+OK " + Number(mMsgSizes[number]) + " octets.",
            "Sending message " + Number(number) + ": " + NameBytes(mMsgNames[number]));
    } catch (const std::exception& error) {
        TakeExceptionPath("Exception POP3 Dialog", error);
    }
}

void POP3Server::Top(const QByteArray& line)
{
    // A missing number is no number.
    const auto field = [&line](int index) {
        const NumberArgument argument = NumberField(line, index);
        return argument.present ? argument : ToNumber(QByteArray());
    };
    const NumberArgument message = field(1);
    const NumberArgument lines = field(2);
    for (const NumberArgument* argument : { &message, &lines })
        if (argument->errorNumber != 0)
            return SendLine(NotANumber(*argument, "message number"));
    if (!NoSuchMessage(message.value))
        SendMessage(message.value, lines.value, "+OK", {});
}

void POP3Server::SendMessage(qint32 number, qint64 bodyLines, const QByteArray& status, const QByteArray& note)
{
    auto message = std::make_unique<MessageStream>(MessageStream::OpenFile(MessagePath(number)), bodyLines);
    if (message->Empty())
        return SendLine("-ERR POP3 exception. Message is empty.");
    SendLine(status);
    if (!note.isEmpty())
        LogLine(note);
    mSending = std::move(message);
    SendNextChunk();
}

void POP3Server::SendNextChunk()
{
    Transmit(mSending->Next());
    // A failed read is left for the next step to act on.
    if (mSending->AtEnd() && !mSending->Failed())
        mSending.reset();
}

// The client's next lines are answered after the whole message, in the order it sent them.
bool POP3Server::MessageOnItsWay()
{
    if (!mSending)
        return false;
    if (mSending->Failed()) {
        // The client cannot be told that the text was cut short: it must not take it as whole.
        LogLine("Cannot read the message any further: " + mSending->ReadError().toUtf8());
        Enter(POP3State::Close);
        return true;
    }
    if (!mPeerClosed)
        return true;
    // Nobody is left to read the rest.
    mSending.reset();
    return false;
}

void POP3Server::MarkForDeletion(const QByteArray& line)
{
    try {
        qint32 number = 0;
        if (!TakeMessageNumber(line, number))
            return;
        mDeleteMarks[number] = true;
        if (App().prefs.POP3DeleteIfRequested == "N")
            SendLine("+OK message " + Number(number) + " will be preserved due POP3 internal settings.");
        else
            SendLine("+OK message " + Number(number) + " marked for deletion.");
    } catch (const std::exception& error) {
        TakeExceptionPath("Exception POP3 Dialog", error);
    }
}

void POP3Server::UpdateStep()
{
    if (mPeerClosed)
        return Enter(POP3State::Prepare);
    qint32 moved = 0;
    if (App().prefs.POP3DeleteIfRequested != "N") {
        for (qint32 n = 1; n <= mMsgCount; ++n) {
            if (!mDeleteMarks[n])
                continue;
            const QByteArray source = QFile::encodeName(MessagePath(n));
            const QByteArray target = QFile::encodeName(JoinPath(App().paths.DeletedMessagesPath, mMsgNames[n]));
            // rename() replaces a file of the same name in one step.
            if (std::rename(source.constData(), target.constData()) == 0)
                ++moved;
            else
                LogLine("Cannot move message " + Number(n) + ": " + NameBytes(mMsgNames[n]) + ": " + std::strerror(errno));
        }
    }
    SendLine("+OK Have a Wrenpost. (" + Number(mMsgCount - moved) + " messages left.)");
    Enter(POP3State::Close);
}
