#include "SettingsWindow.h"

#include "Text8.h"
#include "Trimmers.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QKeyEvent>

QByteArray StoredBoxText(const QString& text) { return TrimRightChars(TrimLeftChars(Text8::FromDisplay(text), " "), " "); }

QByteArray CheckedFlag(const QCheckBox& box) { return box.isChecked() ? "Y" : "N"; }

bool SettingsBoxKey(const QEvent& event, QAbstractButton& apply, QAbstractButton& cancel)
{
    if (event.type() != QEvent::KeyPress)
        return false;
    const int key = static_cast<const QKeyEvent&>(event).key();
    if (key == Qt::Key_Escape) {
        cancel.click();
        return true;
    }
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        apply.click();
        return true;
    }
    return false;
}
