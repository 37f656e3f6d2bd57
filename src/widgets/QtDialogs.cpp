#include "QtDialogs.h"

#include "AppState.h"
#include "NestedLoop.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <cstdio>

namespace {

QMessageBox::Icon IconOf(int style)
{
    switch (style & 0x70) {
    case MsgBoxStyle::Critical: return QMessageBox::Critical;
    case MsgBoxStyle::Question: return QMessageBox::Question;
    case MsgBoxStyle::Exclamation: return QMessageBox::Warning;
    case MsgBoxStyle::Information: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

QMessageBox::StandardButtons ButtonsOf(int style)
{
    switch (style & 0x07) {
    case MsgBoxStyle::OkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case MsgBoxStyle::YesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case MsgBoxStyle::YesNo: return QMessageBox::Yes | QMessageBox::No;
    default: return QMessageBox::Ok;
    }
}

// What closing the box without a choice means for its buttons.
QMessageBox::StandardButton EscapeAnswerOf(int style)
{
    switch (style & 0x07) {
    case MsgBoxStyle::OkCancel:
    case MsgBoxStyle::YesNoCancel: return QMessageBox::Cancel;
    case MsgBoxStyle::YesNo: return QMessageBox::No;
    default: return QMessageBox::Ok;
    }
}

MsgBoxResult ResultOf(int button)
{
    switch (button) {
    case QMessageBox::Yes: return MsgBoxResult::Yes;
    case QMessageBox::No: return MsgBoxResult::No;
    case QMessageBox::Cancel: return MsgBoxResult::Cancel;
    default: return MsgBoxResult::Ok;
    }
}

QString DialogText(const QDialog& dialog)
{
    if (const auto* box = qobject_cast<const QMessageBox*>(&dialog))
        return box->text();
    if (const auto* input = qobject_cast<const QInputDialog*>(&dialog))
        return input->labelText();
    return {};
}

} // namespace

int QtDialogs::Run(QDialog& dialog, int closingAnswer)
{
    if (App().lifecycle.closing) {
        // Nobody may be there to answer (the program may be stopping for a logout): what the
        // dialog would have said goes to the standard error instead.
        std::fprintf(stderr, "%s: %s\n", qPrintable(dialog.windowTitle()), qPrintable(DialogText(dialog)));
        return closingAnswer;
    }
    NestedLoop nested;
    mOpen.append(&dialog);
    const int answer = dialog.exec();
    mOpen.removeAll(&dialog);
    return App().lifecycle.closing ? closingAnswer : answer;
}

MsgBoxResult QtDialogs::MsgBox(const QString& text, int style, const QString& title)
{
    QMessageBox box(IconOf(style), title.isEmpty() ? ApplicationTitle() : title, text, ButtonsOf(style),
        QApplication::activeWindow());
    box.setEscapeButton(EscapeAnswerOf(style));
    // A question asked while the program closes is taken as No.
    const int closingAnswer = (style & 0x07) == MsgBoxStyle::OkOnly ? QMessageBox::Ok : QMessageBox::No;
    return ResultOf(Run(box, closingAnswer));
}

QString QtDialogs::InputBox(const QString& prompt, const QString& title, const QString& initial)
{
    QInputDialog box(QApplication::activeWindow());
    box.setWindowTitle(title.isEmpty() ? ApplicationTitle() : title);
    box.setLabelText(prompt);
    box.setTextValue(initial);
    return Run(box, QDialog::Rejected) == QDialog::Accepted ? box.textValue() : QString();
}

QString QtDialogs::OpenFile(const QString& title, const QString& folder, const QString& filter)
{
    QFileDialog box(QApplication::activeWindow(), title, folder, filter);
    box.setFileMode(QFileDialog::ExistingFile);
    box.setAcceptMode(QFileDialog::AcceptOpen);
    if (Run(box, QDialog::Rejected) != QDialog::Accepted || box.selectedFiles().isEmpty())
        return {};
    return box.selectedFiles().constFirst();
}

void QtDialogs::ShowModal(QDialog& window) { Run(window, QDialog::Rejected); }

void QtDialogs::DismissAll()
{
    for (const QPointer<QDialog>& dialog : mOpen)
        if (dialog)
            dialog->reject();
}
