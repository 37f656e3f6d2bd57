#pragma once

#include <QString>

// Message box titled "EXCEPTION" with the last error, the note and the module and function
// names; a non-empty note is also written to the main console.
void ReportSpecificException(int buttons, const QString& module, const QString& function, const QString& note);
