#pragma once
// The attention signal: how many messages arrived since the user last acted, shown by the main
// status box's colour (grey: nothing new; light cyan: new mail).

// The user has paid attention: the counter goes to 0 and the status box turns grey.
void ResetAttentionCounter();

// One more new message: the counter goes up, the status box turns light cyan, a beep sounds.
void NoteNewMail();
