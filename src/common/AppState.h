#pragma once
// The process-wide state that several modules share, in named parts: the mail store's paths,
// the preferences as loaded, the platform services that tests replace, the two consoles, the
// last caught error, the run's lifecycle, the autoretrieve clock with the attention counter,
// and the local server's state. One instance per process; tests start from a clean one with
// ResetAppState().

#include "Console.h"
#include "Services.h"

#include <QByteArray>
#include <QString>
#include <functional>

struct AppState {
    struct Paths {
        // The folder that holds the executable, without a trailing separator.
        QString applicationFolder;
        // The mail store, laid out by start-up.
        QString MailFolderPath;
        QString InBoxPath;
        QString DeletedMessagesPath;
        QString POP3MailBoxPath;
    } paths;

    // Preferences, kept as the bytes read from preferences.txt.
    struct Preferences {
        QByteArray ReceiveUser, ReceivePassword, SaveReceivePassword, ReceiveServer;
        QByteArray SendUser, SendPassword, SaveSendPassword, SendServer;
        QByteArray POP3User, POP3UserPassword, POP3UserSavePassword, POP3UserFolder;
        QByteArray POP3RunsAtStartup, POP3DeleteIfRequested;
        // The whole preferences file as read by the first lookup, with CR LF appended.
        QByteArray PreferencesText;
    } prefs;

    Services services;

    // The main window's console and the compose window's.
    struct Consoles {
        Console mainConsole;
        Console sendConsole;
    } consoles;

    // The error last caught by any handler.
    struct LastError {
        qint64 LastErrNumber = 0;
        QString LastErrDescription;
    } lastError;

    struct Lifecycle {
        bool UserFormOpen = false;
        // Nested waits and modal dialogs currently running on the GUI thread.
        int nestedLoopDepth = 0;
        // Set once the main window has been asked to close: waits end, questions answer No.
        bool closing = false;
        // Carries out a close that was held back while nested loops ran (set by the main window).
        std::function<void()> resumeClose;
    } lifecycle;

    struct Autoretrieve {
        // The interval in milliseconds; 0 = off.
        qint32 RetrieveIntervalMs = 0;
        // Monotonic millisecond tick at which the next autoretrieve is due; 0 = not armed.
        // 64 bits, so the deadline arithmetic never wraps.
        qint64 NextRetrieveTick = 0;
        // Messages received since the user last acted.
        qint32 SinceLastAttentionCounter = 0;
    } autoretrieve;

    struct LocalServer {
        // The dialog state's one-character code (POP3ServerState.h); empty while stopped.
        QByteArray POP3ServerState;
        // The port the local server listens on.
        quint16 POP3ServerPort = 110;
    } localServer;
};

AppState& App();

// Replaces the shared state with a fresh one (services included: tests install their fakes after).
void ResetAppState();

// folder & the platform's separator & name.
QString JoinPath(const QString& folder, const QString& name);

// The application folder joined with the name.
QString AppFilePath(const QString& name);
