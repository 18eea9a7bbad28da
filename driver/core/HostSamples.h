// Conversions between the devices' 16-bit samples and the host's buffer formats: 16-bit, 24-bit
// packed in three bytes, and 32-bit (the sample in the upper 16 bits).
#pragma once

#include <cstdint>

// Writes count device samples into a host buffer.
void WriteHostSamples(int sampleType, const int16_t* samples, int count, void* host);
// Reads count host samples into every stride-th device sample (stride 2 interleaves a channel).
void ReadHostSamples(int sampleType, const void* host, int count, int16_t* samples, int stride);
// Adds the input buffer into the output buffer in place (direct monitoring), clamped to ±32765.
void MixHostSamples(int sampleType, const void* input, void* output, int count);
