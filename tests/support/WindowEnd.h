#pragma once
// How a test ends a settings window: a button, a direct call of Set, a key in one of its
// text boxes, or closing the window. One row per way, for parameterised tests.

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

enum class Action { Button, Call, Key, Close };

template <typename Window>
struct WindowEnd {
    const char* name;
    Action action;
    QLineEdit* Window::*box = nullptr;
    Qt::Key key = Qt::Key_unknown;
};

// Ends the window as the row says; `button` is the one a Button row clicks.
template <typename Window>
void End(Window& window, const WindowEnd<Window>& row, QPushButton* button)
{
    if (row.action == Action::Key)
        QTest::keyClick(window.*row.box, row.key);
    else if (row.action == Action::Button)
        QTest::mouseClick(button, Qt::LeftButton);
    else if (row.action == Action::Call)
        window.cmdApply_Click();
    else
        window.close();
}
