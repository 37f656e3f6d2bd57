#pragma once
// The viewer: shows a stored message file's text, unchanged, in a read-only box. Esc closes it.

#include <QDialog>

class QPlainTextEdit;

class frmFile : public QDialog {
    Q_OBJECT
public:
    explicit frmFile(QWidget* parent = nullptr);

    // Loads the file's text and names the window after the file.
    void TakeFile(const QString& fileName);

    QPlainTextEdit* txtHelp = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// The caption for a file: its name after the last "/" or "\", then after the last ":"; a name
// of more than 50 characters shows as "... " and its last 50 characters.
QString ViewerCaption(const QString& fileName);

// View mail: resets the attention counter, asks for a file in the inbox and shows it.
void ViewMail(QWidget* parent);
