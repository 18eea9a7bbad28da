// CEndpointFormatProbe: what an endpoint accepts in the mode its streams would use. Exclusive
// probing asks for the driver's layouts one by one; shared probing follows the audio engine's mix
// format, since shared streams let the engine convert.
#pragma once

#include "EndpointFormat.h"
#include "EndpointList.h"

#include <windows.h>
#include <audioclient.h>

#include <string>

class CEndpointFormatProbe {
public:
    // shareMode: one of kEndpointExclusiveOnly, kEndpointExclusiveOrShared, kEndpointSharedOnly.
    // 24-bit formats are asked for only when tenOrLater.
    CEndpointFormatProbe(const CEndpointList& endpoints, int shareMode, bool tenOrLater)
        : endpoints_(endpoints), shareMode_(shareMode), tenOrLater_(tenOrLater)
    {
    }

    // False when the endpoint is missing or accepts nothing.
    bool Probe(EDataFlow flow, const std::wstring& path, EndpointFormat& format) const;

private:
    bool ProbeExclusive(IAudioClient* client, EndpointFormat& format) const;
    static bool ProbeShared(IAudioClient* client, EndpointFormat& format);

    const CEndpointList& endpoints_;
    int shareMode_;
    bool tenOrLater_;
};
