#include "RiffChunks.h"

#include <cstdint>
#include <cstring>

LONG MmioFileSize(HMMIO file)
{
    const LONG here = mmioSeek(file, 0, SEEK_CUR);
    if (here < 0) return -1;
    const LONG size = mmioSeek(file, 0, SEEK_END);
    if (mmioSeek(file, here, SEEK_SET) != here) return -1;
    return size;
}

DWORD RiffSearchEnd(const MMCKINFO& riff, DWORD fileSize)
{
    const uint64_t end = uint64_t(riff.dwDataOffset) + riff.cksize;
    return riff.cksize < 4 || end > fileSize ? fileSize : DWORD(end);
}

bool FindRiffChunk(HMMIO file, FOURCC id, DWORD from, DWORD end, MMCKINFO& chunk)
{
    uint64_t position = from;
    while (position + 8 <= end) {
        if (mmioSeek(file, LONG(position), SEEK_SET) != LONG(position)) return false;
        uint8_t header[8];
        if (mmioRead(file, reinterpret_cast<HPSTR>(header), sizeof(header)) != LONG(sizeof(header))) return false;
        FOURCC found;
        DWORD size;
        std::memcpy(&found, header, 4);
        std::memcpy(&size, header + 4, 4);
        if (found == id) {
            chunk = MMCKINFO{};
            chunk.ckid = found;
            chunk.cksize = size;
            chunk.dwDataOffset = DWORD(position + 8);
            return true;
        }
        // Chunks are word aligned: an odd size is followed by a pad byte.
        position += 8 + ((uint64_t(size) + 1) & ~uint64_t(1));
    }
    return false;
}
