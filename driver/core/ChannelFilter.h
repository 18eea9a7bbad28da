// Per-channel software gain and DC-offset removal on 16-bit capture samples.
#pragma once

#include <cstdint>

class CChannelFilter {
public:
    // DC removal on or off; switching it on starts a new history.
    void EnableDc(bool enabled);
    void SetGain(int percent) { gainPercent_ = percent; }
    int gainPercent() const { return gainPercent_; }
    bool dcEnabled() const { return enabled_; }

    // In place. ProcessDc does nothing unless DC removal is on; ProcessGain nothing at unity.
    void ProcessDc(int16_t* samples, int count);
    void ProcessGain(int16_t* samples, int count);
    // The stage the channel's DC flag selects.
    void Process(int16_t* samples, int count) { enabled_ ? ProcessDc(samples, count) : ProcessGain(samples, count); }

private:
    // The block's gain, read once so that a level moved meanwhile applies from the next block.
    double Factor();

    bool enabled_ = false;
    double coefficient_ = 0.99;  // the pole: a high-pass near 70 Hz at 44100 Hz
    bool first_ = true;
    double previousInput_ = 0.0;
    double previousOutput_ = 0.0;
    // Written by the control panel's thread; a single word, read once per block.
    volatile int gainPercent_ = 100;
    double gainFactor_ = 1.0;
};

// Processed values are clamped to ±32766 and truncated toward zero.
int16_t ClampToSample(double value);
