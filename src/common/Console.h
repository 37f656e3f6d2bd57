#pragma once
// One console: the text of its console box and its status box with the status colour.
// Windows show it through a ConsoleView; everything that writes goes through modConsole
// and the two writer families (modMain, modSendForm).

#include <QByteArray>
#include <QObject>
#include <QRgb>

namespace StatusColour {
constexpr QRgb Grey = qRgb(192, 192, 192);      // nothing new since the user's last action
constexpr QRgb LightCyan = qRgb(128, 255, 255); // new mail since then
constexpr QRgb Green = qRgb(0, 192, 0);         // a send or retrieval ended well
constexpr QRgb Red = qRgb(255, 0, 0);           // a send or retrieval failed
} // namespace StatusColour

class Console : public QObject {
    Q_OBJECT
public:
    const QByteArray& boxText() const { return mBoxText; }
    // Characters in the box text, kept with it so that a write need not count the box again.
    qsizetype boxChars() const { return mBoxChars; }
    void setBoxText(QByteArray text);
    // Adds text of `chars` characters at the end of the box.
    void appendBoxText(const QByteArray& text, qsizetype chars);

    const QByteArray& statusText() const { return mStatusText; }
    void setStatusText(QByteArray text);

    QRgb statusColour() const { return mStatusColour; }
    void setStatusColour(QRgb colour);

signals:
    void boxChanged();
    void statusChanged();

private:
    QByteArray mBoxText;
    qsizetype mBoxChars = 0;
    QByteArray mStatusText;
    QRgb mStatusColour = StatusColour::Grey;
};
