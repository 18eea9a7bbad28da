// Chunk lookup inside RIFF files opened through the multimedia file functions.
#pragma once

#include <windows.h>
#include <mmsystem.h>

constexpr FOURCC kFourccWave = mmioFOURCC('W', 'A', 'V', 'E');
constexpr FOURCC kFourccFmt = mmioFOURCC('f', 'm', 't', ' ');
constexpr FOURCC kFourccData = mmioFOURCC('d', 'a', 't', 'a');

// Size of the open file; the position is left where it was. -1 when it cannot be told.
LONG MmioFileSize(HMMIO file);

// Where the search among the RIFF chunk's children must stop: its end, or the file's end when the
// stored size is too small to hold the form type (a recording that was never finished) or runs
// past the file (a truncated one).
DWORD RiffSearchEnd(const MMCKINFO& riff, DWORD fileSize);

// Finds the first chunk `id` among the sibling chunks starting at `from`, every header lying
// before `end`. On success the file stands at the chunk's data.
// Walked by hand because the library's own search trusts every stored size: a corrupt one can send
// it back to an earlier chunk for ever.
bool FindRiffChunk(HMMIO file, FOURCC id, DWORD from, DWORD end, MMCKINFO& chunk);
