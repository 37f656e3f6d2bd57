#pragma once
// preferences.txt: "key=value" lines in the application folder, read key by key at start-up and
// rewritten whole by every settings change.

#include <QByteArray>

// The value of the key, "" when absent. The file is read once, by the first lookup of the run.
QByteArray GetPreference(const QByteArray& key);

// The whole preferences text built from the shared state, in the file's fixed line order.
QByteArray PreferencesFileText();

// Rewrites preferences.txt from the shared state. A failure is shown in a message box; the
// settings stay in force for this run. Returns whether the file was written.
bool WritePreferences();
