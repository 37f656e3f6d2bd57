// The two client sessions, each run against a scripted peer as a hand-written scenario says
// (tests/fixtures/engines/send and engines/retrieve; see support/Scenario.h): the transcript
// must be used up with nothing else written, and the console, the files, the message boxes and
// the status colour must be exactly as written down.

#include "QtPrinting.h"
#include "SessionRun.h"

namespace {

class SendScenario : public ::testing::TestWithParam<QString> {};
TEST_P(SendScenario, GoesAsWrittenDown) { SendAsWritten("engines/send/" + GetParam()); }

class RetrieveScenario : public ::testing::TestWithParam<QString> {};
TEST_P(RetrieveScenario, GoesAsWrittenDown) { RetrieveAsWritten("engines/retrieve/" + GetParam()); }

INSTANTIATE_TEST_SUITE_P(Engines, SendScenario, ::testing::ValuesIn(ScenarioFiles("engines/send")), ScenarioTestName);
INSTANTIATE_TEST_SUITE_P(Engines, RetrieveScenario, ::testing::ValuesIn(ScenarioFiles("engines/retrieve")), ScenarioTestName);

// Replies and messages cut into pieces of every size up to the longest piece the peer sends
// (one byte: a cut at every position), or cut once anywhere (inside a terminating line, before
// a stuffed dot), give the same session.
TEST(SplitReplies, GiveTheSameSession)
{
    for (int piece = 1; piece <= 56; ++piece) {
        SCOPED_TRACE(piece);
        SendAsWritten("engines/send/copy-recipient.txt", piece);
        RetrieveAsWritten("engines/retrieve/two-messages.txt", piece);
        RetrieveAsWritten("engines/retrieve/stuffed-lines.txt", -piece);
    }
}

} // namespace
