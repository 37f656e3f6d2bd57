#pragma once
// A fresh shared state for each test, in a temporary application folder, and what tests read
// and wait with.

#include "AppState.h"
#include "FakeClock.h"
#include "FakeDialogs.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/resource.h>

// The program's home for one run: the shared state, fresh, pointing to a temporary application
// folder, with scripted dialogs, a hand-moved clock and counted beeps; reset again at the end.
class TestHome {
public:
    TestHome();
    ~TestHome();

    // A path inside the application folder.
    QString AppPath(const QString& relative) const;
    void WriteAppFile(const QString& relative, const QByteArray& bytes) const;
    QByteArray ReadAppFile(const QString& relative) const;

    QTemporaryDir folder;
    FakeDialogs dialogs;
    FakeClock clock;
    int beeps = 0;
};

// A test that runs in a fresh home.
class AppTest : public ::testing::Test, public TestHome {};

// While it lives, no file of the process grows past `bytes`: a write past them fails with
// EFBIG, rather than the signal ending the process.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();

private:
    rlimit mSaved {};
};

// A hand-written fixture from tests/fixtures.
QByteArray Fixture(const QString& name);

// A whole file's bytes ("" when it cannot be read).
QByteArray ReadFile(const QString& path);
// Writes the file anew; false when it cannot.
bool WriteFile(const QString& path, const QByteArray& bytes);

// The permission bits of a file (0 when it is missing).
unsigned FileMode(const QString& path);

// Waits (running the event loop) until the condition holds or the time-out passes.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 5000);

// The rows of a hand-written table in tests/fixtures: one row a line, fields separated by TAB
// characters; blank lines and lines that begin with "#" are left out. Fields are Unescaped.
QList<QByteArrayList> FixtureRows(const QString& name);

// The bytes a written-down field stands for: \r \n \t \\ and \xHH are those bytes, so any
// byte string can be written down.
QByteArray Unescaped(const QByteArray& field);
