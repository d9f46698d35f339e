// The external functions, indexed like the function table resource. A function
// is registered here and nowhere else; null entries are not built yet.
#include "xop.h"

#include "metadata.h"

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
    kav_AbfPrintMetaData,  // kFnPrintMetaData
    kav_AbfMetaData,       // kFnMetaData
    nullptr,  // kFnFileOpenDialog
    nullptr,  // kFnFileStripExt
    nullptr,  // kFnFileStripFileName
    nullptr,  // kFnFileStripPathName
    nullptr,  // kFnFileGetExt
    nullptr,  // kFnFileSplitPath
    nullptr,  // kFnBrowseForFolder
    nullptr,  // kFnReadTimeTags
    nullptr,  // kFnReadExternalTags
};
