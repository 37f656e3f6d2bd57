#include "Autoretrieve.h"

#include "AppState.h"
#include "Attention.h"
#include "Clock.h"
#include "Dialogs.h"
#include "MiscUtilities.h"
#include "Text8.h"
#include "modMain.h"

#include <cmath>

namespace {
constexpr double MaxMinutes = 14400;
constexpr double MsPerMinute = 60000;
constexpr qint32 ShortestIntervalMs = 100;
} // namespace

void SetRetrieveInterval(const QByteArray& minutesText)
{
    ResetAttentionCounter();
    std::optional<double> minutes = LenientNumber(minutesText);
    if (!minutes || *minutes < 0 || *minutes > MaxMinutes) {
        // "Incrorect" as users know the message.
        App().services.dialogs->MsgBox(QStringLiteral("Incrorect value ") + Text8::ToDisplay(minutesText)
                + QStringLiteral(" was entered. Disabling autoretrieve."),
            MsgBoxStyle::OkOnly);
        minutes = 0;
    }
    AppState& app = App();
    app.autoretrieve.RetrieveIntervalMs = static_cast<qint32>(std::nearbyint(*minutes * MsPerMinute));
    if (app.autoretrieve.RetrieveIntervalMs >= ShortestIntervalMs) {
        WriteMainNote("Autoretrieve interval set to " + ShortestNumber(app.autoretrieve.RetrieveIntervalMs / MsPerMinute) + " minute(s).");
    } else {
        app.autoretrieve.RetrieveIntervalMs = 0;
        WriteMainNote("AUTORETRIEVE DISABLED");
    }
}

bool AutoretrieveTick()
{
    AppState& app = App();
    if (app.autoretrieve.RetrieveIntervalMs <= 0)
        return false;
    const qint64 now = app.services.clock->TickMs();
    if (app.autoretrieve.NextRetrieveTick == 0) {
        app.autoretrieve.NextRetrieveTick = now + app.autoretrieve.RetrieveIntervalMs;
        return false;
    }
    if (app.autoretrieve.NextRetrieveTick >= now)
        return false;
    app.autoretrieve.NextRetrieveTick = 0;
    return true;
}
