#pragma rtGlobals=3		// Use modern global access method and strict wave access.

// kav_Sorvan Examples.ipf: procedures that load ABF recordings with the kav_Sorvan
// extension. Copy the ones you need into your experiment's procedure window, or put
// this file into the "Igor Procedures" folder to have them always. They need Igor
// Pro 6.2 or later; "kav_Sorvan Guide.html" describes every kav_Abf function.
//
// File names are full Windows paths ("C:\\data\\cell1.abf" in a string literal).
// Channels are positions in the file's sampling sequence (0 is the first channel
// sampled); sweeps count from 1.

Menu "Load Waves"
	"Load ABF recording...", KavLoadABFFiles()
End

// Checks the outcome of a kav_Abf function; wrap it around the call, in the same
// statement:
//     if (!KavCheck(kav_AbfChannelCount(fileName, n), "kav_AbfChannelCount"))
// A call that is refused (a wave of the wrong length, an invalid channel...) returns
// a non-zero status, which Igor treats as an error that stops the procedure:
// KavCheck prints its message and clears it. A result of 0 means that the ABF
// library failed: KavCheck prints the library's message. Returns 1 when the call
// did its work, 0 otherwise.
Function KavCheck(result, what)
	Variable result
	String what

	// Take the message and clear the error at once, before Igor reports it.
	String msg = GetRTErrMessage(); Variable status = GetRTError(1)
	if (status != 0)
		Print what + " refused (status " + num2istr(status) + "): " + msg
		return 0
	endif
	if (result == 0)
		Print what + " failed: " + kav_AbfLastErrStr()
		return 0
	endif
	return 1
End

// The same for the kav_Abf functions that return a string: returns the string, or ""
// when the call was refused.
Function/S KavCheckStr(result, what)
	String result
	String what

	String msg = GetRTErrMessage(); Variable status = GetRTError(1)
	if (status != 0)
		Print what + " refused (status " + num2istr(status) + "): " + msg
		return ""
	endif
	return result
End

// Whether `channel` is one of the file's channels. The extension itself refuses
// positions outside 0 to 15 (status 10008), but not one beyond the file's channels,
// which would read whatever input the unused entry of the sampling sequence names.
Function KavHasChannel(fileName, channel)
	String fileName
	Variable channel

	Variable channels
	if (!KavCheck(kav_AbfChannelCount(fileName, channels), "kav_AbfChannelCount"))
		return 0
	endif
	if (channel >= channels)
		Print fileName + " has " + num2istr(channels) + " channel(s), numbered from 0: there is no channel " + num2istr(channel)
		return 0
	endif
	return 1
End

// Loads one channel of a gap-free recording into a new single-precision wave named
// destName: X in seconds from the start of the recording, the channel's units, and a
// note that describes the file (read it with NumberByKey and StringByKey). Returns
// the number of points loaded, 0 on failure.
Function KavLoadGapFree(fileName, channel, destName)
	String fileName
	Variable channel
	String destName

	Variable mode, points
	if (!KavHasChannel(fileName, channel))
		return 0
	endif
	if (!KavCheck(kav_AbfOperationMode(fileName, mode), "kav_AbfOperationMode"))
		return 0
	endif
	if (mode != 3)
		Print fileName + " is not a gap-free recording: load it sweep by sweep (KavLoadSweeps)"
		return 0
	endif
	if (!KavCheck(kav_AbfTotalSampleCount(fileName, points), "kav_AbfTotalSampleCount"))
		return 0
	endif
	Make/O/N=(points) $destName
	Wave w = $destName
	if (!KavCheck(kav_AbfChannelRead(fileName, channel, w), "kav_AbfChannelRead"))
		return 0
	endif
	return points
End

// Loads every sweep of one channel into its own wave: baseName_1, baseName_2, ...
// Each wave's X runs from 0 at the start of its sweep; the sweep's start in the
// recording is the note's dStartTime, in milliseconds. Works in every acquisition
// mode, also when the sweeps differ in length. Returns the number of sweeps loaded.
Function KavLoadSweeps(fileName, channel, baseName)
	String fileName
	Variable channel
	String baseName

	Variable sweeps, sweep, points
	String name
	if (!KavHasChannel(fileName, channel))
		return 0
	endif
	if (!KavCheck(kav_AbfEpisodeCount(fileName, sweeps), "kav_AbfEpisodeCount"))
		return 0
	endif
	for (sweep = 1; sweep <= sweeps; sweep += 1)
		if (!KavCheck(kav_AbfSampleCount(fileName, sweep, points), "kav_AbfSampleCount"))
			return sweep - 1
		endif
		name = baseName + "_" + num2istr(sweep)
		Make/O/N=(points) $name
		Wave w = $name
		if (!KavCheck(kav_AbfEpisodeRead(fileName, channel, sweep, w), "kav_AbfEpisodeRead"))
			return sweep - 1
		endif
	endfor
	return sweeps
