#include "MixerApi.h"

namespace {

class CSystemMixerApi final : public IMixerApi {
public:
    MMRESULT Open(HMIXER* mixer, UINT id, DWORD flags) override { return mixerOpen(mixer, id, 0, 0, flags); }
    MMRESULT GetLineInfo(HMIXEROBJ mixer, MIXERLINEW* line, DWORD flags) override
    {
        return mixerGetLineInfoW(mixer, line, flags);
    }
    MMRESULT GetLineControls(HMIXEROBJ mixer, MIXERLINECONTROLSW* controls, DWORD flags) override
    {
        return mixerGetLineControlsW(mixer, controls, flags);
    }
    MMRESULT GetControlDetails(HMIXEROBJ mixer, MIXERCONTROLDETAILS* details, DWORD flags) override
    {
        return mixerGetControlDetailsW(mixer, details, flags);
    }
    MMRESULT SetControlDetails(HMIXEROBJ mixer, MIXERCONTROLDETAILS* details, DWORD flags) override
    {
        return mixerSetControlDetails(mixer, details, flags);
    }
    MMRESULT Close(HMIXER mixer) override { return mixerClose(mixer); }
};

}  // namespace

IMixerApi& SystemMixerApi()
{
    static CSystemMixerApi api;
    return api;
}
