#include "ConsoleView.h"

#include "Console.h"
#include "Text8.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextCursor>

namespace {
constexpr int RepaintDelayMs = 30;
}

ConsoleView::ConsoleView(Console& console, QPlainTextEdit& box, QLineEdit& status)
    : mConsole(console), mBox(box), mStatus(status)
{
    mBox.setFont(ConsoleFont());
    mStatus.setFont(ConsoleFont());
    mBox.setReadOnly(true);
    mStatus.setReadOnly(true);
    // Read-only boxes still take the focus, so that the window's keys work in them.
    mBox.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    mBox.setLineWrapMode(QPlainTextEdit::NoWrap);
    mRepaint.setSingleShot(true);
    mRepaint.setInterval(RepaintDelayMs);
    connect(&mRepaint, &QTimer::timeout, this, &ConsoleView::ShowBox);
    connect(&mConsole, &Console::boxChanged, this, [this] {
        if (!mRepaint.isActive())
            mRepaint.start();
    });
    connect(&mConsole, &Console::statusChanged, this, &ConsoleView::ShowStatus);
    Refresh();
}

void ConsoleView::Refresh()
{
    mRepaint.stop();
    ShowBox();
    ShowStatus();
}

QFont ConsoleView::ConsoleFont()
{
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    return font;
}

void ConsoleView::ShowBox()
{
    const QString text = Text8::ToDisplay(mConsole.boxText());
    mBox.setPlainText(text);
    // The caret goes to the start of the last line, which keeps the box scrolled to it.
    QTextCursor caret(mBox.document());
    caret.movePosition(QTextCursor::End);
    if (text.endsWith(QLatin1Char('\n')))
        caret.movePosition(QTextCursor::PreviousBlock);
    caret.movePosition(QTextCursor::StartOfBlock);
    mBox.setTextCursor(caret);
    mBox.ensureCursorVisible();
}

void ConsoleView::ShowStatus()
{
    mStatus.setText(Text8::ToDisplay(mConsole.statusText()));
    QPalette palette = mStatus.palette();
    palette.setColor(QPalette::Base, QColor::fromRgb(mConsole.statusColour()));
    palette.setColor(QPalette::Text, Qt::black);
    mStatus.setPalette(palette);
}
