// WAV files built and taken apart byte by byte, independently of the multimedia file functions.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline void PutLe(Bytes& out, uint32_t value, int size)
{
    for (int i = 0; i < size; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

inline uint32_t GetLe(const Bytes& in, size_t at)
{
    return uint32_t(in.at(at)) | uint32_t(in.at(at + 1)) << 8 | uint32_t(in.at(at + 2)) << 16 | uint32_t(in.at(at + 3)) << 24;
}

struct Chunk {
    Chunk(std::string chunkId, Bytes chunkBody, std::optional<uint32_t> stored = std::nullopt)
        : id(std::move(chunkId)), body(std::move(chunkBody)), storedSize(stored) {}
    std::string id;
    Bytes body;
    std::optional<uint32_t> storedSize;  // instead of the body's size
};

inline Bytes FmtBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, std::optional<uint16_t> blockAlign = {})
{
    const uint16_t align = blockAlign.value_or(uint16_t(channels * bits / 8));
    Bytes body;
    for (auto [value, size] : {std::pair<uint32_t, int>{tag, 2}, {channels, 2}, {rate, 4}, {rate * align, 4}, {align, 2}, {bits, 2}})
        PutLe(body, value, size);
    return body;
}

// "RIFF", its size, the form type, then the chunks, each padded to an even size.
inline Bytes RiffFile(const std::vector<Chunk>& chunks, const std::string& form = "WAVE", std::optional<uint32_t> riffSize = {})
{
    Bytes contents(form.begin(), form.end());
    for (const Chunk& chunk : chunks) {
        contents.insert(contents.end(), chunk.id.begin(), chunk.id.end());
        PutLe(contents, chunk.storedSize.value_or(uint32_t(chunk.body.size())), 4);
        contents.insert(contents.end(), chunk.body.begin(), chunk.body.end());
        if (chunk.body.size() & 1) contents.push_back(0);
    }
    Bytes file{'R', 'I', 'F', 'F'};
    PutLe(file, riffSize.value_or(uint32_t(contents.size())), 4);
    file.insert(file.end(), contents.begin(), contents.end());
    return file;
}

// The canonical 44-byte layout followed by the samples.
inline Bytes PcmWave(uint16_t channels, uint32_t rate, uint16_t bits, const Bytes& samples)
{
    return RiffFile({{"fmt ", FmtBody(1, channels, rate, bits)}, {"data", samples}});
}

// Bytes in which lost, repeated or reordered bytes show.
inline Bytes CountedBytes(size_t count, int stream = 0)
{
    Bytes bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = uint8_t((uint32_t(i) * 2654435761u + uint32_t(stream) * 40503u) >> 24);
    return bytes;
}

inline Bytes ReadFileBytes(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    Bytes bytes(GetFileSize(file, nullptr));
    DWORD read = 0;
    ReadFile(file, bytes.data(), DWORD(bytes.size()), &read, nullptr);
    CloseHandle(file);
    bytes.resize(read);
    return bytes;
}

// A fresh folder under the temporary directory, removed with the files named through it. Paths
// stay short: the multimedia file functions take names of at most 128 characters.
class ScratchFolder {
public:
    ScratchFolder()
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        static int serial = 0;
        path_ = temp + (L"vat" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++serial));
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~ScratchFolder()
    {
        for (const std::wstring& file : files_) DeleteFileW(file.c_str());
        RemoveDirectoryW(path_.c_str());
    }
    const std::wstring& path() const { return path_; }
    std::wstring File(const std::wstring& name) { return files_.emplace_back(path_ + L"\\" + name); }
    std::wstring Write(const std::wstring& name, const Bytes& bytes)
    {
        const std::wstring file = File(name);
        HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(handle, bytes.data(), DWORD(bytes.size()), &written, nullptr);
        CloseHandle(handle);
        return file;
    }

private:
    std::wstring path_;
    std::vector<std::wstring> files_;
};
