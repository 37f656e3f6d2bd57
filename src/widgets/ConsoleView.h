#pragma once
// Shows a Console in a window's console box and status box. The console box is repainted on a
// short timer rather than once per write, so a burst of protocol lines costs one repaint.

#include <QObject>
#include <QTimer>

class Console;
class QLineEdit;
class QPlainTextEdit;

class ConsoleView : public QObject {
    Q_OBJECT
public:
    ConsoleView(Console& console, QPlainTextEdit& box, QLineEdit& status);

    // Brings the widgets up to date now (a pending repaint included).
    void Refresh();

    // Courier New where installed, another fixed-pitch font elsewhere.
    static QFont ConsoleFont();

private:
    void ShowBox();
    void ShowStatus();

    Console& mConsole;
    QPlainTextEdit& mBox;
    QLineEdit& mStatus;
    QTimer mRepaint;
};
