// External functions that cut a file path held in a host string into its parts:
// the path without its extension, its directory, its file name, its extension,
// and all four parts at once (drive, directory, name, extension). They work on
// the characters only and never touch the file system.
#pragma once

// Each takes its parameter block and returns a status: 0, kErrNullString for a
// null path, kStatusOutOfMemory when a handle could not be created or grown.
int kav_AbfFileStripExt(void* params);
int kav_AbfFileStripFileName(void* params);
int kav_AbfFileStripPathName(void* params);
int kav_AbfFileGetExt(void* params);
int kav_AbfFileSplitPath(void* params);
