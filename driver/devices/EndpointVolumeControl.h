// CEndpointVolumeControl: the levels of one open endpoint, in percent, through its
// IAudioEndpointVolume (activated on first use and held until Detach). The stream thread attaches
// the endpoint it opens; the host's thread and the control panel set levels and read the name at
// any time, so everything here is under one lock.
#pragma once

#include <veloran/ComPtr.h>
#include <veloran/CriticalSection.h>

#include <windows.h>
#include <endpointvolume.h>
#include <mmdeviceapi.h>

#include <string>

class CEndpointVolumeControl {
public:
    // muteMonoAtZero: a one-channel endpoint given 0 is muted rather than set to its lowest level,
    // which still passes signal; a later non-zero level unmutes it.
    explicit CEndpointVolumeControl(bool muteMonoAtZero) : muteMonoAtZero_(muteMonoAtZero) {}
    CEndpointVolumeControl(const CEndpointVolumeControl&) = delete;
    CEndpointVolumeControl& operator=(const CEndpointVolumeControl&) = delete;

    // firstChannel: the pair's left channel on an endpoint of more than two channels.
    void Attach(const ComPtr<IMMDevice>& device, const std::wstring& name, int firstChannel = 0);
    // Lets go of the endpoint and its volume interface; the name stays for the driver's report.
    void Detach();

    // Left then right, clamped to 0..100; false without an endpoint, a volume for the pair, or when
    // a level was refused.
    bool Set(int left, int right);
    std::wstring name() const;

private:
    const bool muteMonoAtZero_;
    mutable CCriticalSection lock_;
    ComPtr<IMMDevice> device_;
    std::wstring name_;
    UINT firstChannel_ = 0;
    ComPtr<IAudioEndpointVolume> volume_;
};
