// The multimedia mixer of the virtual hardware: one wave output whose speakers line carries a
// volume control. It answers only calls made the way winmm expects them and keeps what was
// written.
#pragma once

#include <devices/MixerApi.h>

#include <cstdint>
#include <vector>

class CVirtualMixer final : public IMixerApi {
public:
    enum class Fault { None, NoSpeakersLine, NoVolumeControl, ReadFails, WriteFails };

    Fault fault = Fault::None;
    UINT waveDevice = 0;  // the wave output's id
    DWORD lineChannels = 2;
    bool uniform = false;
    DWORD minimum = 0;
    DWORD maximum = 65535;
    std::vector<DWORD> values = std::vector<DWORD>(8, 7);  // per channel
    std::vector<std::vector<DWORD>> written;
    int opened = 0;
    int closed = 0;

    MMRESULT Open(HMIXER* mixer, UINT id, DWORD flags) override
    {
        if (id != waveDevice || flags != MIXER_OBJECTF_WAVEOUT) return MMSYSERR_BADDEVICEID;
        ++opened;
        *mixer = Handle();
        return MMSYSERR_NOERROR;
    }
    MMRESULT GetLineInfo(HMIXEROBJ mixer, MIXERLINEW* line, DWORD flags) override
    {
        if (!Ours(mixer, flags, MIXER_GETLINEINFOF_COMPONENTTYPE) || line->cbStruct != sizeof(*line))
            return MMSYSERR_INVALPARAM;
        if (fault == Fault::NoSpeakersLine || line->dwComponentType != MIXERLINE_COMPONENTTYPE_DST_SPEAKERS)
            return MIXERR_INVALLINE;
        line->dwLineID = kLine;
        line->cChannels = lineChannels;
        return MMSYSERR_NOERROR;
    }
    MMRESULT GetLineControls(HMIXEROBJ mixer, MIXERLINECONTROLSW* controls, DWORD flags) override
    {
        if (!Ours(mixer, flags, MIXER_GETLINECONTROLSF_ONEBYTYPE) || controls->cbStruct != sizeof(*controls) ||
            controls->cControls != 1 || controls->cbmxctrl != sizeof(MIXERCONTROLW) || !controls->pamxctrl)
            return MMSYSERR_INVALPARAM;
        if (controls->dwLineID != kLine) return MIXERR_INVALLINE;
        if (fault == Fault::NoVolumeControl || controls->dwControlType != MIXERCONTROL_CONTROLTYPE_VOLUME)
            return MIXERR_INVALCONTROL;
        MIXERCONTROLW& control = *controls->pamxctrl;
        control.dwControlID = kControl;
        control.dwControlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
        control.fdwControl = uniform ? MIXERCONTROL_CONTROLF_UNIFORM : 0;
        control.Bounds.dwMinimum = minimum;
        control.Bounds.dwMaximum = maximum;
        return MMSYSERR_NOERROR;
    }
    MMRESULT GetControlDetails(HMIXEROBJ mixer, MIXERCONTROLDETAILS* details, DWORD flags) override
    {
        if (!Valid(mixer, details, flags, MIXER_GETCONTROLDETAILSF_VALUE)) return MMSYSERR_INVALPARAM;
        if (fault == Fault::ReadFails) return MMSYSERR_ERROR;
        auto* out = static_cast<MIXERCONTROLDETAILS_UNSIGNED*>(details->paDetails);
        for (DWORD c = 0; c < details->cChannels; ++c) out[c].dwValue = values[c];
        return MMSYSERR_NOERROR;
    }
    MMRESULT SetControlDetails(HMIXEROBJ mixer, MIXERCONTROLDETAILS* details, DWORD flags) override
    {
        if (!Valid(mixer, details, flags, MIXER_SETCONTROLDETAILSF_VALUE)) return MMSYSERR_INVALPARAM;
        if (fault == Fault::WriteFails) return MMSYSERR_ERROR;
        const auto* in = static_cast<const MIXERCONTROLDETAILS_UNSIGNED*>(details->paDetails);
        std::vector<DWORD> set;
        for (DWORD c = 0; c < details->cChannels; ++c) set.push_back(values[c] = in[c].dwValue);
        written.push_back(set);
        return MMSYSERR_NOERROR;
    }
    MMRESULT Close(HMIXER mixer) override
    {
        if (mixer != Handle()) return MMSYSERR_INVALHANDLE;
        ++closed;
        return MMSYSERR_NOERROR;
    }

private:
    static constexpr DWORD kLine = 0xFFFF0000;
    static constexpr DWORD kControl = 3;

    static HMIXER Handle() { return reinterpret_cast<HMIXER>(uintptr_t(0x4d0)); }
    static bool Ours(HMIXEROBJ mixer, DWORD flags, DWORD query)
    {
        return mixer == reinterpret_cast<HMIXEROBJ>(Handle()) && flags == (MIXER_OBJECTF_HMIXER | query);
    }
    // Details cover the control's own channels: one when uniform, else every channel of the line.
    bool Valid(HMIXEROBJ mixer, const MIXERCONTROLDETAILS* details, DWORD flags, DWORD query) const
    {
        return Ours(mixer, flags, query) && details->cbStruct == sizeof(*details) && details->dwControlID == kControl &&
               details->cChannels == (uniform ? 1 : lineChannels) && details->cMultipleItems == 0 &&
               details->cbDetails == sizeof(MIXERCONTROLDETAILS_UNSIGNED) && details->paDetails;
    }
};
