#include "frmMain.h"

#include "Attention.h"
#include "Console.h"
#include "ConsoleView.h"
#include "FormHelpers.h"
#include "NestedLoop.h"
#include "ProductInfo.h"
#include "TestApp.h"
#include "modMain.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTest>

namespace {

class frmMainTest : public AppTest {
protected:
    frmMainTest()
    {
        window.retrieveMail = [this] { ++retrievals; };
        window.showComposeWindow = [this] { ++composeWindows; };
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    frmMain window;
    int retrievals = 0;
    int composeWindows = 0;
};

QStringList Captions(const QList<QAction*>& actions)
{
    QStringList captions;
    for (const QAction* action : actions)
        captions.append(action->text());
    return captions;
}

TEST_F(frmMainTest, MenusCarryTheirCaptionsInOrder)
{
    EXPECT_EQ(window.windowTitle(), "Wrenpost");
    const QList<QAction*> bar = window.menuBar()->actions();
    EXPECT_EQ(Captions(bar),
        QStringList({ "&Receive  ", "&Send  ", "&View   ", "&User", "&Interval", "&Tools", "&Help", "E&xit" }));
    EXPECT_EQ(Captions(bar[5]->menu()->actions()), QStringList({ "&Set POP3", "&Run POP3 Server", "S&top POP3 Server" }));
    EXPECT_EQ(Captions(bar[6]->menu()->actions()), QStringList({ "&Help", "&About" }));
}

struct KeyCase {
    const char* name;
    const char* target; // "console", "status" or "window"
    int key;
    Qt::KeyboardModifiers modifiers;
    int retrievals;
    int composeWindows;
};

class frmMainKeyTest : public frmMainTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(frmMainKeyTest, KeyActsAsItsMenu)
{
    const KeyCase& key = GetParam();
    const QByteArray target(key.target);
    QWidget* widget = target == "console" ? static_cast<QWidget*>(window.txtConsole)
        : target == "status"              ? static_cast<QWidget*>(window.txtStatus)
                                          : static_cast<QWidget*>(&window);
    NoteNewMail();

    QTest::keyClick(widget, static_cast<Qt::Key>(key.key), key.modifiers);

    EXPECT_EQ(retrievals, key.retrievals);
    EXPECT_EQ(composeWindows, key.composeWindows);
    const bool acted = key.retrievals + key.composeWindows > 0;
    EXPECT_EQ(App().SinceLastAttentionCounter, acted ? 0 : 1);
    EXPECT_TRUE(window.isVisible());
    // The console box never takes the key as typing.
    EXPECT_FALSE(window.txtConsole->toPlainText().contains(" \r\n"));
}

INSTANTIATE_TEST_SUITE_P(Keys, frmMainKeyTest,
    ::testing::Values(KeyCase { "CtrlSpaceInConsole", "console", Qt::Key_Space, Qt::ControlModifier, 0, 1 },
        KeyCase { "CtrlSpaceInStatus", "status", Qt::Key_Space, Qt::ControlModifier, 0, 1 },
        KeyCase { "CtrlSpaceOnWindow", "window", Qt::Key_Space, Qt::ControlModifier, 0, 1 },
        KeyCase { "ShiftSpaceInConsole", "console", Qt::Key_Space, Qt::ShiftModifier, 1, 0 },
        KeyCase { "ShiftSpaceInStatus", "status", Qt::Key_Space, Qt::ShiftModifier, 1, 0 },
        KeyCase { "ShiftSpaceOnWindowDoesNothing", "window", Qt::Key_Space, Qt::ShiftModifier, 0, 0 },
        KeyCase { "CtrlShiftSpaceDoesNothing", "console", Qt::Key_Space, Qt::ControlModifier | Qt::ShiftModifier, 0, 0 },
        KeyCase { "PlainSpaceDoesNothing", "console", Qt::Key_Space, Qt::NoModifier, 0, 0 }),
    [](const auto& info) { return std::string(info.param.name); });

class frmMainEscTest : public frmMainTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(frmMainEscTest, EscClosesTheWindowAndSavesTheConsole)
{
    WriteMainNote("before closing");
    const QByteArray target(GetParam());
    QWidget* widget = target == "console" ? static_cast<QWidget*>(window.txtConsole)
        : target == "status"              ? static_cast<QWidget*>(window.txtStatus)
                                          : static_cast<QWidget*>(&window);

