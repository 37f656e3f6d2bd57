#pragma once
// A session written down in one hand-written fixture file, as sections: each opens with a line
// "=== TITLE" and holds the bytes up to the next such line, line ends included. The engine
// tests take from it what the session is given:
//   "setup"   "key: value" lines (escapes as in FixtureRows);
//   "script"  the transcript the peer follows (ScriptedPeer's "S: ", "C: " and "!" lines);
// and what the user must find once it has ended:
//   "console"               the console box, exactly;
//   "file PATH"             a file under the application folder, exactly; together with the
//                           lines PATH TAB BYTES of a "files" table (BYTES escaped as in
//                           FixtureRows) they are every file there (a temporary left behind is
//                           a fault too);
//   "dialog STYLE [TITLE]"  each message box in order, its text followed by CR LF;
//   "status"                the status box's colour: grey, cyan, green or red.

#include "FakeDialogs.h"

#include <gtest/gtest.h>

#include <QByteArrayList>
#include <QRgb>
#include <QStringList>

class Scenario {
public:
    // Reads tests/fixtures/<fixture>.
    explicit Scenario(const QString& fixture);

    // The section's bytes ("" when the file has none).
    QByteArray Section(const QByteArray& title) const;
    // The section's lines without their line ends.
    QByteArrayList Lines(const QByteArray& title) const;
    // A value of the "setup" section (`unset` when the section has no line for it).
    QByteArray Setting(const QByteArray& key, const QByteArray& unset = {}) const;

    // Checks the console, the files under `folder`, the dialogs and the status colour.
    void ExpectOutcome(const QByteArray& console, const QString& folder, const FakeDialogs& dialogs, QRgb status) const;

private:
    QList<std::pair<QByteArray, QByteArray>> mSections;
};

// A status colour's name: grey, cyan, green or red ("other" for any other).
QByteArray ColourName(QRgb colour);

// The names of the scenario files in a fixture folder ("engines/send"), sorted.
QStringList ScenarioFiles(const QString& folder);

// A scenario file's name as a test's name: letters and digits.
std::string ScenarioTestName(const ::testing::TestParamInfo<QString>& info);
