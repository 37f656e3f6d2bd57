#pragma once
// The process-wide state that several modules share: paths of the mail store, the loaded
// preferences, the autoretrieve and attention counters, the last caught error, and the
// platform services (dialogs, clock, beep) that tests replace. One instance per process;
// tests start from a clean one with ResetAppState().

#include "Console.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

class Clock;
class Dialogs;

struct AppState {
    // The folder that holds the executable, without a trailing separator.
    QString applicationFolder;

    // Mail store layout, filled by start-up.
    QString MailFolderPath;
    QString InBoxPath;
    QString DeletedMessagesPath;
    QString POP3MailBoxPath;

    // Preferences, kept as the bytes read from preferences.txt.
    QByteArray ReceiveUser, ReceivePassword, SaveReceivePassword, ReceiveServer;
    QByteArray SendUser, SendPassword, SaveSendPassword, SendServer;
    QByteArray POP3User, POP3UserPassword, POP3UserSavePassword, POP3UserFolder;
    QByteArray POP3RunsAtStartup, POP3DeleteIfRequested;

    // Autoretrieve interval in milliseconds; 0 = off.
    qint32 RetrieveIntervalMs = 0;
    // Monotonic millisecond tick at which the next autoretrieve is due; 0 = not armed.
    // 64 bits, so the deadline arithmetic never wraps.
    qint64 NextRetrieveTick = 0;
    // Messages received since the user last acted.
    qint32 SinceLastAttentionCounter = 0;
    bool UserFormOpen = false;

    // The local server's one-character dialog state; empty while stopped.
    QByteArray POP3ServerState;
    // The port the local server listens on.
    quint16 POP3ServerPort = 110;

    // The error last caught by any handler.
    qint64 LastErrNumber = 0;
    QString LastErrDescription;

    // The whole preferences file as read by the first lookup, with CR LF appended.
    QByteArray PreferencesText;

    // The two consoles: the main window's and the compose window's.
    Console mainConsole;
    Console sendConsole;

    // Nested waits and modal dialogs currently running on the GUI thread.
    int nestedLoopDepth = 0;
    // Set once the main window has been asked to close: waits end, questions answer No.
    bool closing = false;
    // Carries out a close that was held back while nested loops ran (set by the main window).
    std::function<void()> resumeClose;

    Dialogs* dialogs = nullptr;
    Clock* clock = nullptr;
    std::function<void()> beep;
};

AppState& App();

// Replaces the shared state with a fresh one (services included: tests install their fakes after).
void ResetAppState();

// folder & the platform's separator & name.
QString JoinPath(const QString& folder, const QString& name);

// The application folder joined with the name.
QString AppFilePath(const QString& name);
