#pragma once
// New mail told to the desktop: a notification through the freedesktop Notifications service on
// the session D-Bus, whose action brings the main window forward.

#include <QObject>
#include <functional>

class QWidget;

// The program's notifications: each one takes the place of the one before, so that the desktop
// shows at most one. Where there is no session bus or no notification service, nothing is shown
// and nothing is reported: the program goes on as without a desktop.
class DesktopNotifications : public QObject {
    Q_OBJECT
public:
    DesktopNotifications();

    // Sends a notification with the program's icon and its one action, "Show Wrenpost".
    void Notify(const QString& summary, const QString& body);

    // Called when the user chooses the action of the notification sent last.
    std::function<void()> activated;

private Q_SLOTS:
    void ActivationToken(uint id, const QString& token);
    void ActionInvoked(uint id, const QString& action);

private:
    bool mListening = false;
    // The service's id of the notification sent last; 0 = none yet.
    uint mShown = 0;
    // What the desktop sent ahead of the action to let the program come forward.
    QString mActivationToken;
};

// Tells the desktop how many messages a retrieval stored, unless the main window is the active
// window, where the status box already shows it. The notification's action brings the main
// window forward and counts as the user's attention.
class NewMailNotice {
public:
    explicit NewMailNotice(QWidget& mainWindow);

    // Called as a retrieval begins (true) and as it ends (false).
    void Retrieving(bool receiving);

private:
    QWidget& mMainWindow;
    DesktopNotifications mNotifications;
    // The attention counter as the retrieval began: each stored message raises it by one.
    qint32 mCounterBefore = 0;
};
