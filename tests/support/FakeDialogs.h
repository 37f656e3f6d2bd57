#pragma once
// Scripted dialogs: records every dialog shown and plays back queued answers. A dialog with no
// queued answer gets the answer a user closing it would give (OK, Cancel, an empty input).

#include "Dialogs.h"

#include <QQueue>
#include <QString>
#include <QStringList>
#include <functional>

struct ShownDialog {
    enum class Kind { MsgBox, InputBox, OpenFile, Window } kind;
    QString text;  // the message, or the input box's prompt, or the open dialog's folder
    QString title; // as passed (empty: the program's title)
    int style = 0;
};

class FakeDialogs : public Dialogs {
public:
    MsgBoxResult MsgBox(const QString& text, int style, const QString& title = {}) override;
    QString InputBox(const QString& prompt, const QString& title, const QString& initial = {}) override;
    QString OpenFile(const QString& title, const QString& folder, const QString& filter) override;
    void ShowModal(QDialog& window) override;
    void DismissAll() override { ++dismissed; }

    QQueue<MsgBoxResult> msgBoxAnswers;
    QQueue<QString> textAnswers;
    // Runs while a dialog is "open", as the user's other actions could.
    std::function<void(const ShownDialog&)> whileOpen;
    // Acts on a modal window of the program's while it is "open" (it is shown, not run).
    std::function<void(QDialog&)> whileModal;

    QList<ShownDialog> shown;
    int dismissed = 0;

    QStringList Texts() const;

private:
    void Open(ShownDialog dialog);
};
