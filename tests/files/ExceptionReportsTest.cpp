// How caught errors are raised on, stored and shown to the user.

#include "AppState.h"
#include "QtPrinting.h"
#include "TestApp.h"
#include "modGeneralExceptionHandler.h"
#include "modSpecificExceptionHandler.h"

#include <functional>
#include <stdexcept>

namespace {

class ExceptionReports : public AppTest {
protected:
    void SetLastError(qint64 number, const QString& description)
    {
        App().LastErrNumber = number;
        App().LastErrDescription = description;
    }
};

TEST_F(ExceptionReports, GeneralReportShowsNumberDescriptionAndPlace)
{
    SetLastError(13, "Permission denied");
    ReportGeneralException("In SaveMessage");
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].text, "EXCEPTION 13\r\nPermission denied\r\nIn SaveMessage");
    EXPECT_EQ(dialogs.shown[0].style, 0);
    EXPECT_EQ(dialogs.shown[0].title, "");
}

TEST_F(ExceptionReports, GeneralReportIsCutToAThousandCharacters)
{
    SetLastError(5, QString(2000, 'd'));
    ReportGeneralException("In Somewhere");
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].text, "EXCEPTION 5\r\n" + QString(987, 'd'));
}

TEST_F(ExceptionReports, GeneralReportCutDoesNotSplitACharacter)
{
    // A server's line may carry characters outside the basic plane (two UTF-16 units each).
    SetLastError(5, QString::fromUtf8(QByteArray("\xF0\x9F\x98\x80").repeated(1200)));
    ReportGeneralException("In Somewhere");
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].text, "EXCEPTION 5\r\n" + QString::fromUtf8(QByteArray("\xF0\x9F\x98\x80").repeated(987)));
}

TEST_F(ExceptionReports, SpecificReportWithoutNoteWritesNoConsoleLine)
{
    SetLastError(111, "Connection refused");
    ReportSpecificException(16, "MailSender", "Initialize", "");
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].text, "111 Connection refused\r\n\r\nModule:   MailSender\r\nFunction: Initialize\r\n");
    EXPECT_EQ(dialogs.shown[0].title, "EXCEPTION");
    EXPECT_EQ(dialogs.shown[0].style, 16);
    EXPECT_EQ(App().mainConsole.boxText(), "");
}

TEST_F(ExceptionReports, SpecificReportNoteGoesToTheMainConsoleToo)
{
    SetLastError(110, "Connection timed out");
    ReportSpecificException(48, "MailReceiver", "Connect", "Server did not answer.");
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].text,
        "110 Connection timed out\r\nServer did not answer.\r\nModule:   MailReceiver\r\nFunction: Connect\r\n");
    EXPECT_EQ(dialogs.shown[0].style, 48);
    EXPECT_EQ(App().mainConsole.boxText(), ":Server did not answer.\r\n");
    EXPECT_EQ(App().sendConsole.boxText(), "");
}

TEST_F(ExceptionReports, RaisedErrorsCarryTheirNumbers)
{
    try {
        RaiseAppError("Mailbox locked");
        FAIL() << "nothing raised";
    } catch (const AppError& error) {
        EXPECT_EQ(error.number(), 2048);
        EXPECT_EQ(error.description(), "Mailbox locked");
    }

    SetLastError(28, "No space left on device");
    try {
        ReraiseWithPlace("In SaveMessage");
        FAIL() << "nothing raised";
    } catch (const AppError& error) {
        EXPECT_EQ(error.number(), 28);
        EXPECT_EQ(error.description(), "No space left on device\r\nIn SaveMessage");
    }
}

struct GuardRow {
    const char* name;
    std::function<void()> body;
    qint64 number;
    QString shown; // "" when nothing is shown
};

class Guard : public ExceptionReports, public ::testing::WithParamInterface<GuardRow> {};

TEST_P(Guard, CatchesStoresAndReports)
{
    SetLastError(0, "");
    EXPECT_NO_THROW(GuardEntryPoint("frmMain.Timer", GetParam().body));
    EXPECT_EQ(App().LastErrNumber, GetParam().number);
    if (GetParam().shown.isEmpty()) {
        EXPECT_TRUE(dialogs.shown.isEmpty());
        return;
    }
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_EQ(dialogs.shown[0].text, GetParam().shown);
    EXPECT_EQ(dialogs.shown[0].style, 0);
}

INSTANTIATE_TEST_SUITE_P(modGeneralExceptionHandler, Guard,
    ::testing::Values(
        GuardRow { "quiet body", [] {}, 0, "" },
        GuardRow { "app error", [] { throw AppError(13, "Permission denied"); }, 13,
            "EXCEPTION 13\r\nPermission denied\r\nfrmMain.Timer" },
        GuardRow { "raised app error", [] { RaiseAppError("Bad reply"); }, 2048, "EXCEPTION 2048\r\nBad reply\r\nfrmMain.Timer" },
        GuardRow { "foreign exception", [] { throw std::runtime_error("boom"); }, 2048,
            "EXCEPTION 2048\r\nboom\r\nfrmMain.Timer" }),
    RowName());

} // namespace
