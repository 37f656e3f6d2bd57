#pragma once
// What the settings windows' tests share: how a test ends a window (a button, a direct call
// of Set, a key in one of its text boxes, or closing it; one row per way, for parameterised
// tests) and the names of its controls.

#include <QLineEdit>
#include <QPushButton>
#include <QList>
#include <QString>
#include <QTest>
#include <utility>

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

// The window's controls with their names.
using NamedControls = QList<std::pair<QWidget*, QString>>;

// The name of the control among `controls` ("other" for any other widget).
inline QString ControlName(const NamedControls& controls, const QWidget* widget)
{
    for (const auto& [control, name] : controls)
        if (control == widget)
            return name;
    return QStringLiteral("other");
}
