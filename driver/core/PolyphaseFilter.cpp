#include "PolyphaseFilter.h"

#include <cmath>
#include <numbers>

namespace {

// Kaiser window shape: beta 10 puts the side lobes near -100 dB.
constexpr double kBeta = 10.0;
// Cut-off as a fraction of the sample rate. The transition band of 32 taps at this beta spans
// about 0.2 of the rate, centred here: flat to 0.36, images of 0.36 and below fall past 0.56.
constexpr double kCutoff = 0.46;

// Modified Bessel function of the first kind, order 0, by its power series.
double BesselI0(double x)
{
    double sum = 1, term = 1;
    for (int k = 1; term > 1e-12 * sum; ++k) {
        const double half = x / (2 * k);
        term *= half * half;
        sum += term;
    }
    return sum;
}

double WindowedSinc(double t, double halfWidth)
{
    const double x = t / halfWidth;
    if (std::fabs(x) >= 1) return 0;
    const double window = BesselI0(kBeta * std::sqrt(1 - x * x)) / BesselI0(kBeta);
    const double arg = 2 * kCutoff * t;
    const double sinc = arg == 0 ? 1 : std::sin(std::numbers::pi * arg) / (std::numbers::pi * arg);
    return 2 * kCutoff * sinc * window;
}

}  // namespace

const CPolyphaseFilter& CPolyphaseFilter::Shared()
{
    static const CPolyphaseFilter table;
    return table;
}

CPolyphaseFilter::CPolyphaseFilter()
{
    constexpr int half = kTaps / 2;
    for (int p = 0; p <= kPhases; ++p) {
        const double fraction = double(p) / kPhases;
        double row[kTaps];
        double sum = 0;
        for (int k = 0; k < kTaps; ++k) {
            // Distance from the read position to input frame n - half + 1 + k.
            row[k] = WindowedSinc(fraction + half - 1 - k, half);
            sum += row[k];
        }
        // Unity gain at DC in every phase, so that a constant passes unchanged at any ratio.
        for (int k = 0; k < kTaps; ++k) coefficients_[p][k] = float(row[k] / sum);
    }
    for (int p = 0; p < kPhases; ++p)
        for (int k = 0; k < kTaps; ++k) slopes_[p][k] = coefficients_[p + 1][k] - coefficients_[p][k];
}

CPolyphaseFilter::Span CPolyphaseFilter::At(double fraction) const
{
    const double scaled = fraction * kPhases;
    int p = int(scaled);
    if (p >= kPhases) p = kPhases - 1;  // fraction rounded up to 1
    return {coefficients_[p], slopes_[p], float(scaled - p)};
}
