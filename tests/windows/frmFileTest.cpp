#include "frmFile.h"

#include "Console.h"
#include "QtPrinting.h"
#include "TestApp.h"

#include <QDir>
#include <QPlainTextEdit>
#include <QTest>

namespace {

const QString Clef = QString::fromUtf8("\xF0\x9D\x84\x9E"); // one character, two UTF-16 units
const QString Tail50 = QString(46, 'a') + ".txt";

struct CaptionRow {
    const char* name;
    QString path;
    QString caption;
};

class frmFileCaption : public ::testing::TestWithParam<CaptionRow> {};

TEST_P(frmFileCaption, NamesTheWindowAfterTheFile)
{
    EXPECT_EQ(ViewerCaption(GetParam().path), GetParam().caption);
}

INSTANTIATE_TEST_SUITE_P(Viewer, frmFileCaption,
    ::testing::Values(CaptionRow { "slash path", "/a/b/260302_090507__12.txt", "260302_090507__12.txt" },
        CaptionRow { "backslash path", "C:\\mail\\x.txt", "x.txt" },
        CaptionRow { "drive colon without slash", "D:x.txt", "x.txt" },
        CaptionRow { "backslash after slash", "/home/u/mail\\z.txt", "z.txt" },
        CaptionRow { "bare name", "plain.txt", "plain.txt" },
        CaptionRow { "fifty characters whole", "/m/" + Tail50, Tail50 },
        CaptionRow { "fifty one characters cut", "/m/X" + Tail50, "... " + Tail50 },
        CaptionRow { "fifty clefs whole", "/m/" + Clef.repeated(50), Clef.repeated(50) },
        CaptionRow { "fifty one clefs cut", "/m/" + Clef.repeated(51), "... " + Clef.repeated(50) },
        CaptionRow { "cut keeps clefs whole", "/m/Z" + QString(48, 'c') + Clef + Clef, "... " + QString(48, 'c') + Clef + Clef }),
    RowName());

class frmFileTest : public AppTest {};

TEST_F(frmFileTest, CaptionBeforeAnyFile)
{
    const frmFile viewer;
    EXPECT_EQ(viewer.windowTitle(), "View  File. Press \"Esc\" to Cancel.");
}

struct FileRow {
    const char* name;
    QByteArray bytes; // empty: no file at all
    QString shown;
};

class frmFileTakeFile : public AppTest, public ::testing::WithParamInterface<FileRow> {};

TEST_P(frmFileTakeFile, ShowsTheTextAsItIsAndNamesTheWindow)
{
    const FileRow& row = GetParam();
    if (!row.bytes.isEmpty())
        WriteAppFile("260302_090507__12.txt", row.bytes);
    frmFile viewer;

    viewer.TakeFile(AppPath("260302_090507__12.txt"));

    EXPECT_EQ(viewer.txtHelp->toPlainText(), row.shown);
    EXPECT_EQ(viewer.windowTitle(), "260302_090507__12.txt");
}

// The text box keeps lines as paragraphs: a CR LF reads back as one line break.
INSTANTIATE_TEST_SUITE_P(Viewer, frmFileTakeFile,
    ::testing::Values(
        FileRow { "CR LF lines and UTF-8", "Subject: Gr\xC3\xBC\xC3\x9F" "e\r\n\r\n  two  blanks\tand tab\r\n.\r\n",
            QString::fromUtf8("Subject: Gr\xC3\xBC\xC3\x9F" "e\n\n  two  blanks\tand tab\n.\n") },
        FileRow { "no final line end", "one\r\ntwo", "one\ntwo" }, FileRow { "missing file", "", "" }),
    RowName());

struct EscRow {
    const char* name;
    bool inTextBox;
};

class frmFileEsc : public AppTest, public ::testing::WithParamInterface<EscRow> {};

TEST_P(frmFileEsc, EscClosesTheViewer)
{
    frmFile viewer;
    viewer.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&viewer));
    viewer.setResult(QDialog::Accepted);

    QTest::keyClick(GetParam().inTextBox ? static_cast<QWidget*>(viewer.txtHelp) : &viewer, Qt::Key_Escape);

    EXPECT_FALSE(viewer.isVisible());
    EXPECT_EQ(viewer.result(), QDialog::Rejected);
}

INSTANTIATE_TEST_SUITE_P(Viewer, frmFileEsc,
    ::testing::Values(EscRow { "in the text box", true }, EscRow { "on the window", false }), RowName());

enum class Inbox { Missing, File, Folder };

struct ViewRow {
    const char* name;
    Inbox inbox;
    const char* answer; // queued for the open dialog; "" = cancelled
    QStringList dialogs; // "kind|text|title|style", %1 standing for the inbox path
};

class frmFileViewMail : public AppTest, public ::testing::WithParamInterface<ViewRow> {};

QString Describe(const ShownDialog& dialog)
{
    static const char* const kinds[] = { "MsgBox", "InputBox", "OpenFile", "Window" };
    return QStringLiteral("%1|%2|%3|%4").arg(kinds[int(dialog.kind)], dialog.text, dialog.title).arg(dialog.style);
}

TEST_P(frmFileViewMail, ResetsAttentionThenOffersTheInbox)
{
    const ViewRow& row = GetParam();
    const QString inbox = AppPath("InBox");
    App().InBoxPath = inbox;
    if (row.inbox == Inbox::File)
        WriteAppFile("InBox", "not a folder");
    if (row.inbox == Inbox::Folder) {
        ASSERT_TRUE(QDir().mkpath(inbox));
        WriteAppFile("InBox/260302_090507__12.txt", "From: a@b\r\n\r\nHello\r\n");
    }
    if (*row.answer)
        dialogs.textAnswers.enqueue(inbox + '/' + row.answer);
    App().SinceLastAttentionCounter = 4;
    App().mainConsole.setStatusColour(StatusColour::LightCyan);
    QString textWhileShown;
    dialogs.whileModal = [&](QDialog& window) {
        auto* viewer = qobject_cast<frmFile*>(&window);
        ASSERT_NE(viewer, nullptr);
        EXPECT_TRUE(viewer->isVisible());
        textWhileShown = viewer->txtHelp->toPlainText();
    };

    ViewMail(nullptr);

    EXPECT_EQ(App().SinceLastAttentionCounter, 0);
    EXPECT_EQ(App().mainConsole.statusColour(), qRgb(192, 192, 192));
    EXPECT_EQ(App().mainConsole.boxText(), ":\"Since last attention counter\" is reset to 0.\r\n");
    QStringList shown;
    for (const ShownDialog& dialog : dialogs.shown)
        shown.append(Describe(dialog));
    QStringList expected;
    for (const QString& line : row.dialogs)
        expected.append(line.contains("%1") ? line.arg(inbox) : line);
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(textWhileShown, *row.answer ? "From: a@b\n\nHello\n" : "");
}

const QString Offer = "OpenFile|%1|Select mail or right click, to manage folders and mail.|0";

INSTANTIATE_TEST_SUITE_P(Viewer, frmFileViewMail,
    ::testing::Values(ViewRow { "inbox missing", Inbox::Missing, "", { "MsgBox|Mail folder\r\n%1\r\ndoes not exist.||0" } },
        ViewRow { "inbox is a file", Inbox::File, "", { "MsgBox|File \r\n%1\r\nis not a Mail Folder.||0" } },
        ViewRow { "choice cancelled", Inbox::Folder, "", { Offer } },
        ViewRow { "file chosen", Inbox::Folder, "260302_090507__12.txt", { Offer, "Window||260302_090507__12.txt|0" } }),
    RowName());

} // namespace
