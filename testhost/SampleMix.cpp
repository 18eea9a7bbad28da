#include "SampleMix.h"

#include "HostBuffers.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

constexpr int kMixLimit = 32765;

// A sample of 2, 3 or 4 bytes as a 32-bit value, its most significant byte on top.
int32_t Load(const uint8_t* at, int bytes)
{
    uint32_t value = 0;
    for (int b = 0; b < bytes; ++b) value |= uint32_t(at[b]) << (8 * (4 - bytes + b));
    return int32_t(value);
}

// The upper bytes of value; what does not fit is dropped.
void Store(uint8_t* at, int bytes, int32_t value)
{
    for (int b = 0; b < bytes; ++b) at[b] = uint8_t(uint32_t(value) >> (8 * (4 - bytes + b)));
}

}  // namespace

void MixInto(long count, void* dst, const void* src, ASIOSampleType type)
{
    const int bytes = HostSampleBytes(type);
    auto* out = static_cast<uint8_t*>(dst);
    const auto* in = static_cast<const uint8_t*>(src);
    if (type == ASIOSTInt16LSB) {
        for (long k = 0; k < count; ++k) {
            int16_t a, b;
            std::memcpy(&a, out + 2 * k, 2);
            std::memcpy(&b, in + 2 * k, 2);
            const int16_t sum = int16_t(std::clamp(a + b, -kMixLimit, kMixLimit));
            std::memcpy(out + 2 * k, &sum, 2);
        }
        return;
    }
    for (long k = 0; k < count; ++k) {
        uint8_t* at = out + k * bytes;
        const int sum = (Load(at, bytes) >> 16) + (Load(in + k * bytes, bytes) >> 16);
        Store(at, bytes, int32_t(uint32_t(std::clamp(sum, -kMixLimit, kMixLimit)) << 16));
    }
}

void ConvertToHost(long count, const void* source, int sourceBits, int stride, void* dst, ASIOSampleType type)
{
    const int inBytes = sourceBits / 8;
    const int outBytes = HostSampleBytes(type);
    const auto* in = static_cast<const uint8_t*>(source);
    auto* out = static_cast<uint8_t*>(dst);
    const long step = long(stride) * inBytes;
    if (inBytes == outBytes && stride == 1) {
        std::memcpy(out, in, size_t(count) * size_t(outBytes));
        return;
    }
    if (inBytes == outBytes) {
        for (long k = 0; k < count; ++k) std::memcpy(out + k * outBytes, in + k * step, size_t(outBytes));
        return;
    }
    for (long k = 0; k < count; ++k) Store(out + k * outBytes, outBytes, Load(in + k * step, inBytes));
}

void InterleaveStereo(long count, const void* left, const void* right, void* dst, int sampleBytes)
{
    const auto* l = static_cast<const uint8_t*>(left);
    const auto* r = static_cast<const uint8_t*>(right);
    auto* out = static_cast<uint8_t*>(dst);
    const size_t bytes = size_t(sampleBytes);
    for (long k = 0; k < count; ++k) {
        std::memcpy(out + 2 * k * bytes, l + k * bytes, bytes);
        std::memcpy(out + (2 * k + 1) * bytes, r + k * bytes, bytes);
    }
}

int PeakOf(long count, const void* samples, ASIOSampleType type)
{
    const int bytes = HostSampleBytes(type);
    const auto* in = static_cast<const uint8_t*>(samples);
    int peak = 0;
    for (long k = 0; k < count; ++k) {
        const int value = Load(in + k * bytes, bytes) >> 16;
        peak = std::max(peak, value < 0 ? -value : value);
    }
    return peak;
}
