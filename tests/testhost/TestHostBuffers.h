// Driver buffers for the test engine, owned by the test: each half of each channel has guard
// bytes after it, so writing past a block shows.
#pragma once

#include <testhost/HostBuffers.h>

#include <cstdint>
#include <vector>

// A driver sample as stored: 2 bytes, packed 3 bytes or 4 bytes, little-endian and signed.
inline int32_t GetSample(const uint8_t* at, int bytes)
{
    uint32_t value = 0;
    for (int b = 0; b < bytes; ++b) value |= uint32_t(at[b]) << (8 * b);
    const int unused = 32 - 8 * bytes;
    return int32_t(value << unused) >> unused;
}

inline void PutSample(uint8_t* at, int bytes, int32_t value)
{
    for (int b = 0; b < bytes; ++b) at[b] = uint8_t(uint32_t(value) >> (8 * b));
}

class TestHostBuffers {
public:
    static constexpr size_t kGuardBytes = 16;
    static constexpr uint8_t kGuard = 0xE7;

    TestHostBuffers(int inputs, int outputs, ASIOSampleType type, long frames) : bytes_(HostSampleBytes(type))
    {
        block.bufferSize = frames;
        block.inputBuffers = inputs;
        block.outputBuffers = outputs;
        storage_.resize(size_t(inputs + outputs) * 2, std::vector<uint8_t>(size_t(frames) * bytes_ + kGuardBytes, kGuard));
        for (int c = 0; c < inputs + outputs; ++c) {
            block.infos[c].isInput = c < inputs;
            block.infos[c].channelNum = c < inputs ? c : c - inputs;
            block.channels[c].type = type;
            for (int half = 0; half < 2; ++half) {
                std::vector<uint8_t>& buffer = storage_[size_t(c) * 2 + half];
                std::fill(buffer.begin(), buffer.end() - kGuardBytes, 0);
                block.infos[c].buffers[half] = buffer.data();
            }
        }
    }
    TestHostBuffers(const TestHostBuffers&) = delete;
    TestHostBuffers& operator=(const TestHostBuffers&) = delete;

    int SampleBytes() const { return bytes_; }
    long Frames() const { return block.bufferSize; }

    void SetInput(int i, long half, int32_t value)
    {
        for (long k = 0; k < Frames(); ++k) PutSample(InputBytes(i, half) + k * bytes_, bytes_, value);
    }
    void SetInput(int i, long half, const std::vector<int32_t>& values)
    {
        for (long k = 0; k < Frames(); ++k) PutSample(InputBytes(i, half) + k * bytes_, bytes_, values[size_t(k)]);
    }
    std::vector<int32_t> Output(int j, long half) const
    {
        std::vector<int32_t> samples(static_cast<size_t>(Frames()));
        for (long k = 0; k < Frames(); ++k) samples[size_t(k)] = GetSample(Storage(block.inputBuffers + j, half) + k * bytes_, bytes_);
        return samples;
    }
    // Every output sample of the half set to value.
    void FillOutputs(long half, int32_t value)
    {
        for (int j = 0; j < block.outputBuffers; ++j)
            for (long k = 0; k < Frames(); ++k) PutSample(Storage(block.inputBuffers + j, half) + k * bytes_, bytes_, value);
    }
    uint8_t* InputBytes(int i, long half) { return storage_[size_t(i) * 2 + half].data(); }
    std::vector<uint8_t> InputBlock(int i, long half) const
    {
        const uint8_t* at = Storage(i, half);
        return std::vector<uint8_t>(at, at + Frames() * bytes_);
    }

    bool GuardsIntact() const
    {
        for (const std::vector<uint8_t>& buffer : storage_)
            for (size_t b = buffer.size() - kGuardBytes; b < buffer.size(); ++b)
                if (buffer[b] != kGuard) return false;
        return true;
    }

    HostBufferBlock block;

private:
    const uint8_t* Storage(int channel, long half) const { return storage_[size_t(channel) * 2 + half].data(); }
    uint8_t* Storage(int channel, long half) { return storage_[size_t(channel) * 2 + half].data(); }

    int bytes_;
    std::vector<std::vector<uint8_t>> storage_;
};
