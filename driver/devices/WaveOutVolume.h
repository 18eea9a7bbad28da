// CWaveOutVolume: the output level of a wave device through the multimedia mixer, as the volume
// control of the device's speakers line. It serves the system's default sound device where the
// audio endpoint back end is missing.
#pragma once

#include "MixerApi.h"

#include <functional>
#include <utility>

class CWaveOutVolume {
public:
    // The wave device id that stands for the running kernel-streaming render filter.
    static constexpr int kRunningRenderFilter = -1;
    // Most channels of a speakers line the control is driven on; a line with more is left alone.
    static constexpr DWORD kMaxChannels = 32;

    // Sets the level of the running kernel-streaming render filter; false without one.
    using FilterLevel = std::function<bool(int left, int right)>;

    explicit CWaveOutVolume(IMixerApi& mixer, FilterLevel filterLevel = {})
        : mixer_(mixer), filterLevel_(std::move(filterLevel))
    {
    }

    // Levels in percent, left then right, clamped to 0..100: channel 0 takes left and channel 1,
    // when the control has one, right; further channels keep their values. True when the level
    // was set; false when the mixer, its speakers line or the line's volume control is missing,
    // the control's range is empty or any mixer call fails.
    bool SetWaveOutVolume(int left, int right, int waveDeviceId);

private:
    IMixerApi& mixer_;
    FilterLevel filterLevel_;
};
