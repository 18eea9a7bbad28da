#include "EndpointVolumeControl.h"

#include <algorithm>
#include <mutex>

void CEndpointVolumeControl::Attach(const ComPtr<IMMDevice>& device, const std::wstring& name, int firstChannel)
{
    std::lock_guard<CCriticalSection> hold(lock_);
    device_ = device;
    name_ = name;
    firstChannel_ = UINT(std::max(firstChannel, 0));
}

void CEndpointVolumeControl::Detach()
{
    std::lock_guard<CCriticalSection> hold(lock_);
    volume_.Reset();
    device_.Reset();
}

std::wstring CEndpointVolumeControl::name() const
{
    std::lock_guard<CCriticalSection> hold(lock_);
    return name_;
}

bool CEndpointVolumeControl::Set(int left, int right)
{
    std::lock_guard<CCriticalSection> hold(lock_);
    if (!device_) return false;
    if (!volume_ &&
        (FAILED(device_->Activate(__uuidof(IAudioEndpointVolume), CLSCTX_INPROC_SERVER, nullptr,
                                  volume_.PutVoid())) ||
         !volume_)) {
        volume_.Reset();
        return false;
    }
    IAudioEndpointVolume* volume = volume_.Get();
    UINT channels = 0;
    if (FAILED(volume->GetChannelCount(&channels))) return false;
    const float leftLevel = float(std::clamp(left, 0, 100)) / 100.0f;
    const float rightLevel = float(std::clamp(right, 0, 100)) / 100.0f;

    if (channels != 1) {
        if (firstChannel_ + 2 > channels) return false;
        const bool leftSet = SUCCEEDED(volume->SetChannelVolumeLevelScalar(firstChannel_, leftLevel, nullptr));
        const bool rightSet = SUCCEEDED(volume->SetChannelVolumeLevelScalar(firstChannel_ + 1, rightLevel, nullptr));
        return leftSet && rightSet;
    }
    if (!muteMonoAtZero_) return SUCCEEDED(volume->SetChannelVolumeLevelScalar(0, leftLevel, nullptr));

    BOOL muted = FALSE;
    if (FAILED(volume->GetMute(&muted))) return false;
    if (left > 0) {
        if (muted && FAILED(volume->SetMute(FALSE, nullptr))) return false;
        return SUCCEEDED(volume->SetChannelVolumeLevelScalar(0, leftLevel, nullptr));
    }
    return muted || SUCCEEDED(volume->SetMute(TRUE, nullptr));
}
