#pragma once
// The client sessions run as a hand-written scenario says (see Scenario.h): a sender or a
// retriever in a fresh home, against a scripted peer, checked against everything written down.
// The peer's actions in the script: "again" (a second call while the first waits; the console
// shows it added nothing), "inbox-gone", "file-size-limit" (no file grows past 4096 bytes
// until the session has returned), "flood" (4096 lines of 78 "x", more than a file buffers
// before it writes), and those the caller adds.

#include "FakeProgress.h"
#include "Scenario.h"
#include "ScriptedPeer.h"
#include "TestApp.h"

#include <functional>
#include <map>

// Further actions a script may name, by name; "after", when given, runs once the session has
// returned, before the checks.
using SessionActions = std::map<QByteArray, std::function<void()>>;

// Sends (or retrieves) as the scenario file says; `pieceSize` cuts each reply (see ScriptedPeer).
void SendAsWritten(const QString& fixture, int pieceSize = 0, const SessionActions& actions = {});
void RetrieveAsWritten(const QString& fixture, int pieceSize = 0, const SessionActions& actions = {});
