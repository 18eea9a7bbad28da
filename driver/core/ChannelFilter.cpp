#include "ChannelFilter.h"

int16_t ClampToSample(double value)
{
    if (value > 32765.0) return 32766;
    if (value < -32765.0) return -32766;
    return static_cast<int16_t>(value);
}

void CChannelFilter::EnableDc(bool enabled)
{
    enabled_ = enabled;
    if (enabled) first_ = true;
}

double CChannelFilter::Scaled(int16_t sample)
{
    const int percent = gainPercent_;
    if (percent == 100) return sample;
    gainFactor_ = percent / 100.0;
    return sample * gainFactor_;
}

void CChannelFilter::ProcessDc(int16_t* samples, int count)
{
    if (!enabled_ || count <= 0) return;
    double previousInput = previousInput_;
    double previousOutput = previousOutput_;
    for (int i = 0; i < count; ++i) {
        const double x = Scaled(samples[i]);
        double y;
        if (first_) {
            y = x;
            first_ = false;
        } else {
            y = coefficient_ * previousOutput + x - previousInput;
        }
        previousInput = x;
        previousOutput = y;
        samples[i] = ClampToSample(y);
    }
    previousInput_ = previousInput;
    previousOutput_ = previousOutput;
}

void CChannelFilter::ProcessGain(int16_t* samples, int count)
{
    if (gainPercent_ == 100) return;
    for (int i = 0; i < count; ++i) samples[i] = ClampToSample(Scaled(samples[i]));
}
