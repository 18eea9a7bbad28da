#include "WaveReader.h"

#include "RiffChunks.h"

#include <algorithm>
#include <cstring>

namespace {

uint16_t Word(const uint8_t* bytes) { return uint16_t(bytes[0] | bytes[1] << 8); }
uint32_t Dword(const uint8_t* bytes) { return uint32_t(Word(bytes)) | uint32_t(Word(bytes + 2)) << 16; }

bool ReadExactly(HMMIO file, void* destination, LONG count)
{
    return count == 0 || mmioRead(file, static_cast<HPSTR>(destination), count) == count;
}

}  // namespace

HRESULT CWaveReader::Open(const std::wstring& path)
{
    Close();
    std::wstring name = path;  // the library wants a writable name
    UniqueMmio file(mmioOpenW(name.data(), nullptr, MMIO_READ | MMIO_ALLOCBUF));
    if (!file) return E_FAIL;
    const LONG fileSize = MmioFileSize(file.get());
    if (fileSize < 12) return E_FAIL;

    MMCKINFO riff{};
    if (mmioDescend(file.get(), &riff, nullptr, 0) != MMSYSERR_NOERROR || riff.ckid != FOURCC_RIFF ||
        riff.fccType != kFourccWave)
        return E_FAIL;
    const DWORD searchEnd = RiffSearchEnd(riff, DWORD(fileSize));

    MMCKINFO fmt{};
    if (!FindRiffChunk(file.get(), kFourccFmt, riff.dwDataOffset + 4, searchEnd, fmt) || fmt.cksize < 16)
        return E_FAIL;
    uint8_t head[16];
    if (!ReadExactly(file.get(), head, sizeof(head))) return E_FAIL;
    WAVEFORMATEX format{};
    format.wFormatTag = Word(head);
    format.nChannels = Word(head + 2);
    format.nSamplesPerSec = Dword(head + 4);
    format.nAvgBytesPerSec = Dword(head + 8);
    format.nBlockAlign = Word(head + 12);
    format.wBitsPerSample = Word(head + 14);

    std::vector<uint8_t> extra;
    // A 16-byte format of another tag (common for float files) simply has no extra bytes.
    if (format.wFormatTag != WAVE_FORMAT_PCM && fmt.cksize >= 18) {
        uint8_t sizeBytes[2];
        if (!ReadExactly(file.get(), sizeBytes, 2)) return E_FAIL;
        format.cbSize = Word(sizeBytes);
        // Extra bytes beyond the chunk would be taken from whatever follows it.
        if (18u + format.cbSize > fmt.cksize) return E_FAIL;
        extra.resize(format.cbSize);
        if (!ReadExactly(file.get(), extra.data(), LONG(extra.size()))) return E_FAIL;
    }
    if (mmioAscend(file.get(), &fmt, 0) != MMSYSERR_NOERROR) return E_FAIL;

    file_ = std::move(file);
    format_ = format;
    extra_ = std::move(extra);
    riff_ = riff;
    fileSize_ = DWORD(fileSize);
    searchEnd_ = searchEnd;
    if (FAILED(Rewind())) {
        Close();
        return E_FAIL;
    }
    return S_OK;
}

void CWaveReader::Close()
{
    file_.Reset();
    format_ = WAVEFORMATEX{};
    extra_.clear();
    riff_ = data_ = MMCKINFO{};
    fileSize_ = searchEnd_ = dataSize_ = 0;
}

HRESULT CWaveReader::Rewind()
{
    if (!file_) return E_FAIL;
    MMCKINFO data{};
    if (!FindRiffChunk(file_.get(), kFourccData, riff_.dwDataOffset + 4, searchEnd_, data)) return E_FAIL;
    // The header lies inside the file, so what follows it is what the file holds.
    const DWORD held = fileSize_ - data.dwDataOffset;
    dataSize_ = std::min(data.cksize, held);
    data.cksize = dataSize_;
    data_ = data;
    return S_OK;
}

HRESULT CWaveReader::Read(DWORD count, void* destination, DWORD& bytesRead)
{
    bytesRead = 0;
    if (!file_ || (count && !destination)) return E_FAIL;
    MMIOINFO io{};
    if (mmioGetInfo(file_.get(), &io, 0) != MMSYSERR_NOERROR) return E_FAIL;
    count = std::min(count, data_.cksize);
    data_.cksize -= count;

    auto* out = static_cast<uint8_t*>(destination);
    HRESULT result = S_OK;
    while (bytesRead < count) {
        if (io.pchNext == io.pchEndRead) {
            if (mmioAdvance(file_.get(), &io, MMIO_READ) != MMSYSERR_NOERROR || io.pchNext == io.pchEndRead) {
                result = E_FAIL;
                break;
            }
        }
        const DWORD run = std::min<DWORD>(count - bytesRead, DWORD(io.pchEndRead - io.pchNext));
        std::memcpy(out + bytesRead, io.pchNext, run);
        io.pchNext += run;
        bytesRead += run;
    }
    if (mmioSetInfo(file_.get(), &io, 0) != MMSYSERR_NOERROR) result = E_FAIL;
    return result;
}

DWORD CWaveReader::ReadFrames(DWORD frames, void* destination)
{
    const uint64_t wanted64 = uint64_t(frames) * FrameBytes();
    const DWORD wanted = wanted64 > MAXDWORD ? MAXDWORD : DWORD(wanted64);
    DWORD got = 0;
    Read(wanted, destination, got);
    if (destination) std::memset(static_cast<uint8_t*>(destination) + got, 0, wanted - got);
    return got;
}

bool CWaveReader::IsFloat() const
{
    if (format_.wFormatTag == WAVE_FORMAT_IEEE_FLOAT) return true;
    // The extensible extra bytes: valid bits (2), channel mask (4), then the subformat GUID,
    // {00000003-0000-0010-8000-00AA00389B71} for floats.
    static constexpr uint8_t kFloatSubformat[16] = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                                    0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    return format_.wFormatTag == WAVE_FORMAT_EXTENSIBLE && extra_.size() >= 22 &&
           std::memcmp(extra_.data() + 6, kFloatSubformat, sizeof(kFloatSubformat)) == 0;
}
