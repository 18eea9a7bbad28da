#include <devices/WaveOutVolume.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

// A mixer with one wave output (id 0) whose speakers line carries a volume control. It answers
// only calls made the way winmm expects them and keeps what was written.
class CFakeMixer final : public IMixerApi {
public:
    enum class Fault { None, NoSpeakersLine, NoVolumeControl, ReadFails, WriteFails };

    Fault fault = Fault::None;
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
        if (id != 0 || flags != MIXER_OBJECTF_WAVEOUT) return MMSYSERR_BADDEVICEID;
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

TEST(WaveOutVolume, TwoChannelControlTakesLeftAndRightAtTheirExactValues)
{
    CFakeMixer mixer;
    CWaveOutVolume volume(mixer);
    const std::vector<std::vector<DWORD>> expected = {{0, 65535}, {32767, 64879}, {64879, 32767}, {65535, 0}};
    EXPECT_TRUE(volume.SetWaveOutVolume(0, 100, 0));
    EXPECT_TRUE(volume.SetWaveOutVolume(50, 99, 0));
    EXPECT_TRUE(volume.SetWaveOutVolume(99, 50, 0));
    EXPECT_TRUE(volume.SetWaveOutVolume(100, 0, 0));
    EXPECT_EQ(mixer.written, expected);
    EXPECT_EQ(mixer.closed, 4);
}

TEST(WaveOutVolume, UniformControlTakesTheLeftLevelFromItsMinimumUp)
{
    CFakeMixer mixer;
    mixer.uniform = true;
    mixer.minimum = 1000;
    mixer.maximum = 61000;
    CWaveOutVolume volume(mixer);
    for (int percent : {0, 50, 99, 100}) EXPECT_TRUE(volume.SetWaveOutVolume(percent, 100 - percent, 0));
    const std::vector<std::vector<DWORD>> expected = {{1000}, {31000}, {60400}, {61000}};
    EXPECT_EQ(mixer.written, expected);
}

TEST(WaveOutVolume, LevelsOutOfRangeAndWideControlsStayWithinTheControl)
{
    CFakeMixer mixer;
    mixer.lineChannels = 6;  // a 5.1 speakers line: its other channels keep their levels
    CWaveOutVolume volume(mixer);
    EXPECT_TRUE(volume.SetWaveOutVolume(150, -20, 0));
    ASSERT_EQ(mixer.written.size(), 1u);
    EXPECT_EQ(mixer.written[0], (std::vector<DWORD>{65535, 0, 7, 7, 7, 7}));

    // The full 32-bit range: 100 % in single precision would overflow the value.
    mixer.lineChannels = 2;
    mixer.maximum = 0xFFFFFFFF;
    EXPECT_TRUE(volume.SetWaveOutVolume(100, 0, 0));
    EXPECT_EQ(mixer.written.back(), (std::vector<DWORD>{0xFFFFFFFF, 0}));
}

TEST(WaveOutVolume, AnyMissingPartOrFailedCallSetsNothingAndClosesTheMixer)
{
    using Fault = CFakeMixer::Fault;
    struct Case {
        const char* what;
        Fault fault;
        DWORD channels;
        DWORD maximum;
    };
    for (const Case& c : {Case{"no speakers line", Fault::NoSpeakersLine, 2, 65535},
                          Case{"no volume control", Fault::NoVolumeControl, 2, 65535},
                          Case{"empty range", Fault::None, 2, 0}, Case{"line without channels", Fault::None, 0, 65535},
                          Case{"read fails", Fault::ReadFails, 2, 65535}, Case{"write fails", Fault::WriteFails, 2, 65535}}) {
        SCOPED_TRACE(c.what);
        CFakeMixer mixer;
        mixer.fault = c.fault;
        mixer.lineChannels = c.channels;
        mixer.maximum = c.maximum;
        CWaveOutVolume volume(mixer);
        EXPECT_FALSE(volume.SetWaveOutVolume(50, 50, 0));
        EXPECT_TRUE(mixer.written.empty());
        EXPECT_EQ(mixer.opened, 1);
        EXPECT_EQ(mixer.closed, 1);
    }
    CFakeMixer mixer;
    EXPECT_FALSE(CWaveOutVolume(mixer).SetWaveOutVolume(50, 50, 1)) << "no such wave device";
    EXPECT_EQ(mixer.closed, 0);
}

TEST(WaveOutVolume, TheRunningFilterRouteNeverOpensAMixer)
{
    CFakeMixer mixer;
    EXPECT_FALSE(CWaveOutVolume(mixer).SetWaveOutVolume(40, 60, CWaveOutVolume::kRunningRenderFilter));
    int levels[2] = {-1, -1};
    CWaveOutVolume routed(mixer, [&](int left, int right) {
        levels[0] = left;
        levels[1] = right;
        return true;
    });
    EXPECT_TRUE(routed.SetWaveOutVolume(40, 60, CWaveOutVolume::kRunningRenderFilter));
    EXPECT_EQ(levels[0], 40);
    EXPECT_EQ(levels[1], 60);
    EXPECT_EQ(mixer.opened, 0);
}

}  // namespace
