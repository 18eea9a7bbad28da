#include "DriftController.h"

#include "AdaptiveResampler.h"

#include <algorithm>
#include <cmath>

namespace {

// The loop's natural frequency (rad/s) and damping. A rate step of d (relative) moves the
// backlog by about sampleRate × d / (e × kNaturalFrequency) at critical damping: 6 frames for a
// 500 ppm step at 48 kHz, back within 2 frames in about 3 s; a rate that changes by g per second
// leaves an offset of sampleRate × g / kNaturalFrequency² frames (0.1 frame for 3.5 ppm/s).
// The price is that stamp jitter passes to the delay with a noise bandwidth near 1 Hz: stamps
// within ±2 frames keep it within ±1, stamps within ±24 frames only within ±9. Slower would let
// the start-up error or a step outlast 10 s and eat into the headroom.
constexpr double kNaturalFrequency = 1.5;
constexpr double kDamping = 1.0;
// Averaging time of the backlog (s): smooths the jitter of packet stamps, and is short enough
// beside the loop's 0.7 s time constant not to cost it stability.
constexpr double kAveragingSeconds = 0.05;

}  // namespace

CDriftController::CDriftController(double sampleRate, int framesPerUpdate, double setPoint)
    : setPoint_(setPoint)
{
    if (sampleRate > 0 && framesPerUpdate > 0) {
        const double interval = framesPerUpdate / sampleRate;
        smoothing_ = 1 - std::exp(-interval / kAveragingSeconds);
        proportional_ = 2 * kDamping * kNaturalFrequency / sampleRate;
        integralStep_ = kNaturalFrequency * kNaturalFrequency / sampleRate * interval;
    }
    Reset();
}

void CDriftController::Reset()
{
    average_ = setPoint_;
    integral_ = 0;
    ratio_ = 1;
    primed_ = false;
}

void CDriftController::Reset(double setPoint)
{
    setPoint_ = setPoint;
    Reset();
}

double CDriftController::Update(double backlog)
{
    if (std::isnan(backlog)) return ratio_;
    average_ = primed_ ? average_ + smoothing_ * (backlog - average_) : backlog;
    primed_ = true;
    const double error = average_ - setPoint_;
    constexpr double limit = CAdaptiveResampler::kMaxDeviation;
    integral_ = std::clamp(integral_ + integralStep_ * error, -limit, limit);
    ratio_ = std::clamp(1 + integral_ + proportional_ * error, 1 - limit, 1 + limit);
    return ratio_;
}
