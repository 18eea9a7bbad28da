// CAudioClientInitializer: initialises an endpoint's audio client for one event-driven stream.
// Exclusive clients get a period the device allows and, as Microsoft documents, a retry with the
// buffer size the device reports after an alignment refusal, each on a fresh client; shared ones
// room for the packet and the audio engine's periods.
#pragma once

#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>

#include <veloran/ComPtr.h>

class CAudioClientInitializer {
public:
    // ntSixMode: every exclusive stream is initialised a second time with about 192 frames, as
    // Windows NT 6.0 needs.
    CAudioClientInitializer(IMMDevice* device, EDataFlow flow, const WAVEFORMATEXTENSIBLE& format,
                            int framesPerPacket, bool ntSixMode);

    // client is activated and not yet initialised; a retry replaces it. The periods are the
    // device's (GetDevicePeriod). reinitialised tells whether more than one initialisation was made.
    HRESULT Exclusive(ComPtr<IAudioClient>& client, REFERENCE_TIME defaultPeriod, REFERENCE_TIME minimumPeriod,
                      bool& reinitialised) const;
    // defaultPeriod: the device's default period.
    HRESULT Shared(IAudioClient* client, REFERENCE_TIME defaultPeriod) const;

    // An endpoint that will not stream exclusively but may still share.
    static bool RefusesExclusive(HRESULT hr);

private:
    // The fewest frames whose duration is at least period.
    int FramesCovering(REFERENCE_TIME period) const;

    IMMDevice* device_;
    EDataFlow flow_;
    WAVEFORMATEXTENSIBLE format_;
    int framesPerPacket_;
    bool ntSixMode_;
    int rate_;
};
