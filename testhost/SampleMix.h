// Sample work on the driver's buffers: 2-byte, packed 3-byte and 4-byte little-endian integers.
// Mixing happens on the upper 16 bits of each sample.
#pragma once

#include <asio/Asio.h>

// Adds count samples of src into dst, clamping each sum to -32765..32765 on the 16 upper bits.
void MixInto(long count, void* dst, const void* src, ASIOSampleType type);

// Converts count PCM samples of sourceBits (16, 24 or 32), taken every stride-th sample of
// source, into driver samples of type: the source's most significant bits are kept.
void ConvertToHost(long count, const void* source, int sourceBits, int stride, void* dst, ASIOSampleType type);

// Frames of (left, right) from two blocks of sampleBytes-byte samples.
void InterleaveStereo(long count, const void* left, const void* right, void* dst, int sampleBytes);

// The largest absolute sample on the 16-bit scale (0 .. 32768).
int PeakOf(long count, const void* samples, ASIOSampleType type);
