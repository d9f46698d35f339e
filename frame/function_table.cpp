// The external functions, indexed like the function table resource. A function
// is registered here and nowhere else; null entries are not built yet.
#include "xop.h"
#include "dialogs.h"
#include "file_names.h"

const XopExternalFunction kExternalFunctions[kFunctionCount] = {
    nullptr,  // kFnLastErr
    nullptr,  // kFnLastErrStr
    nullptr,  // kFnIsAbfFile
    nullptr,  // kFnHasData
    nullptr,  // kFnOperationMode
    nullptr,  // kFnChannelCount
    nullptr,  // kFnEpisodeCount
    nullptr,  // kFnSampleCount
    nullptr,  // kFnTotalSampleCount
    nullptr,  // kFnStartTime
    nullptr,  // kFnADCSamplingSeq
    nullptr,  // kFnChannelRead
    nullptr,  // kFnEpisodeRead
    nullptr,  // kFnEpisodeWaveform
    nullptr,  // kFnPrintMetaData
    nullptr,  // kFnMetaData
    kav_AbfFileOpenDialog,  // kFnFileOpenDialog
    kav_AbfFileStripExt,  // kFnFileStripExt
    kav_AbfFileStripFileName,  // kFnFileStripFileName
    kav_AbfFileStripPathName,  // kFnFileStripPathName
    kav_AbfFileGetExt,  // kFnFileGetExt
    kav_AbfFileSplitPath,  // kFnFileSplitPath
    kav_AbfBrowseForFolder,  // kFnBrowseForFolder
    nullptr,  // kFnReadTimeTags
    nullptr,  // kFnReadExternalTags
};
