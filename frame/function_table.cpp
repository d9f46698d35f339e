// The external functions, indexed like the function table resource. A function
// is registered here and nowhere else; null entries are not built yet.
#include "xop.h"

#include "files/dialogs.h"
#include "files/file_names.h"
#include "abf/last_error.h"
#include "metadata/metadata.h"
#include "abf/queries.h"
#include "abf/readers.h"

const XopExternalFunction kExternalFunctions[kFunctionCount] = {
    kav_AbfLastErr,            // kFnLastErr
    kav_AbfLastErrStr,         // kFnLastErrStr
    kav_AbfIsAbfFile,          // kFnIsAbfFile
    kav_AbfHasData,            // kFnHasData
    kav_AbfOperationMode,      // kFnOperationMode
    kav_AbfChannelCount,       // kFnChannelCount
    kav_AbfEpisodeCount,       // kFnEpisodeCount
    kav_AbfSampleCount,        // kFnSampleCount
    kav_AbfTotalSampleCount,   // kFnTotalSampleCount
    kav_AbfStartTime,          // kFnStartTime
    kav_AbfADCSamplingSeq,     // kFnADCSamplingSeq
    kav_AbfChannelRead,        // kFnChannelRead
    kav_AbfEpisodeRead,        // kFnEpisodeRead
    kav_AbfEpisodeWaveform,    // kFnEpisodeWaveform
    kav_AbfPrintMetaData,      // kFnPrintMetaData
    kav_AbfMetaData,           // kFnMetaData
    kav_AbfFileOpenDialog,     // kFnFileOpenDialog
    kav_AbfFileStripExt,       // kFnFileStripExt
    kav_AbfFileStripFileName,  // kFnFileStripFileName
    kav_AbfFileStripPathName,  // kFnFileStripPathName
    kav_AbfFileGetExt,         // kFnFileGetExt
    kav_AbfFileSplitPath,      // kFnFileSplitPath
    kav_AbfBrowseForFolder,    // kFnBrowseForFolder
    kav_AbfReadTimeTags,       // kFnReadTimeTags
    kav_AbfReadExternalTags,   // kFnReadExternalTags
};
