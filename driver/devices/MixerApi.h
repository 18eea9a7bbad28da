// The narrow seam between the hardware levels and the multimedia mixer: the six mixer calls the
// wave-device volume route makes. Production uses the system's winmm; tests model a mixer.
#pragma once

#include <windows.h>
#include <mmsystem.h>

class IMixerApi {
public:
    virtual ~IMixerApi() = default;

    // mixerOpen without a callback.
    virtual MMRESULT Open(HMIXER* mixer, UINT id, DWORD flags) = 0;
    virtual MMRESULT GetLineInfo(HMIXEROBJ mixer, MIXERLINEW* line, DWORD flags) = 0;
    virtual MMRESULT GetLineControls(HMIXEROBJ mixer, MIXERLINECONTROLSW* controls, DWORD flags) = 0;
    virtual MMRESULT GetControlDetails(HMIXEROBJ mixer, MIXERCONTROLDETAILS* details, DWORD flags) = 0;
    virtual MMRESULT SetControlDetails(HMIXEROBJ mixer, MIXERCONTROLDETAILS* details, DWORD flags) = 0;
    virtual MMRESULT Close(HMIXER mixer) = 0;
};

// The system's mixer.
IMixerApi& SystemMixerApi();
