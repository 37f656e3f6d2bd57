#include "frmFile.h"

#include "AppState.h"
#include "Attention.h"
#include "Dialogs.h"
#include "FileHandlers.h"
#include "FormHelpers.h"
#include "Text8.h"

#include <QFileInfo>
#include <QKeyEvent>
#include <QPlainTextEdit>

namespace {
constexpr int ClientWidth = 6690;
constexpr int ClientHeight = 4230;
constexpr qsizetype CaptionChars = 50;
} // namespace

frmFile::frmFile(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("View  File. Press \"Esc\" to Cancel."));
    resize(Twips::ToPixels(ClientWidth), Twips::ToPixels(ClientHeight));
    txtHelp = new QPlainTextEdit(this);
    txtHelp->setReadOnly(true);
    txtHelp->setLineWrapMode(QPlainTextEdit::NoWrap);
    QPalette grey = txtHelp->palette();
    grey.setColor(QPalette::Base, QColor(192, 192, 192));
    txtHelp->setPalette(grey);
    txtHelp->installEventFilter(this);
}

void frmFile::TakeFile(const QString& fileName)
{
    txtHelp->setPlainText(Text8::ToDisplay(ReadFileText(fileName)));
    setWindowTitle(ViewerCaption(fileName));
}

QString ViewerCaption(const QString& fileName)
{
    QString name = fileName.mid(std::max(fileName.lastIndexOf(QLatin1Char('/')), fileName.lastIndexOf(QLatin1Char('\\'))) + 1);
    name = name.mid(name.lastIndexOf(QLatin1Char(':')) + 1);
    // Characters as the user sees them: a character outside the basic plane counts once.
    const QList<uint> characters = name.toUcs4();
    if (characters.size() <= CaptionChars)
        return name;
    const auto* last = reinterpret_cast<const char32_t*>(characters.constData() + characters.size() - CaptionChars);
    return QStringLiteral("... ") + QString::fromUcs4(last, CaptionChars);
}

void frmFile::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    CenterForm(*this);
    FitToForm(*this, *txtHelp, 0, 0);
}

void frmFile::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    FitToForm(*this, *txtHelp, 0, 0);
}

bool frmFile::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == txtHelp && event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        reject();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void ViewMail(QWidget* parent)
{
    ResetAttentionCounter();
    const QString folder = App().paths.InBoxPath;
    const QFileInfo inbox(folder);
    if (!inbox.exists()) {
        App().services.dialogs->MsgBox(QStringLiteral("Mail folder\r\n") + folder + QStringLiteral("\r\ndoes not exist."), MsgBoxStyle::OkOnly);
        return;
    }
    if (!inbox.isDir()) {
        App().services.dialogs->MsgBox(QStringLiteral("File \r\n") + folder + QStringLiteral("\r\nis not a Mail Folder."), MsgBoxStyle::OkOnly);
        return;
    }
    const QString path = App().services.dialogs->OpenFile(QStringLiteral("Select mail or right click, to manage folders and mail."),
        folder, QStringLiteral("Source Message Texts (*.txt);;All files (*)"));
    if (path.isEmpty())
        return;
    frmFile viewer(parent);
    viewer.TakeFile(path);
    App().services.dialogs->ShowModal(viewer);
}
