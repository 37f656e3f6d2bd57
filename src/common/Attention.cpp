#include "Attention.h"

#include "AppState.h"
#include "modMain.h"

void ResetAttentionCounter()
{
    App().SinceLastAttentionCounter = 0;
    App().mainConsole.setStatusColour(StatusColour::Grey);
    WriteMainNote("\"Since last attention counter\" is reset to 0.");
}

void NoteNewMail()
{
    ++App().SinceLastAttentionCounter;
    App().mainConsole.setStatusColour(StatusColour::LightCyan);
    if (App().beep)
        App().beep();
}
