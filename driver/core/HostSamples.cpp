#include "HostSamples.h"

#include <asio/Asio.h>

#include <cstring>

namespace {

// The device sample a host sample carries: its upper 16 bits.
int16_t DeviceSample(int sampleType, const uint8_t* host, int i)
{
    int16_t value;
    switch (sampleType) {
    case ASIOSTInt16LSB: memcpy(&value, host + 2 * i, 2); break;
    case ASIOSTInt24LSB: memcpy(&value, host + 3 * i + 1, 2); break;
    default: memcpy(&value, host + 4 * i + 2, 2); break;
    }
    return value;
}

void StoreDeviceSample(int sampleType, int16_t value, uint8_t* host, int i)
{
    switch (sampleType) {
    case ASIOSTInt16LSB: memcpy(host + 2 * i, &value, 2); break;
    case ASIOSTInt24LSB:
        host[3 * i] = 0;
        memcpy(host + 3 * i + 1, &value, 2);
        break;
    default: {
        const int32_t wide = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(value)) << 16);
        memcpy(host + 4 * i, &wide, 4);
        break;
    }
    }
}

}  // namespace

void WriteHostSamples(int sampleType, const int16_t* samples, int count, void* host)
{
    if (sampleType == ASIOSTInt16LSB) {
        memcpy(host, samples, static_cast<size_t>(count) * 2);
        return;
    }
    auto* out = static_cast<uint8_t*>(host);
    for (int i = 0; i < count; ++i) StoreDeviceSample(sampleType, samples[i], out, i);
}

void ReadHostSamples(int sampleType, const void* host, int count, int16_t* samples, int stride)
{
    const auto* in = static_cast<const uint8_t*>(host);
    for (int i = 0; i < count; ++i) samples[i * stride] = DeviceSample(sampleType, in, i);
}

void MixHostSamples(int sampleType, const void* input, void* output, int count)
{
    const auto* in = static_cast<const uint8_t*>(input);
    auto* out = static_cast<uint8_t*>(output);
    for (int i = 0; i < count; ++i) {
        double sum = double(DeviceSample(sampleType, in, i)) + DeviceSample(sampleType, out, i);
        if (sum > 32765.0) sum = 32765.0;
        if (sum < -32765.0) sum = -32765.0;
        StoreDeviceSample(sampleType, static_cast<int16_t>(sum), out, i);
    }
}
