#include "StampFilter.h"

#include <cmath>

namespace {

// The loop's bandwidth (Hz): wide at the start, so that the measured rate is found within a
// second or two, then halved every second down to kBandwidth, which takes a 15-ms read pattern's
// jitter down some 20 dB and leaves steady times as they are. Damping 0.7.
constexpr double kStartBandwidth = 2.0;
constexpr double kBandwidth = 0.5;
constexpr double kPi = 3.14159265358979323846;
// A time further off the line than this (a gap in the stream, a clock that jumped) starts it afresh.
constexpr double kLostSeconds = 0.2;

}  // namespace

void CStampFilter::Restart(double nominalRate)
{
    nominalPeriod_ = nominalRate > 0 ? 1 / nominalRate : 1;
    framePeriod_ = nominalPeriod_;
    started_ = false;
}

double CStampFilter::Filter(uint64_t end, double at)
{
    if (started_ && end > end_) {
        const double frames = double(end - end_);
        const double predicted = time_ + frames * framePeriod_;
        const double error = at - predicted;
        if (std::fabs(error) < kLostSeconds) {
            elapsed_ += frames * framePeriod_;
            const double bandwidth = std::fmax(kBandwidth, kStartBandwidth / std::exp2(std::floor(elapsed_)));
            const double omega = 2 * kPi * bandwidth * frames * framePeriod_;
            time_ = predicted + std::sqrt(2.0) * omega * error;
            // The period's share, spread over the packet's frames; kept within a sane clock.
            framePeriod_ += omega * omega * error / frames;
            framePeriod_ = std::fmin(std::fmax(framePeriod_, nominalPeriod_ * 0.99), nominalPeriod_ * 1.01);
            end_ = end;
            return time_;
        }
    }
    if (!started_) elapsed_ = 0;
    started_ = true;
    end_ = end;
    time_ = at;
    return time_;
}