    QTest::keyClick(widget, Qt::Key_Escape);

    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(ReadAppFile("console.txt"), ":before closing\r\n");
    EXPECT_EQ(FileMode(AppPath("console.txt")), 0600);
}

INSTANTIATE_TEST_SUITE_P(Targets, frmMainEscTest, ::testing::Values("console", "status", "window"));

TEST_F(frmMainTest, ExitAppendsTheConsoleAfterItsSpills)
{
    WriteAppFile("console.txt", "spilled earlier\r\n");
    WriteMainNote("last words");

    window.mnuExit->trigger();

    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(ReadAppFile("console.txt"), "spilled earlier\r\n:last words\r\n");
}

TEST_F(frmMainTest, CloseDuringANestedLoopWaitsUntilItUnwinds)
{
    WriteMainNote("waiting");
    {
        NestedLoop waiting;
        window.close();
        EXPECT_TRUE(window.isVisible());
        EXPECT_TRUE(App().closing);
        EXPECT_EQ(dialogs.dismissed, 1);
        EXPECT_FALSE(QFileInfo::exists(AppPath("console.txt")));
        // What the session writes on its way out still reaches the log.
        WriteMainNote("session ended");
    }
    ASSERT_TRUE(WaitFor([this] { return !window.isVisible(); }));
    EXPECT_EQ(ReadAppFile("console.txt"), ":waiting\r\n:session ended\r\n");
}

TEST_F(frmMainTest, HelpAndAboutBoxes)
{
    window.mnuHelp->trigger();
    window.mnuAbout->trigger();

    ASSERT_EQ(dialogs.shown.size(), 2);
    EXPECT_EQ(dialogs.shown[0].text.toUtf8(), Fixture("help-box.txt"));
    EXPECT_EQ(dialogs.shown[0].style, 0);
    EXPECT_EQ(dialogs.shown[1].text,
        "Wrenpost. 1.0.27\r\nCopyright (c) Corvane, Inc. All rights reserved.\r\n"
        "Wrenpost desktop mail: send, retrieve and serve mail\r\n\r\nPath: "
            + folder.path());
    EXPECT_EQ(ProductBanner(), "Wrenpost. 1.0.27. Corvane, Inc.");
}

struct IntervalCase {
    const char* name;
    const char* answer;
    qint32 intervalMs;
    const char* storedLine;
};

class frmMainIntervalTest : public frmMainTest, public ::testing::WithParamInterface<IntervalCase> {};

TEST_P(frmMainIntervalTest, IntervalDialogSetsAndStores)
{
    const IntervalCase& row = GetParam();
    App().RetrieveIntervalMs = 300000;
    App().NextRetrieveTick = 4242;
    if (row.answer)
        dialogs.textAnswers.enqueue(row.answer);

    window.mnuSetRetrievalInterval->trigger();

    ASSERT_GE(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].kind, ShownDialog::Kind::InputBox);
    EXPECT_EQ(dialogs.shown[0].title, "SET AUTORETRIEVE");
    EXPECT_EQ(dialogs.shown[0].text, "Please enter interval in minutes.\r\nZero value will disable autoretrieve.");
    EXPECT_EQ(App().RetrieveIntervalMs, row.intervalMs);
    EXPECT_EQ(App().NextRetrieveTick, 4242);
    EXPECT_TRUE(ReadAppFile("preferences.txt").contains(QByteArray("\r\n") + row.storedLine + "\r\n"));
}

INSTANTIATE_TEST_SUITE_P(Answers, frmMainIntervalTest,
    ::testing::Values(IntervalCase { "FiveMinutes", "5", 300000, "retrieve interval=5" },
        IntervalCase { "MinuteAndAHalf", "1.5", 90000, "retrieve interval=1.5" },
        IntervalCase { "CancelTurnsItOff", nullptr, 0, "retrieve interval=0" },
        IntervalCase { "BadValueTurnsItOff", "-1", 0, "retrieve interval=0" }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(frmMainTest, IntervalBoxClosedByShutdownChangesNothing)
{
    App().RetrieveIntervalMs = 300000;
    dialogs.whileOpen = [](const ShownDialog&) { App().closing = true; };

    window.mnuSetRetrievalInterval->trigger();

    EXPECT_EQ(App().RetrieveIntervalMs, 300000);
    EXPECT_FALSE(QFileInfo::exists(AppPath("preferences.txt")));
}

TEST_F(frmMainTest, AutoretrieveClockArmsThenRetrievesOnce)
{
    App().RetrieveIntervalMs = 1000;
    window.Timer1Tick();
    EXPECT_EQ(App().NextRetrieveTick, clock.tickMs + 1000);

    clock.tickMs += 1000;
    window.Timer1Tick();
    EXPECT_EQ(retrievals, 0);

    clock.tickMs += 1;
    window.Timer1Tick();
    EXPECT_EQ(retrievals, 1);
    EXPECT_EQ(App().NextRetrieveTick, 0);

    // A manual receive does not move the deadline.
    window.Timer1Tick();
    const qint64 deadline = App().NextRetrieveTick;
    window.mnuReceiveMail->trigger();
    EXPECT_EQ(App().NextRetrieveTick, deadline);
    EXPECT_EQ(retrievals, 2);
}

TEST_F(frmMainTest, StatusBoxShowsTheFirstLineAndTheAttentionColour)
{
    WriteMainNote("New mail\r\nsecond line");
    NoteNewMail();
    window.consoleView().Refresh();

    EXPECT_EQ(window.txtStatus->text(), "New mail");
    EXPECT_EQ(window.txtStatus->palette().color(QPalette::Base), QColor(128, 255, 255));
    EXPECT_EQ(beeps, 1);

    window.mnuSend->trigger();
    window.consoleView().Refresh();
    EXPECT_EQ(window.txtStatus->palette().color(QPalette::Base), QColor(192, 192, 192));
}

TEST_F(frmMainTest, ConsoleBoxKeepsItsCaretOnTheLastLine)
{
    WriteMainNote("one");
    WriteMainNote("two");
    window.consoleView().Refresh();

    EXPECT_EQ(window.txtConsole->toPlainText(), ":one\n:two\n");
    EXPECT_EQ(window.txtConsole->textCursor().position(), QString(":one\n").size());
}

TEST_F(frmMainTest, LayoutFollowsTheWindow)
{
    window.resize(800, 500);
    QTest::qWait(20);
    const TwipRect form = WidgetTwips(window);
    const TwipRect console = WidgetTwips(*window.txtConsole);
    const TwipRect frame = WidgetTwips(*window.fraStatus);
    const TwipRect status = WidgetTwips(*window.txtStatus);
    const TwipRect progress = WidgetTwips(*window.ProgressBar1);

    EXPECT_EQ(console.left, 45); // 50 twips, rounded to whole pixels
    EXPECT_NEAR(console.width, form.width - 230, Twips::PerPixel / 2);
    EXPECT_EQ(frame.top, console.top + console.height);
    EXPECT_EQ(frame.width, console.width);
    EXPECT_EQ(status.left, 120);
    EXPECT_EQ(progress.left, status.left + status.width + 120);
    EXPECT_EQ(progress.width, status.width);
}

TEST_F(frmMainTest, ReceivingIconDiffersFromTheNormalOne)
{
    const qint64 normal = window.windowIcon().cacheKey();
    window.ShowReceivingIcon(true);
    EXPECT_NE(window.windowIcon().cacheKey(), normal);
    window.ShowReceivingIcon(false);
    EXPECT_EQ(window.windowIcon().cacheKey(), normal);
}

} // namespace
