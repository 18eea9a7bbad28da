#include "WaveOutVolume.h"

#include <algorithm>

namespace {

// An open mixer, closed on every path.
class CMixerHandle {
public:
    explicit CMixerHandle(IMixerApi& api) : api_(api) {}
    ~CMixerHandle()
    {
        if (mixer_) api_.Close(mixer_);
    }
    CMixerHandle(const CMixerHandle&) = delete;
    CMixerHandle& operator=(const CMixerHandle&) = delete;

    bool Open(UINT waveDeviceId)
    {
        return api_.Open(&mixer_, waveDeviceId, MIXER_OBJECTF_WAVEOUT) == MMSYSERR_NOERROR && mixer_;
    }
    HMIXEROBJ object() const { return reinterpret_cast<HMIXEROBJ>(mixer_); }

private:
    IMixerApi& api_;
    HMIXER mixer_ = nullptr;
};

// trunc((maximum - minimum) × percent / 100 + minimum) in single precision, never above maximum.
DWORD ControlValue(DWORD minimum, DWORD maximum, int percent)
{
    const float value = float(maximum - minimum) * float(std::clamp(percent, 0, 100)) / 100.0f + float(minimum);
    // Single precision rounds a range near 2^32 up past what a DWORD holds.
    return value >= float(maximum) ? maximum : DWORD(value);
}

}  // namespace

bool CWaveOutVolume::SetWaveOutVolume(int left, int right, int waveDeviceId)
{
    if (waveDeviceId == kRunningRenderFilter) return filterLevel_ && filterLevel_(left, right);
    if (waveDeviceId < 0) return false;

    CMixerHandle mixer(mixer_);
    if (!mixer.Open(UINT(waveDeviceId))) return false;

    MIXERLINEW line = {};
    line.cbStruct = sizeof(line);
    line.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
    if (mixer_.GetLineInfo(mixer.object(), &line, MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_COMPONENTTYPE) !=
        MMSYSERR_NOERROR)
        return false;

    MIXERCONTROLW control = {};
    control.cbStruct = sizeof(control);
    MIXERLINECONTROLSW controls = {};
    controls.cbStruct = sizeof(controls);
    controls.dwLineID = line.dwLineID;
    controls.dwControlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
    controls.cControls = 1;
    controls.cbmxctrl = sizeof(control);
    controls.pamxctrl = &control;
    if (mixer_.GetLineControls(mixer.object(), &controls, MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ONEBYTYPE) !=
        MMSYSERR_NOERROR)
        return false;
    const DWORD minimum = control.Bounds.dwMinimum;
    const DWORD maximum = control.Bounds.dwMaximum;
    if (maximum <= minimum) return false;

    // A non-uniform control is read and written on every channel of its line at once.
    const DWORD channels = (control.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM) ? 1 : line.cChannels;
    if (channels == 0 || channels > kMaxChannels) return false;
    MIXERCONTROLDETAILS_UNSIGNED values[kMaxChannels] = {};
    MIXERCONTROLDETAILS details = {};
    details.cbStruct = sizeof(details);
    details.dwControlID = control.dwControlID;
    details.cChannels = channels;
    details.cbDetails = sizeof(MIXERCONTROLDETAILS_UNSIGNED);
    details.paDetails = values;
    if (mixer_.GetControlDetails(mixer.object(), &details, MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_VALUE) !=
        MMSYSERR_NOERROR)
        return false;
    values[0].dwValue = ControlValue(minimum, maximum, left);
    if (channels >= 2) values[1].dwValue = ControlValue(minimum, maximum, right);
    return mixer_.SetControlDetails(mixer.object(), &details, MIXER_OBJECTF_HMIXER | MIXER_SETCONTROLDETAILSF_VALUE) ==
           MMSYSERR_NOERROR;
}
