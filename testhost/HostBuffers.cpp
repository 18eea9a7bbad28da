#include "HostBuffers.h"

int HostSampleBytes(ASIOSampleType type)
{
    switch (type) {
    case ASIOSTInt16LSB: return 2;
    case ASIOSTInt24LSB: return 3;
    default: return 4;
    }
}

int HostBufferBlock::SampleBytes() const { return HostSampleBytes(SampleType()); }
