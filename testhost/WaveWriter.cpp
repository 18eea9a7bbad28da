#include "WaveWriter.h"

#include "RiffChunks.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Read-write through the library's buffer, created or truncated; 0x70 fills the whole sharing field.
constexpr DWORD kCreateFlags = MMIO_ALLOCBUF | MMIO_CREATE | MMIO_READWRITE | 0x70;
static_assert(kCreateFlags == 0x11072);

void PutWord(uint8_t* at, uint16_t value)
{
    at[0] = uint8_t(value);
    at[1] = uint8_t(value >> 8);
}

void PutDword(uint8_t* at, uint32_t value)
{
    PutWord(at, uint16_t(value));
    PutWord(at + 2, uint16_t(value >> 16));
}

}  // namespace

WAVEFORMATEX PcmFormat(WORD channels, DWORD samplesPerSecond, WORD bitsPerSample)
{
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = channels;
    format.nSamplesPerSec = samplesPerSecond;
    format.wBitsPerSample = bitsPerSample;
    format.nBlockAlign = WORD(channels * bitsPerSample / 8);
    format.nAvgBytesPerSec = samplesPerSecond * format.nBlockAlign;
    return format;
}

HRESULT CWaveWriter::Create(const std::wstring& path, const WAVEFORMATEX& format, std::span<const uint8_t> extra)
{
    Finish();
    const bool pcm = format.wFormatTag == WAVE_FORMAT_PCM;
    if (!pcm && extra.size() > 0xFFFF) return E_FAIL;

    std::vector<uint8_t> stored(pcm ? 16 : 18 + extra.size());
    PutWord(&stored[0], format.wFormatTag);
    PutWord(&stored[2], format.nChannels);
    PutDword(&stored[4], format.nSamplesPerSec);
    PutDword(&stored[8], format.nAvgBytesPerSec);
    PutWord(&stored[12], format.nBlockAlign);
    PutWord(&stored[14], format.wBitsPerSample);
    if (!pcm) {
        PutWord(&stored[16], uint16_t(extra.size()));
        std::copy(extra.begin(), extra.end(), stored.begin() + 18);
    }

    std::wstring name = path;  // the library wants a writable name
    UniqueMmio file(mmioOpenW(name.data(), nullptr, kCreateFlags));
    if (!file) return E_FAIL;

    MMCKINFO riff{};
    riff.fccType = kFourccWave;
    if (mmioCreateChunk(file.get(), &riff, MMIO_CREATERIFF) != MMSYSERR_NOERROR) return E_FAIL;
    MMCKINFO fmt{};
    fmt.ckid = kFourccFmt;
    fmt.cksize = DWORD(stored.size());
    if (mmioCreateChunk(file.get(), &fmt, 0) != MMSYSERR_NOERROR ||
        mmioWrite(file.get(), reinterpret_cast<const char*>(stored.data()), LONG(stored.size())) != LONG(stored.size()) ||
        mmioAscend(file.get(), &fmt, 0) != MMSYSERR_NOERROR)
        return E_FAIL;
    MMCKINFO data{};
    data.ckid = kFourccData;
    MMIOINFO io{};
    if (mmioCreateChunk(file.get(), &data, 0) != MMSYSERR_NOERROR || mmioGetInfo(file.get(), &io, 0) != MMSYSERR_NOERROR)
        return E_FAIL;

    file_ = std::move(file);
    riff_ = riff;
    data_ = data;
    io_ = io;
    return S_OK;
}

void CWaveWriter::Append(const void* bytes, DWORD count)
{
    if (!file_ || !bytes) return;
    const auto* in = static_cast<const uint8_t*>(bytes);
    while (count) {
        if (io_.pchNext == io_.pchEndWrite) {
            io_.dwFlags |= MMIO_DIRTY;
            if (mmioAdvance(file_.get(), &io_, MMIO_WRITE) != MMSYSERR_NOERROR || io_.pchNext == io_.pchEndWrite)
                return;
        }
        const DWORD run = std::min<DWORD>(count, DWORD(io_.pchEndWrite - io_.pchNext));
        std::memcpy(io_.pchNext, in, run);
        io_.pchNext += run;
        in += run;
        count -= run;
    }
}

HRESULT CWaveWriter::Finish()
{
    if (!file_) return S_FALSE;
    io_.dwFlags |= MMIO_DIRTY;
    bool written = mmioSetInfo(file_.get(), &io_, 0) == MMSYSERR_NOERROR;
    written = written && mmioAscend(file_.get(), &data_, 0) == MMSYSERR_NOERROR &&
              mmioAscend(file_.get(), &riff_, 0) == MMSYSERR_NOERROR;
    const bool closed = file_.Reset() == MMSYSERR_NOERROR;
    io_ = MMIOINFO{};
    return written && closed ? S_OK : E_FAIL;
}

