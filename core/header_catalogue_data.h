// The catalogue's data: the 18 blocks and the 90 items, in the order in which the
// listing and the key=value string show them. Included by header_catalogue.h.
//
// Items name their fields; offsets, element types and sizes come from the record's
// generated field table at compile time, and a name that is not a field of the
// record, or a field of the wrong type or too small for its item, stops the build.
#pragma once

// Never defined: reaching it while the catalogue is evaluated at compile time makes
// the catalogue a non-constant expression, so the mistake is a build error.
void HeaderCatalogueFieldMismatch(const char* key);

constexpr bool HeaderSameName(const char* a, const char* b)
{
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

constexpr const AbfFieldInfo& HeaderField(const char* name)
{
    for (const AbfFieldInfo& f : kAbfRecordFields)
        if (HeaderSameName(f.name, name)) return f;
    HeaderCatalogueFieldMismatch(name);
    return kAbfRecordFields[0];
}

// Number of elements (numbers) or texts of a field.
constexpr int HeaderFieldElements(const AbfFieldInfo& f) { return f.rows * f.cols; }

constexpr HeaderBlockKey HeaderKey(const char* name)
{
    const AbfFieldInfo& f = HeaderField(name);
    if (f.kind == AbfFieldKind::kChar || HeaderFieldElements(f) != 1) HeaderCatalogueFieldMismatch(name);
    return HeaderBlockKey{name, f.offset, f.kind};
}

template <std::size_t N>
constexpr HeaderItem HeaderBlock(const HeaderBlockKey (&keys)[N])
{
    return HeaderItem{kItemBlock, nullptr, 0, 1, 0, keys, static_cast<uint16_t>(N)};
}

constexpr HeaderItem HeaderList(HeaderItemKind kind, AbfFieldKind element, const char* name, int count)
{
    const AbfFieldInfo& f = HeaderField(name);
    if (f.kind != element || count < 1 || count > HeaderFieldElements(f)) HeaderCatalogueFieldMismatch(name);
    return HeaderItem{kind, name, f.offset, static_cast<uint16_t>(count), f.width, nullptr, 0};
}
constexpr HeaderItem HeaderShortList(const char* name, int count)
{
    return HeaderList(kItemShortList, AbfFieldKind::kI16, name, count);
}
constexpr HeaderItem HeaderFloatList(const char* name, int count)
{
    return HeaderList(kItemFloatList, AbfFieldKind::kF32, name, count);
}
constexpr HeaderItem HeaderLongList(const char* name) { return HeaderList(kItemLongList, AbfFieldKind::kI32, name, 8); }
constexpr HeaderItem HeaderByteList(const char* name) { return HeaderList(kItemByteList, AbfFieldKind::kI8, name, 16); }

// Texts: the elements of a text list follow each other at `width` characters, so
// the width must be the field's own.
constexpr HeaderItem HeaderTextList(const char* name, int count, int width)
{
    const AbfFieldInfo& f = HeaderField(name);
    if (f.kind != AbfFieldKind::kChar || width != f.width || count < 1 || count > HeaderFieldElements(f))
        HeaderCatalogueFieldMismatch(name);
    return HeaderItem{kItemTextList, name, f.offset, static_cast<uint16_t>(count), static_cast<uint16_t>(width),
                      nullptr,       0};
}
constexpr HeaderItem HeaderTextField(const char* name, int width)
{
    const AbfFieldInfo& f = HeaderField(name);
    if (f.kind != AbfFieldKind::kChar || HeaderFieldElements(f) != 1 || width < 1 || width > f.width)
        HeaderCatalogueFieldMismatch(name);
    return HeaderItem{kItemTextField, name, f.offset, 1, static_cast<uint16_t>(width), nullptr, 0};
}

inline constexpr HeaderBlockKey kHeaderBlock1[] = {
    HeaderKey("fFileVersionNumber"), HeaderKey("nOperationMode"),  HeaderKey("lActualAcqLength"),
    HeaderKey("nNumPointsIgnored"),  HeaderKey("lActualEpisodes"), HeaderKey("uFileStartDate"),
    HeaderKey("uFileStartTimeMS"),   HeaderKey("lStopwatchTime"),  HeaderKey("fHeaderVersionNumber"),
    HeaderKey("nFileType"),
};
inline constexpr HeaderBlockKey kHeaderBlock2[] = {
    HeaderKey("lDataSectionPtr"),   HeaderKey("lTagSectionPtr"),       HeaderKey("lNumTagEntries"),
    HeaderKey("lScopeConfigPtr"),   HeaderKey("lNumScopes"),           HeaderKey("lDeltaArrayPtr"),
    HeaderKey("lNumDeltas"),        HeaderKey("lVoiceTagPtr"),         HeaderKey("lVoiceTagEntries"),
    HeaderKey("lSynchArrayPtr"),    HeaderKey("lSynchArraySize"),      HeaderKey("nDataFormat"),
    HeaderKey("nSimultaneousScan"), HeaderKey("lStatisticsConfigPtr"), HeaderKey("lAnnotationSectionPtr"),
    HeaderKey("lNumAnnotations"),
};
inline constexpr HeaderBlockKey kHeaderBlock3[] = {
    HeaderKey("nADCNumChannels"),        HeaderKey("fADCSequenceInterval"), HeaderKey("uFileCompressionRatio"),
    HeaderKey("bEnableFileCompression"), HeaderKey("fSynchTimeUnit"),       HeaderKey("fSecondsPerRun"),
    HeaderKey("lNumSamplesPerEpisode"),  HeaderKey("lPreTriggerSamples"),   HeaderKey("lEpisodesPerRun"),
    HeaderKey("lRunsPerTrial"),          HeaderKey("lNumberOfTrials"),      HeaderKey("nAveragingMode"),
    HeaderKey("nUndoRunCount"),          HeaderKey("nFirstEpisodeInRun"),   HeaderKey("fTriggerThreshold"),
    HeaderKey("nTriggerSource"),         HeaderKey("nTriggerAction"),       HeaderKey("nTriggerPolarity"),
    HeaderKey("fScopeOutputInterval"),   HeaderKey("fEpisodeStartToStart"), HeaderKey("fRunStartToStart"),
    HeaderKey("fTrialStartToStart"),     HeaderKey("lAverageCount"),        HeaderKey("nAutoTriggerStrategy"),
    HeaderKey("fFirstRunDelayS"),
};
inline constexpr HeaderBlockKey kHeaderBlock4[] = {
    HeaderKey("nDataDisplayMode"),  HeaderKey("nChannelStatsStrategy"),   HeaderKey("lSamplesPerTrace"),
    HeaderKey("lStartDisplayNum"),  HeaderKey("lFinishDisplayNum"),       HeaderKey("nShowPNRawData"),
    HeaderKey("fStatisticsPeriod"), HeaderKey("lStatisticsMeasurements"), HeaderKey("nStatisticsSaveStrategy"),
};
inline constexpr HeaderBlockKey kHeaderBlock5[] = {
    HeaderKey("fADCRange"),
    HeaderKey("fDACRange"),
    HeaderKey("lADCResolution"),
    HeaderKey("lDACResolution"),
    HeaderKey("nDigitizerADCs"),
    HeaderKey("nDigitizerDACs"),
    HeaderKey("nDigitizerTotalDigitalOuts"),
    HeaderKey("nDigitizerSynchDigitalOuts"),
    HeaderKey("nDigitizerType"),
};
inline constexpr HeaderBlockKey kHeaderBlock6[] = {
    HeaderKey("nExperimentType"), HeaderKey("nManualInfoStrategy"), HeaderKey("fCellID1"), HeaderKey("fCellID2"),
    HeaderKey("fCellID3"),
};
inline constexpr HeaderBlockKey kHeaderBlock7[] = {
    HeaderKey("nCommentsEnable"),
};
inline constexpr HeaderBlockKey kHeaderBlock8[] = {
    HeaderKey("nSignalType"),
};
inline constexpr HeaderBlockKey kHeaderBlock9[] = {
    HeaderKey("nStatsEnable"),      HeaderKey("nStatsActiveChannels"),  HeaderKey("nStatsSearchRegionFlags"),
    HeaderKey("nStatsSmoothing"),   HeaderKey("nStatsSmoothingEnable"), HeaderKey("nStatsBaseline"),
    HeaderKey("nStatsBaselineDAC"), HeaderKey("lStatsBaselineStart"),   HeaderKey("lStatsBaselineEnd"),
};
inline constexpr HeaderBlockKey kHeaderBlock10[] = {
    HeaderKey("nArithmeticEnable"),  HeaderKey("nArithmeticExpression"), HeaderKey("fArithmeticLowerLimit"),
    HeaderKey("nArithmeticADCNumA"), HeaderKey("nArithmeticADCNumB"),    HeaderKey("fArithmeticK1"),
    HeaderKey("fArithmeticK2"),      HeaderKey("fArithmeticK3"),         HeaderKey("fArithmeticK4"),
    HeaderKey("fArithmeticK5"),
};
inline constexpr HeaderBlockKey kHeaderBlock11[] = {
    HeaderKey("nPNPosition"),     HeaderKey("nPNNumPulses"),  HeaderKey("nPNPolarity"),
    HeaderKey("fPNSettlingTime"), HeaderKey("fPNInterpulse"),
};
inline constexpr HeaderBlockKey kHeaderBlock12[] = {
    HeaderKey("nLevelHysteresis"),         HeaderKey("lTimeHysteresis"),
    HeaderKey("nAllowExternalTags"),       HeaderKey("nAverageAlgorithm"),
    HeaderKey("fAverageWeighting"),        HeaderKey("nUndoPromptStrategy"),
    HeaderKey("nTrialTriggerSource"),      HeaderKey("nStatisticsDisplayStrategy"),
    HeaderKey("nExternalTagType"),         HeaderKey("lHeaderSize"),
    HeaderKey("nStatisticsClearStrategy"),
};
inline constexpr HeaderBlockKey kHeaderBlock13[] = {
    HeaderKey("nCreatorMajorVersion"),   HeaderKey("nCreatorMinorVersion"),  HeaderKey("nCreatorBugfixVersion"),
    HeaderKey("nCreatorBuildVersion"),   HeaderKey("nModifierMajorVersion"), HeaderKey("nModifierMinorVersion"),
    HeaderKey("nModifierBugfixVersion"), HeaderKey("nModifierBuildVersion"),
};
inline constexpr HeaderBlockKey kHeaderBlock14[] = {
    HeaderKey("nLTPType"),
};
inline constexpr HeaderBlockKey kHeaderBlock15[] = {
    HeaderKey("nScopeTriggerOut"),
};
inline constexpr HeaderBlockKey kHeaderBlock16[] = {
    HeaderKey("nAlternateDACOutputState"),
};
inline constexpr HeaderBlockKey kHeaderBlock17[] = {
    HeaderKey("nAlternateDigitalOutputState"),
};
inline constexpr HeaderBlockKey kHeaderBlock18[] = {
    HeaderKey("fLegacyADCSequenceInterval"),
    HeaderKey("fLegacyADCSecondSequenceInterval"),
    HeaderKey("lLegacyClockChange"),
    HeaderKey("lLegacyNumSamplesPerEpisode"),
};

inline constexpr HeaderItem kHeaderCatalogue[kHeaderItemCount] = {
    HeaderBlock(kHeaderBlock1),                            // 1
    HeaderBlock(kHeaderBlock2),                            // 2
    HeaderBlock(kHeaderBlock3),                            // 3
    HeaderBlock(kHeaderBlock4),                            // 4
    HeaderBlock(kHeaderBlock5),                            // 5
    HeaderBlock(kHeaderBlock6),                            // 6
    HeaderTextField("sProtocolPath", 256),                 // 7
    HeaderTextField("sCreatorInfo", 16),                   // 8
    HeaderTextField("sModifierInfo", 16),                  // 9
    HeaderBlock(kHeaderBlock7),                            // 10
    HeaderTextField("sFileComment", 128),                  // 11
    HeaderShortList("nTelegraphEnable", 16),               // 12
    HeaderShortList("nTelegraphInstrument", 16),           // 13
    HeaderFloatList("fTelegraphAdditGain", 16),            // 14
    HeaderFloatList("fTelegraphFilter", 16),               // 15
    HeaderFloatList("fTelegraphMembraneCap", 16),          // 16
    HeaderFloatList("fTelegraphAccessResistance", 16),     // 17
    HeaderShortList("nTelegraphMode", 16),                 // 18
    HeaderShortList("nTelegraphDACScaleFactorEnable", 8),  // 19
    HeaderBlock(kHeaderBlock8),                            // 20
    HeaderShortList("nADCPtoLChannelMap", 16),             // 21
    HeaderShortList("nADCSamplingSeq", 16),                // 22
    HeaderFloatList("fADCProgrammableGain", 16),           // 23
    HeaderFloatList("fADCDisplayAmplification", 16),       // 24
    HeaderFloatList("fADCDisplayOffset", 16),              // 25
    HeaderFloatList("fInstrumentScaleFactor", 16),         // 26
    HeaderFloatList("fInstrumentOffset", 16),              // 27
    HeaderFloatList("fSignalGain", 16),                    // 28
    HeaderFloatList("fSignalOffset", 16),                  // 29
    HeaderFloatList("fSignalLowpassFilter", 16),           // 30
    HeaderFloatList("fSignalHighpassFilter", 16),          // 31
    HeaderByteList("nLowpassFilterType"),                  // 32
    HeaderByteList("nHighpassFilterType"),                 // 33
    HeaderTextList("sADCChannelName", 16, 10),             // 34
    HeaderTextList("sADCUnits", 16, 8),                    // 35
    HeaderFloatList("fDACScaleFactor", 8),                 // 36
    HeaderFloatList("fDACHoldingLevel", 8),                // 37
    HeaderFloatList("fDACCalibrationFactor", 8),           // 38
    HeaderFloatList("fDACCalibrationOffset", 8),           // 39
    HeaderTextList("sDACChannelName", 8, 10),              // 40
    HeaderTextList("sDACChannelUnits", 8, 8),              // 41
    HeaderFloatList("fDACFileScale", 8),                   // 42
    HeaderFloatList("fDACFileOffset", 8),                  // 43
    HeaderLongList("lDACFileEpisodeNum"),                  // 44
    HeaderShortList("nDACFileADCNum", 8),                  // 45
    HeaderTextList("sDACFilePath", 8, 256),                // 46
    HeaderShortList("nConditEnable", 8),                   // 47
    HeaderLongList("lConditNumPulses"),                    // 48
    HeaderFloatList("fBaselineDuration", 8),               // 49
    HeaderFloatList("fBaselineLevel", 8),                  // 50
    HeaderFloatList("fStepDuration", 8),                   // 51
    HeaderFloatList("fStepLevel", 8),                      // 52
    HeaderFloatList("fPostTrainPeriod", 8),                // 53
    HeaderFloatList("fPostTrainLevel", 8),                 // 54
    HeaderShortList("nMembTestEnable", 8),                 // 55
    HeaderFloatList("fMembTestPreSettlingTimeMS", 8),      // 56
    HeaderFloatList("fMembTestPostSettlingTimeMS", 8),     // 57
    HeaderShortList("nULEnable", 8),                       // 58
    HeaderShortList("nULParamToVary", 8),                  // 59
    HeaderShortList("nULRepeat", 8),                       // 60
    HeaderBlock(kHeaderBlock9),                            // 61
    HeaderLongList("lStatsMeasurements"),                  // 62
    HeaderLongList("lStatsStart"),                         // 63
    HeaderLongList("lStatsEnd"),                           // 64
    HeaderShortList("nRiseBottomPercentile", 8),           // 65
    HeaderShortList("nRiseTopPercentile", 8),              // 66
    HeaderShortList("nDecayBottomPercentile", 8),          // 67
    HeaderShortList("nDecayTopPercentile", 8),             // 68
    HeaderShortList("nStatsChannelPolarity", 16),          // 69
    HeaderShortList("nStatsSearchMode", 8),                // 70
    HeaderShortList("nStatsSearchDAC", 8),                 // 71
    HeaderBlock(kHeaderBlock10),                           // 72
    HeaderTextField("sArithmeticOperator", 2),             // 73
    HeaderTextField("sArithmeticUnits", 8),                // 74
    HeaderBlock(kHeaderBlock11),                           // 75
    HeaderShortList("nLeakSubtractType", 8),               // 76
    HeaderFloatList("fPNHoldingLevel", 8),                 // 77
    HeaderBlock(kHeaderBlock12),                           // 78
    HeaderBlock(kHeaderBlock13),                           // 79
    HeaderBlock(kHeaderBlock14),                           // 80
    HeaderShortList("nLTPUsageOfDAC", 8),                  // 81
    HeaderShortList("nLTPPresynapticPulses", 8),           // 82
    HeaderBlock(kHeaderBlock15),                           // 83
    HeaderBlock(kHeaderBlock16),                           // 84
    HeaderBlock(kHeaderBlock17),                           // 85
    HeaderShortList("nAlternateDigitalValue", 10),         // 86
    HeaderShortList("nAlternateDigitalTrainValue", 10),    // 87
    HeaderFloatList("fPostProcessLowpassFilter", 16),      // 88
    HeaderByteList("nPostProcessLowpassFilterType"),       // 89
    HeaderBlock(kHeaderBlock18),                           // 90
};
