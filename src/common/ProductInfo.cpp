#include "ProductInfo.h"

#include "AppState.h"
#include "Dialogs.h"

#include <QDir>

QString ApplicationTitle() { return QStringLiteral("Wrenpost"); }

QString VersionText()
{
    return QStringLiteral("%1.%2.%3").arg(WRENPOST_VERSION_MAJOR).arg(WRENPOST_VERSION_MINOR).arg(WRENPOST_VERSION_PATCH);
}

QByteArray ProductBanner() { return "Wrenpost. " + VersionText().toLatin1() + ". Corvane, Inc."; }

QString LegalNotice() { return QStringLiteral("Copyright (c) Corvane, Inc. All rights reserved."); }

QString FileDescription() { return QStringLiteral("Wrenpost desktop mail: send, retrieve and serve mail"); }

QString AboutText()
{
    return ApplicationTitle() + QStringLiteral(". ") + VersionText() + QStringLiteral("\r\n") + LegalNotice()
        + QStringLiteral("\r\n") + FileDescription() + QStringLiteral("\r\n\r\nPath: ")
        + QDir::toNativeSeparators(App().paths.applicationFolder);
}
