// The two dialogs host procedures use to choose what they read: the file-open
// dialog (one or several files) and the shell's folder browser. Both are modal,
// owned by the host's client window, and return a string that is empty when the
// user cancels.
#pragma once

// Parameters: title, initial directory (strings), mode (number). Returns 0, or
// kStatusOutOfMemory when the result string could not be created.
int kav_AbfFileOpenDialog(void* params);

// Parameter: the initial folder (string, may name environment variables as
// %NAME%). Returns 0, kErrNullString for a null folder, the host's code when the
// result string could not be created (kStatusOutOfMemory for an empty one).
int kav_AbfBrowseForFolder(void* params);
