// Reads the samples of a WAV file, block by block, through the multimedia file functions.
#pragma once

#include "UniqueMmio.h"

#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>

#include <cstdint>
#include <string>
#include <vector>

class CWaveReader {
public:
    // S_OK, or E_FAIL for a file that cannot be opened or is not a WAVE file with a format and a
    // data chunk. The format is readable after a successful open.
    HRESULT Open(const std::wstring& path);
    void Close();
    bool IsOpen() const { return static_cast<bool>(file_); }

    // Copies up to count bytes of samples; bytesRead below count marks the end of the data.
    HRESULT Read(DWORD count, void* destination, DWORD& bytesRead);
    // Pulls frames of the file's format (channels x bits / 8 bytes each). What the data no longer
    // holds is left silent; returns the bytes that came from the file.
    DWORD ReadFrames(DWORD frames, void* destination);
    // Back to the first sample.
    HRESULT Rewind();

    const WAVEFORMATEX& Format() const { return format_; }
    // The bytes after the extra size (cbSize of them) for a format other than PCM.
    const std::vector<uint8_t>& FormatExtra() const { return extra_; }
    // The bytes of a frame as the test engine moves them, whatever the stored block align says.
    DWORD FrameBytes() const { return DWORD(format_.nChannels) * (format_.wBitsPerSample / 8); }
    // Bytes of samples the file really holds.
    DWORD DataSize() const { return dataSize_; }
    // Samples are IEEE floats: the float tag, or the extensible tag with the float subformat.
    bool IsFloat() const;

private:
    UniqueMmio file_;
    WAVEFORMATEX format_{};
    std::vector<uint8_t> extra_;
    MMCKINFO riff_{};
    // Its size counts the data bytes not yet read.
    MMCKINFO data_{};
    DWORD fileSize_ = 0;
    DWORD searchEnd_ = 0;
    DWORD dataSize_ = 0;
};
