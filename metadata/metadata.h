// The header metadata functions: the header as a listing in the history and as a
// key=value string.
#pragma once

// kav_AbfPrintMetaData(file name) -> number: 1 once the listing is printed, else 0.
int kav_AbfPrintMetaData(void* params);
// kav_AbfMetaData(file name, text by reference) -> number: 1 once the text is stored.
int kav_AbfMetaData(void* params);
