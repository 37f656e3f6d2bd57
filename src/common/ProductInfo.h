#pragma once
// The program's version information and the texts made from it.

#include <QByteArray>
#include <QString>

// "1.0.27": major, minor and revision without leading zeros.
QString VersionText();

// "Wrenpost. 1.0.27. Corvane, Inc.", used as X-Mailer and in the local server's greeting.
QByteArray ProductBanner();

QString LegalNotice();
QString FileDescription();

// The About box: title, version, legal notice, description and the application folder.
QString AboutText();