End

// Loads every sweep of one channel into one matrix named destName, one column per
// sweep, with the sweeps' X scaling (seconds from the start of each sweep) and
// units. The sweeps must all have the same length, as in episodic recordings.
// Returns the number of sweeps, 0 on failure.
Function KavLoadSweepMatrix(fileName, channel, destName)
	String fileName
	Variable channel
	String destName

	Variable sweeps, sweep, points, rows
	if (!KavHasChannel(fileName, channel))
		return 0
	endif
	if (!KavCheck(kav_AbfEpisodeCount(fileName, sweeps), "kav_AbfEpisodeCount"))
		return 0
	endif
	for (sweep = 1; sweep <= sweeps; sweep += 1)
		if (!KavCheck(kav_AbfSampleCount(fileName, sweep, points), "kav_AbfSampleCount"))
			return 0
		endif
		if (sweep == 1)
			rows = points
		elseif (points != rows)
			Print fileName + ": the sweeps differ in length; load them one by one (KavLoadSweeps)"
			return 0
		endif
	endfor
	if (sweeps == 0)
		return 0
	endif
	Make/O/N=(rows, sweeps) $destName
	Wave matrix = $destName
	Make/FREE/N=(rows) column
	for (sweep = 1; sweep <= sweeps; sweep += 1)
		if (!KavCheck(kav_AbfEpisodeRead(fileName, channel, sweep, column), "kav_AbfEpisodeRead"))
			return 0
		endif
		matrix[][sweep - 1] = column[p]
	endfor
	SetScale/P x 0, DimDelta(column, 0), "s", matrix
	SetScale d 0, 0, WaveUnits(column, -1), matrix
	return sweeps
End

// Loads the stimulus (command) waveform of every sweep into its own wave:
// baseName_1, baseName_2, ... It is the waveform of the output whose number is the
// physical input of `channel` (channel 0 sampling input 0 gives output 0). Returns
// the number of sweeps loaded, 0 when the protocol defines no waveform there.
Function KavLoadStimulus(fileName, channel, baseName)
	String fileName
	Variable channel
	String baseName

	Variable sweeps, sweep, points
	String name
	if (!KavHasChannel(fileName, channel))
		return 0
	endif
	if (!KavCheck(kav_AbfEpisodeCount(fileName, sweeps), "kav_AbfEpisodeCount"))
		return 0
	endif
	for (sweep = 1; sweep <= sweeps; sweep += 1)
		if (!KavCheck(kav_AbfSampleCount(fileName, sweep, points), "kav_AbfSampleCount"))
			return sweep - 1
		endif
		name = baseName + "_" + num2istr(sweep)
		Make/O/N=(points) $name
		Wave w = $name
		SetScale/P x 0, 1, "", w
		if (!KavCheck(kav_AbfEpisodeWaveform(fileName, channel, sweep, w), "kav_AbfEpisodeWaveform"))
			return sweep - 1
		endif
		// A waveform the library cannot compute does not always show in the result;
		// the X units are set only when the waveform was delivered.
		if (cmpstr(WaveUnits(w, 0), "s") != 0)
			Print fileName + ": no stimulus waveform: " + kav_AbfLastErrStr()
			return sweep - 1
		endif
	endfor
	return sweeps
End

// Loads the times of the file's time tags, in seconds from the start of the
// recording, into a double-precision wave named destName. Returns the number of
// tags (possibly 0), or -1 on failure.
Function KavLoadTimeTags(fileName, destName)
	String fileName
	String destName

	Make/O/D/N=0 $destName
	Wave tags = $destName
	if (!KavCheck(kav_AbfReadTimeTags(fileName, tags), "kav_AbfReadTimeTags"))
		return -1
	endif
	return numpnts(tags)
End

