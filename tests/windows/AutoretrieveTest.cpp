// The autoretrieve interval and its clock, and the attention counter shown by the status colour.

#include "AppState.h"
#include "QtPrinting.h"
#include "Attention.h"
#include "Autoretrieve.h"
#include "TestApp.h"

namespace {

const QByteArray ResetNote = "\"Since last attention counter\" is reset to 0.";
constexpr QRgb Grey = qRgb(192, 192, 192);
constexpr QRgb LightCyan = qRgb(128, 255, 255);

struct IntervalRow {
    const char* name;
    QByteArray minutes;
    qint32 intervalMs;
    QByteArray note;
    QString refusal; // the message box, "" when none
};

class RetrieveInterval : public AppTest, public ::testing::WithParamInterface<IntervalRow> {};

TEST_P(RetrieveInterval, AppliesOrDisables)
{
    const IntervalRow& row = GetParam();
    AppState& app = App();
    app.RetrieveIntervalMs = 123456;
    app.NextRetrieveTick = 777;
    app.SinceLastAttentionCounter = 3;
    app.mainConsole.setStatusColour(LightCyan);

    SetRetrieveInterval(row.minutes);

    EXPECT_EQ(app.RetrieveIntervalMs, row.intervalMs);
    EXPECT_EQ(app.mainConsole.boxText(), ':' + ResetNote + "\r\n:" + row.note + "\r\n");
    EXPECT_EQ(app.mainConsole.statusText(), row.note);
    EXPECT_EQ(app.mainConsole.statusColour(), Grey);
    EXPECT_EQ(app.SinceLastAttentionCounter, 0);
    EXPECT_EQ(app.NextRetrieveTick, 777);
    if (row.refusal.isEmpty()) {
        EXPECT_TRUE(dialogs.shown.isEmpty()) << dialogs.Texts().join('|').toStdString();
    } else {
        EXPECT_EQ(dialogs.Texts(), QStringList { row.refusal });
    }
}

INSTANTIATE_TEST_SUITE_P(Autoretrieve, RetrieveInterval,
    ::testing::Values(
        IntervalRow { "whole minutes", "5", 300000, "Autoretrieve interval set to 5 minute(s).", "" },
        IntervalRow { "half minute", "0.5", 30000, "Autoretrieve interval set to 0.5 minute(s).", "" },
        IntervalRow { "too short to matter", "0.001", 0, "AUTORETRIEVE DISABLED", "" },
        IntervalRow { "zero", "0", 0, "AUTORETRIEVE DISABLED", "" },
        IntervalRow { "ten days", "14400", 864000000, "Autoretrieve interval set to 14400 minute(s).", "" },
        IntervalRow { "over ten days", "14401", 0, "AUTORETRIEVE DISABLED",
            "Incrorect value 14401 was entered. Disabling autoretrieve." },
        IntervalRow { "negative", "-1", 0, "AUTORETRIEVE DISABLED",
            "Incrorect value -1 was entered. Disabling autoretrieve." },
        IntervalRow { "overflow", "1e999", 0, "AUTORETRIEVE DISABLED",
            "Incrorect value 1e999 was entered. Disabling autoretrieve." },
        IntervalRow { "letters", "abc", 0, "AUTORETRIEVE DISABLED", "" },
        IntervalRow { "empty", "", 0, "AUTORETRIEVE DISABLED", "" },
        IntervalRow { "trailing letters", "10abc", 600000, "Autoretrieve interval set to 10 minute(s).", "" },
        IntervalRow { "blanks inside", " 1 5 ", 900000, "Autoretrieve interval set to 15 minute(s).", "" }),
    RowName());

class AutoretrieveClock : public AppTest {};

TEST_F(AutoretrieveClock, OffNeverArms)
{
    App().RetrieveIntervalMs = 0;
    clock.tickMs = 5000;
    EXPECT_FALSE(AutoretrieveTick());
    clock.tickMs = 500000;
    EXPECT_FALSE(AutoretrieveTick());
    EXPECT_EQ(App().NextRetrieveTick, 0);
}

TEST_F(AutoretrieveClock, ArmsThenFiresOnlyAfterTheDeadlineThenRearms)
{
    App().RetrieveIntervalMs = 60000;
    clock.tickMs = 5000;
    EXPECT_FALSE(AutoretrieveTick());
    EXPECT_EQ(App().NextRetrieveTick, 65000);

    clock.tickMs = 64999;
    EXPECT_FALSE(AutoretrieveTick());
    clock.tickMs = 65000;
    EXPECT_FALSE(AutoretrieveTick());
    EXPECT_EQ(App().NextRetrieveTick, 65000);

    clock.tickMs = 65001;
    EXPECT_TRUE(AutoretrieveTick());
    EXPECT_EQ(App().NextRetrieveTick, 0);

    clock.tickMs = 70000;
    EXPECT_FALSE(AutoretrieveTick());
    EXPECT_EQ(App().NextRetrieveTick, 130000);
}

TEST_F(AutoretrieveClock, LongIntervalDeadlineDoesNotWrap)
{
    App().RetrieveIntervalMs = 864000000;
    clock.tickMs = 4000000000000LL;
    EXPECT_FALSE(AutoretrieveTick());
    EXPECT_EQ(App().NextRetrieveTick, 4000864000000LL);
}

class AttentionSignal : public AppTest {};

TEST_F(AttentionSignal, ResetGreysTheStatusAndNotes)
{
    App().SinceLastAttentionCounter = 4;
    App().mainConsole.setStatusColour(LightCyan);
    ResetAttentionCounter();
    EXPECT_EQ(App().SinceLastAttentionCounter, 0);
    EXPECT_EQ(App().mainConsole.statusColour(), Grey);
    EXPECT_EQ(App().mainConsole.boxText(), ":\"Since last attention counter\" is reset to 0.\r\n");
    EXPECT_EQ(App().mainConsole.statusText(), "\"Since last attention counter\" is reset to 0.");
}

TEST_F(AttentionSignal, NewMailCountsColoursAndBeepsOncePerMessage)
{
    NoteNewMail();
    EXPECT_EQ(App().SinceLastAttentionCounter, 1);
    EXPECT_EQ(App().mainConsole.statusColour(), LightCyan);
    EXPECT_EQ(beeps, 1);
    NoteNewMail();
    EXPECT_EQ(App().SinceLastAttentionCounter, 2);
    EXPECT_EQ(beeps, 2);
}

} // namespace
