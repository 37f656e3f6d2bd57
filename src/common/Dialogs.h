#pragma once
// Every dialog the program shows goes through this interface: the Qt implementation for the
// running program, a scripted fake for tests.

#include <QString>

class QDialog;

// Button-and-icon codes of a message box, as the program's texts give them.
namespace MsgBoxStyle {
constexpr int OkOnly = 0;
constexpr int OkCancel = 1;
constexpr int YesNoCancel = 3;
constexpr int YesNo = 4;
constexpr int Critical = 16;
constexpr int Question = 32;
constexpr int Exclamation = 48;
constexpr int Information = 64;
} // namespace MsgBoxStyle

// What a message box answers.
enum class MsgBoxResult { Ok = 1, Cancel = 2, Yes = 6, No = 7 };

class Dialogs {
public:
    virtual ~Dialogs() = default;

    // A modal message box; an empty title shows the program's title ("Wrenpost").
    virtual MsgBoxResult MsgBox(const QString& text, int style, const QString& title = {}) = 0;

    // A modal input box; Cancel answers with the empty string.
    virtual QString InputBox(const QString& prompt, const QString& title, const QString& initial = {}) = 0;

    // The open-file dialog; an empty result means the user cancelled.
    virtual QString OpenFile(const QString& title, const QString& folder, const QString& filter) = 0;

    // Shows one of the program's own windows modally; returns once it has closed.
    virtual void ShowModal(QDialog& window) = 0;

    // Closes whatever dialog is open as if the user had cancelled it (No for a question): the
    // program is closing.
    virtual void DismissAll() = 0;
};

// The title every window and message box of the program carries.
QString ApplicationTitle();
