// The readers that fill host waves: one channel of a gap-free recording, one
// episode of a channel, the stimulus waveform of an episode, and the times of the
// time tags or external tags.
#pragma once

int kav_AbfChannelRead(void* params);       // (file name, channel, wave) -> 1/0
int kav_AbfEpisodeRead(void* params);       // (file name, channel, episode, wave) -> 1/0
int kav_AbfEpisodeWaveform(void* params);   // (file name, channel, episode, wave) -> 1/0
int kav_AbfReadTimeTags(void* params);      // (file name, wave) -> 1/0
int kav_AbfReadExternalTags(void* params);  // (file name, wave) -> 1/0
