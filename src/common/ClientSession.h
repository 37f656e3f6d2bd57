#pragma once
// What the two client sessions (MailSender, MailRetriever) share: the socket they drive and its
// events, the progress bar, the console they trace on, the error text of a failed step, one wait
// for the peer that every step uses, and one finish that always closes the socket. A session
// runs inside one call and yields to the event loop while it waits, so it guards itself against
// a second call (Busy). A session may speak TLS, from the first byte or after an upgrade its
// protocol asks for; the console traces its start, what it came up with, or why it failed.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>

#include "ServerName.h"

class Console;
class Progress;
class SocketAdapter;
struct Services;

class ClientSession : public QObject {
    Q_OBJECT
public:
    bool Busy() const { return mBusy; }

    // How long a reply from the peer, and TLS coming up, may take.
    int replyWaitMs = 20000;

protected:
    // The session traces on `console` and waits by `services`' clock; `module` names it in its
    // EXCEPTION boxes ("MailSender").
    ClientSession(SocketAdapter& socket, Progress& progress, Console& console, Services& services, QString module);

    // How a wait for the peer ends, besides by what it waits for.
    struct WaitRule {
        // The tick count after which the wait times out with `timeoutText`; when
        // `sinceLastArrival` is set, counted anew from each arrival of data.
        qint64 limitMs = 0;
        QString timeoutText {};
        bool sinceLastArrival = false;
        // A code wait adds "Exception when waiting for dialog code." to a socket error's text.
        bool codeWait = true;
        // A close by the peer ends the wait with this text; empty: it does not end the wait.
        QString peerClosedText {};
        // The progress shown after each yield (none: left as it is).
        std::function<int()> progress {};
        // Named in the error text of a failure caught while waiting; with `reportedIn`, the
        // failure is also shown in the EXCEPTION box as that function's.
        QString failurePlace {};
        QString reportedIn {};
    };

    // Yields until `arrived` says the awaited reply or message is there (checked before each
    // yield, so what is already received is taken without waiting), the socket fails, the peer
    // closes (as the rule says), the program closes or the time runs out. True when it arrived
    // and no error text was set.
    bool Wait(const WaitRule& rule, const std::function<bool()>& arrived);

    // "Socket is in "STATE" state."; false, with the error text set, when the socket is still
    // connected: a connection left open is never reused, nothing goes to the wrong host.
    bool SocketIsFree();
    // Starts connecting to the socket's remote host and port, with nothing received yet; with
    // TLS from the first byte when `security` says so. Any TLS trusts the certificates of
    // trusted-certificates.pem in the application folder besides the system's.
    void Connect(Security security);
    // Upgrades the connection to TLS; whatever the peer sent before is dropped unread.
    void StartTls();
    // Waits until TLS is up; false, with the error text set, when it failed or took too long
    // (`timeoutText`). A refused certificate is also shown in a message box once the session
    // has finished.
    bool AwaitTls(const QString& timeoutText);
    // "Socket is in state "STATE". Closing socket ... " and `after`; the finish closes it.
    void NoteClosing(const QByteArray& after);
    // Ends the session: the socket closed, the progress hidden at 0, no longer busy.
    void Finish();

    void Note(const QByteArray& text);
    void Sent(const QByteArray& line);
    void Received(const QByteArray& line);

    // A percentage of the wait's time gone, for a rule's progress.
    std::function<int()> ElapsedShare(qint64 start, qint64 limitMs) const;

    SocketAdapter& mSocket;
    Progress& mProgress;
    Console& mConsole;
    Services& mServices;
    bool mBusy = false;
    // What the peer sent and the session has not yet taken.
    QByteArray mReceived;
    // Why the session failed: set by a failed wait and by the socket's Error event.
    QString mErrText;
    bool mSockError = false;
    bool mPeerClosed = false;
    // Bytes of data arrivals counted while `mCountingArrivals` is set.
    qint64 mArrivedBytes = 0;
    bool mCountingArrivals = false;

private:
    void OnDataArrival();
    void NoteTrustedCertificates();
    void NoteTls();

    QString mModule;
    qint64 mLastArrivalTick = 0;
    bool mTlsOnConnect = false;
    bool mTlsUp = false;
    // The first reason the peer's certificate or the handshake was refused for.
    QString mTlsRefusal;
};
