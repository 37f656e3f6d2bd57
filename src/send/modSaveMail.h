#pragma once
// The message files of the mail store: retrieved messages in the inbox, sent copies, messages
// saved unsent, and the one-level undo file of the compose window. Names carry the local time
// to the second; a save never overwrites a message file (the undo file is replaced each time).

#include "FileHandlers.h"

#include <QByteArray>
#include <QString>

// The folder marker that selects the undo file.
inline const QString UndoFolderMarker = QStringLiteral("U_N_D_O");
inline const QString UndoFileName = QStringLiteral("saved_send_message_undo.txt");

// The hidden file in the inbox that a retrieved message is written into as it arrives.
StagedFile ReceivedMessageFile(qint32 number);

// Stores a retrieved message, written into `message` as it arrived, in the inbox as
// yymmdd_hhnnss__<number>.txt. True only once the file is durably on disk; a failure, also one
// of an earlier write into `message`, is reported to the user and gives false.
bool SaveReceivedMessage(StagedFile& message, qint32 number);

// Stores a composed message as <recipient>__yymmdd_hhnnss.txt in the named folder of the mail
// store ("SentMessages", "SavedMessages"), or as the undo file for the marker "U_N_D_O"; the
// message's pieces are written one after the other. A failure is shown to the user here and
// gives false.
bool SaveComposedMessage(const TextPieces& message, const QByteArray& recipient, const QString& folder);

// Shows a non-empty text (its first 1000 characters) in a message box and returns false;
// returns true for an empty text.
bool ShowMessageIfAny(const QString& text);
