#include "DesktopNotifications.h"

#include "AppState.h"
#include "Attention.h"
#include "Dialogs.h"
#include "Icons.h"
#include "Text8.h"
#include "modGeneralExceptionHandler.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QImage>
#include <QWidget>
#include <utility>

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString ObjectPath = QStringLiteral("/org/freedesktop/Notifications");
// The action a click on the notification itself chooses.
const QString DefaultAction = QStringLiteral("default");
// The name the icon and the desktop entry are installed under.
const QString DesktopName = QStringLiteral("wrenpost");

// The window icon as the "image-data" hint carries it, so that the envelope shows where the icon
// is not installed (a run from the build folder): (iiibiiay) width, height, bytes per row, alpha,
// bits per sample, channels, then the bytes, R G B A.
struct IconImage {
    QImage rgba;
};

QDBusArgument& operator<<(QDBusArgument& argument, const IconImage& icon)
{
    const QImage& image = icon.rgba;
    argument.beginStructure();
    argument << qint32(image.width()) << qint32(image.height()) << qint32(image.bytesPerLine()) << true << qint32(8) << qint32(4)
             << QByteArray(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes());
    argument.endStructure();
    return argument;
}

// Never read: the hint only goes out.
const QDBusArgument& operator>>(const QDBusArgument& argument, IconImage&) { return argument; }

} // namespace

Q_DECLARE_METATYPE(IconImage)

DesktopNotifications::DesktopNotifications() { qDBusRegisterMetaType<IconImage>(); }

void DesktopNotifications::Notify(const QString& summary, const QString& body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    // From any sender: naming the service would look its owner up with a call that waits.
    if (!mListening) {
        mListening = bus.connect(QString(), ObjectPath, Service, QStringLiteral("ActionInvoked"), this, SLOT(ActionInvoked(uint, QString)));
        bus.connect(QString(), ObjectPath, Service, QStringLiteral("ActivationToken"), this, SLOT(ActivationToken(uint, QString)));
    }
    const IconImage icon { Icons::MainIcon().pixmap(32).toImage().convertToFormat(QImage::Format_RGBA8888) };
    // Notify(app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout): the
    // actions are pairs of key and label; -1 leaves the time shown to the desktop.
    QDBusMessage call = QDBusMessage::createMethodCall(Service, ObjectPath, Service, QStringLiteral("Notify"));
    call << ApplicationTitle() << mShown << DesktopName << summary << body
         << QStringList { DefaultAction, QStringLiteral("Show Wrenpost") }
         << QVariantMap { { QStringLiteral("category"), QStringLiteral("email.arrived") },
                { QStringLiteral("desktop-entry"), DesktopName }, { QStringLiteral("image-data"), QVariant::fromValue(icon) } }
         << qint32(-1);
    // Nothing waits for the answer; an error (no service) is let go.
    auto* answer = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(answer, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* watcher) {
        const QDBusPendingReply<uint> id = *watcher;
        if (id.isValid())
            mShown = id.value();
        watcher->deleteLater();
    });
}

void DesktopNotifications::ActivationToken(uint id, const QString& token)
{
    if (id != 0 && id == mShown)
        mActivationToken = token;
}

void DesktopNotifications::ActionInvoked(uint id, const QString& action)
{
    if (id == 0 || id != mShown || action != DefaultAction || !activated)
        return;
    // A Wayland compositor brings a window forward only with the desktop's token, which Qt hands
    // it from this variable at the next activation.
    if (!mActivationToken.isEmpty())
        qputenv("XDG_ACTIVATION_TOKEN", std::exchange(mActivationToken, QString()).toUtf8());
    activated();
}

NewMailNotice::NewMailNotice(QWidget& mainWindow) : mMainWindow(mainWindow)
{
    mNotifications.activated = [this] {
        GuardEntryPoint(QStringLiteral("In frmMain notification."), [this] {
            mMainWindow.setWindowState(mMainWindow.windowState() & ~Qt::WindowMinimized);
            mMainWindow.show();
            mMainWindow.raise();
            mMainWindow.activateWindow();
            ResetAttentionCounter();
        });
    };
}

void NewMailNotice::Retrieving(bool receiving)
{
    const qint32 counter = App().autoretrieve.SinceLastAttentionCounter;
    if (receiving) {
        mCounterBefore = counter;
        return;
    }
    if (counter <= mCounterBefore || mMainWindow.isActiveWindow())
        return;
    mNotifications.Notify(QStringLiteral("New mail"),
        QStringLiteral("%1 message(s) received.\nServer: %2").arg(counter - mCounterBefore).arg(Text8::ToDisplay(App().prefs.ReceiveServer)));
}
