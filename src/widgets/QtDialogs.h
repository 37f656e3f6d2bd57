#pragma once

#include "Dialogs.h"

#include <QList>
#include <QPointer>

class QDialog;

// Dialogs shown with Qt's modal dialogs, parented to the active window.
class QtDialogs : public Dialogs {
public:
    MsgBoxResult MsgBox(const QString& text, int style, const QString& title = {}) override;
    QString InputBox(const QString& prompt, const QString& title, const QString& initial = {}) override;
    QString OpenFile(const QString& title, const QString& folder, const QString& filter) override;
    void ShowModal(QDialog& window) override;
    void DismissAll() override;

private:
    // Runs the dialog modally, counted as a nested event loop; answers `closingAnswer`
    // without showing anything once the program is closing.
    int Run(QDialog& dialog, int closingAnswer);

    QList<QPointer<QDialog>> mOpen;
};
