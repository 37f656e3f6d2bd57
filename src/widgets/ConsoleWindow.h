#pragma once
// What the main window and the compose window share: a console box with the status frame below
// it (the status box and the progress bar), the view that shows the window's Console in them,
// and the window's placement.

#include "FormHelpers.h"
#include "WindowPlacement.h"

#include <QMainWindow>

#include <memory>

class Console;
class ConsoleView;
class QFrame;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;

class ConsoleWindow : public QMainWindow {
    Q_OBJECT
public:
    ~ConsoleWindow() override;

    // Lays the controls out for the window's size.
    virtual void Arrange() = 0;

    QPlainTextEdit* txtConsole = nullptr;
    QFrame* fraStatus = nullptr;
    QLineEdit* txtStatus = nullptr;
    QProgressBar* ProgressBar1 = nullptr;

    ConsoleView& consoleView() { return *mConsoleView; }

protected:
    ConsoleWindow();
    // The console box and the status frame with its two controls, at their design rectangles
    // inside `client`, showing `console`.
    void BuildConsole(QWidget* client, Console& console, const TwipRect& frame, const TwipRect& status, const TwipRect& progress);

    WindowPlacement mPlacement;

private:
    std::unique_ptr<ConsoleView> mConsoleView;
};
