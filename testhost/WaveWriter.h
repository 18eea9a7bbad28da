// Writes a recording as a WAV file through the multimedia file functions. Appending only copies
// into the library's I/O buffer, so it can run on the driver's buffer-switch thread.
#pragma once

#include "UniqueMmio.h"

#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>

#include <cstdint>
#include <span>
#include <string>

class CWaveWriter {
public:
    CWaveWriter() = default;
    CWaveWriter(const CWaveWriter&) = delete;
    CWaveWriter& operator=(const CWaveWriter&) = delete;
    // An open file is finished, so its sizes are right even when nobody called Finish.
    ~CWaveWriter() { Finish(); }

    // Creates or truncates the file and writes the header. A PCM format is stored in 16 bytes;
    // any other tag in 18 followed by the extra bytes (their count replaces format.cbSize).
    HRESULT Create(const std::wstring& path, const WAVEFORMATEX& format, std::span<const uint8_t> extra = {});
    // A write error drops the rest of this block; the file stays open.
    void Append(const void* bytes, DWORD count);
    // Writes what is buffered, then the data and RIFF sizes, and closes. S_FALSE when nothing is open.
    HRESULT Finish();
    bool IsOpen() const { return static_cast<bool>(file_); }

private:
    UniqueMmio file_;
    MMCKINFO riff_{};
    MMCKINFO data_{};
    // The library's buffer state, written through directly between Create and Finish.
    MMIOINFO io_{};
};

// The canonical PCM record of a format table row.
WAVEFORMATEX PcmFormat(WORD channels, DWORD samplesPerSecond, WORD bitsPerSample);
