#include "FakeDialogs.h"

#include <QDialog>

MsgBoxResult FakeDialogs::MsgBox(const QString& text, int style, const QString& title)
{
    shown.append({ ShownDialog::Kind::MsgBox, text, title, style });
    if (whileOpen)
        whileOpen(shown.constLast());
    if (!msgBoxAnswers.isEmpty())
        return msgBoxAnswers.dequeue();
    return (style & 0x07) == 0 ? MsgBoxResult::Ok : MsgBoxResult::Cancel;
}

QString FakeDialogs::InputBox(const QString& prompt, const QString& title, const QString&)
{
    shown.append({ ShownDialog::Kind::InputBox, prompt, title, 0 });
    if (whileOpen)
        whileOpen(shown.constLast());
    return textAnswers.isEmpty() ? QString() : textAnswers.dequeue();
}

QString FakeDialogs::OpenFile(const QString& title, const QString& folder, const QString&)
{
    shown.append({ ShownDialog::Kind::OpenFile, folder, title, 0 });
    if (whileOpen)
        whileOpen(shown.constLast());
    return textAnswers.isEmpty() ? QString() : textAnswers.dequeue();
}

QStringList FakeDialogs::Texts() const
{
    QStringList texts;
    for (const ShownDialog& dialog : shown)
        texts.append(dialog.text);
    return texts;
}

void FakeDialogs::ShowModal(QDialog& window)
{
    shown.append({ ShownDialog::Kind::Window, QString(), window.windowTitle(), 0 });
    window.show();
    if (whileModal)
        whileModal(window);
    window.hide();
}
