#include "SettingsWindow.h"

#include "AppState.h"
#include "Dialogs.h"
#include "FormHelpers.h"
#include "Text8.h"
#include "Trimmers.h"
#include "modGeneralExceptionHandler.h"
#include "modMain.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

SettingsWindow::SettingsWindow(QWidget* parent, const QString& title, int width, int height, const QString& name)
    : QDialog(parent), mName(name)
{
    setWindowTitle(title);
    UseDesignFont(*this);
    setFixedSize(Twips::ToPixels(width), Twips::ToPixels(height));
}

void SettingsWindow::PlaceButtons(int top)
{
    cmdApply = Place(new QPushButton(QStringLiteral("&Set"), this), { 2520, top, 2175, 375 });
    cmdCancel = Place(new QPushButton(QStringLiteral("&Cancel"), this), { 120, top, 2295, 375 });
    // Neither button is the default or the cancel button: Enter and Esc act only in the text boxes.
    cmdApply->setAutoDefault(false);
    cmdCancel->setAutoDefault(false);
    connect(cmdApply, &QPushButton::clicked, this,
        [this] { GuardEntryPoint(QStringLiteral("In ") + mName + QStringLiteral(" Set."), [this] { cmdApply_Click(); }); });
    connect(cmdCancel, &QPushButton::clicked, this, &SettingsWindow::cmdCancel_Click);
}

void SettingsWindow::TakeKeysOf(std::initializer_list<QLineEdit*> boxes)
{
    for (QLineEdit* box : boxes)
        box->installEventFilter(this);
}

QByteArray SettingsWindow::StoredBoxText(const QString& text)
{
    return TrimRightChars(TrimLeftChars(Text8::FromDisplay(text), " "), " ");
}

QByteArray SettingsWindow::CheckedFlag(const QCheckBox& box) { return box.isChecked() ? "Y" : "N"; }

void SettingsWindow::NotePasswordSaving(const QByteArray& whose, const QByteArray& flag)
{
    WriteMainNote(whose + (flag == "Y" ? " Password WILL BE SAVED to a disk." : " Password will NOT BE SAVED to a disk."));
}

void ShowModalWindow(QDialog& window) { App().services.dialogs->ShowModal(window); }

bool SettingsWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<const QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape) {
            cmdCancel->click();
            return true;
        }
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            cmdApply->click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void SettingsWindow::keyPressEvent(QKeyEvent* event)
{
    // Outside the text boxes Esc does not close the window (the dialog's own handling would).
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void SettingsWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    CenterForm(*this);
}
