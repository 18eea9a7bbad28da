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

double CChannelFilter::Factor()
{
    const int percent = gainPercent_;
    if (percent == 100) return 1.0;
    gainFactor_ = percent / 100.0;
    return gainFactor_;
}

void CChannelFilter::ProcessDc(int16_t* samples, int count)
{
    if (!enabled_ || count <= 0) return;
    const double factor = Factor();
    double previousInput = previousInput_;
    double previousOutput = previousOutput_;
    for (int i = 0; i < count; ++i) {
        const double x = samples[i] * factor;
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
    const double factor = Factor();
    if (factor == 1.0) return;
    for (int i = 0; i < count; ++i) samples[i] = ClampToSample(samples[i] * factor);
}
