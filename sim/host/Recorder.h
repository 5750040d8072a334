/*
 * The reference host's recorder: collects the blocks that input modules hand on
 * and writes them as CSV, as an IEEE 1364 value change dump and as an SVG timing
 * diagram, with real sample times.
 */
#pragma once

#include <cstddef>

#define RECORDER_MAX_CHANNELS 64u

/* Starts an empty recording. Returns 1, or 0 when out of memory. */
int Recorder_Begin(void);

/* Declares a channel (call before adding samples); returns its index or -1.
   Names are shown in the files as given (8-bit text, code page 932). */
int Recorder_AddChannel(const char* moduleName, const char* channelName);

/* Appends one block of a channel: sampleCount float samples, the first at
   startTime seconds, spaced sampleDistance seconds. Returns 1, or 0 for an
   unknown channel or when memory runs out. */
int Recorder_AddBlock(int channel, double startTime, double sampleDistance, const float* samples,
                      unsigned sampleCount);

unsigned Recorder_ChannelCount(void);
/* Samples recorded on the channel so far, and random access to them. */
size_t Recorder_SampleCount(int channel);
float Recorder_Sample(int channel, size_t index);
double Recorder_SampleTime(int channel, size_t index);

/* Each returns 1 when the file was written, 0 otherwise. CSV: one row per sample
   time, a column per channel (empty where a channel has no sample at that time).
   VCD: one 1-bit wire per channel, 5.0 and above is 1, timescale 1 us. SVG: one
   lane per channel, level drawn over time, with names and a time axis. */
int Recorder_WriteCsv(const char* path);
int Recorder_WriteVcd(const char* path);
int Recorder_WriteSvg(const char* path);

/* Converts code page 932 text to UTF-8 into target (size bytes, terminated).
   Returns 1, or 0 when the text is not valid code page 932, is longer than 511
   characters or does not fit: then target holds the text's ASCII with one '?'
   for every other character. */
int Recorder_ToUtf8(const char* text, char* target, unsigned size);

/* Frees everything recorded. */
void Recorder_End(void);