// One number from the file header, by its key (the header field's name, as
// kav_AbfPrintMetaData lists them); NaN when the key is missing or the file cannot
// be read. KavHeaderNumber(fileName, "fADCSequenceInterval") is the sampling
// interval in microseconds.
Function KavHeaderNumber(fileName, key)
	String fileName
	String key

	String header = ""
	if (!KavCheck(kav_AbfMetaData(fileName, header), "kav_AbfMetaData"))
		return NaN
	endif
	return NumberByKey(key, header, "=", ";")
End

// The same for text values and lists: KavHeaderString(fileName, "sCreatorInfo"), or
// KavHeaderString(fileName, "sADCUnits"), the units of each input separated by
// commas. "" when the key is missing or the file cannot be read.
Function/S KavHeaderString(fileName, key)
	String fileName
	String key

	String header = ""
	if (!KavCheck(kav_AbfMetaData(fileName, header), "kav_AbfMetaData"))
		return ""
	endif
	return StringByKey(key, header, "=", ";")
End

// Prints a line about a recording, taken from its header string. Returns the
// number of channels, 0 when the file cannot be read.
Function KavPrintSummary(fileName)
	String fileName

	String header = ""
	if (!KavCheck(kav_AbfMetaData(fileName, header), "kav_AbfMetaData"))
		return 0
	endif
	Variable mode = NumberByKey("nOperationMode", header, "=", ";")
	Variable channels = NumberByKey("nADCNumChannels", header, "=", ";")
	Variable interval = NumberByKey("fADCSequenceInterval", header, "=", ";")
	Variable day = NumberByKey("uFileStartDate", header, "=", ";")
	String creator = StringByKey("sCreatorInfo", header, "=", ";")
	String units = StringByKey("sADCUnits", header, "=", ";")
	Printf "%s: mode %d, %d channel(s), first in %s, %g kHz, recorded on %d by %s\r", fileName, mode, channels, StringFromList(0, units, ","), 1000 / interval, day, creator
	return channels
End

// Loads a whole recording into the current data folder, under the file's name made
// into a wave name (NAME): a gap-free recording as one wave per channel (NAME_ch0,
// NAME_ch1, ...) and its time tags (NAME_tags); any other as one matrix per channel
// (NAME_ch0, ...; one column per sweep), or one wave per sweep when the sweeps differ
// in length, and in episodic recordings the stimulus of output 0 (NAME_stim_1, ...).
// Returns 1 when every channel was loaded.
Function KavLoadRecording(fileName)
	String fileName

	String drive = "", dir = "", name = "", ext = ""
	String base, dest
	Variable mode, channels, channel
	if (!KavCheck(kav_AbfFileSplitPath(fileName, drive, dir, name, ext), "kav_AbfFileSplitPath"))
		return 0
	endif
	base = CleanupName(name, 0)
	if (!KavCheck(kav_AbfOperationMode(fileName, mode), "kav_AbfOperationMode"))
		return 0
	endif
	if (!KavCheck(kav_AbfChannelCount(fileName, channels), "kav_AbfChannelCount"))
		return 0
	endif
	for (channel = 0; channel < channels; channel += 1)
		dest = CleanupName(base + "_ch" + num2istr(channel), 0)
		if (mode == 3)
			if (KavLoadGapFree(fileName, channel, dest) == 0)
				return 0
			endif
		elseif (KavLoadSweepMatrix(fileName, channel, dest) == 0)
			if (KavLoadSweeps(fileName, channel, dest) == 0)
				return 0
			endif
		endif
	endfor
	if (mode == 3)
		KavLoadTimeTags(fileName, CleanupName(base + "_tags", 0))
	elseif (mode == 5)
		KavLoadStimulus(fileName, 0, CleanupName(base + "_stim", 0))
	endif
	Printf "%s: %d channel(s) loaded as %s_ch0...\r", fileName, channels, base
	return 1
End

// Asks for one or several ABF files and loads each with KavLoadRecording. Returns
// the number of files loaded. The menu item Data > Load Waves > "Load ABF
// recording..." calls it.
Function KavLoadABFFiles()
	String paths = KavCheckStr(kav_AbfFileOpenDialog("Load ABF recording", "", 257), "kav_AbfFileOpenDialog")
	Variable i, files = ItemsInList(paths, "|"), loaded = 0
	for (i = 0; i < files; i += 1)
		loaded += KavLoadRecording(StringFromList(i, paths, "|"))
	endfor
	return loaded
End
