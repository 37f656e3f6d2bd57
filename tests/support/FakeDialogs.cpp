#include "FakeDialogs.h"

#include <QDialog>

void FakeDialogs::Open(ShownDialog dialog)
{
    shown.append(std::move(dialog));
    if (whileOpen)
        whileOpen(shown.constLast());
}

MsgBoxResult FakeDialogs::MsgBox(const QString& text, int style, const QString& title)
{
    Open({ ShownDialog::Kind::MsgBox, text, title, style });
    if (!msgBoxAnswers.isEmpty())
        return msgBoxAnswers.dequeue();
    return (style & 0x07) == 0 ? MsgBoxResult::Ok : MsgBoxResult::Cancel;
}

QString FakeDialogs::InputBox(const QString& prompt, const QString& title, const QString&)
{
    Open({ ShownDialog::Kind::InputBox, prompt, title, 0 });
    return textAnswers.isEmpty() ? QString() : textAnswers.dequeue();
}

QString FakeDialogs::OpenFile(const QString& title, const QString& folder, const QString&)
{
    Open({ ShownDialog::Kind::OpenFile, folder, title, 0 });
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
