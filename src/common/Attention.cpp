#include "Attention.h"

#include "AppState.h"
#include "modMain.h"

void ResetAttentionCounter()
{
    App().autoretrieve.SinceLastAttentionCounter = 0;
    App().consoles.mainConsole.setStatusColour(StatusColour::Grey);
    WriteMainNote("\"Since last attention counter\" is reset to 0.");
}

void NoteNewMail()
{
    ++App().autoretrieve.SinceLastAttentionCounter;
    App().consoles.mainConsole.setStatusColour(StatusColour::LightCyan);
    if (App().services.beep)
        App().services.beep();
}
