// CPolyphaseFilter: the Kaiser-windowed sinc of the adaptive resampler, tabulated at kPhases
// fractional positions between two input frames. A position between two tabulated phases gets
// coefficients interpolated linearly between them, so any ratio works with one table.
#pragma once

class CPolyphaseFilter {
public:
    // 32 taps: with the Kaiser window below, images of everything up to 0.36 of the sample rate
    // stay about 100 dB down (below the 16-bit floor) at 2 × 32 multiply-adds per stereo frame.
    static constexpr int kTaps = 32;
    // 256 phases keep the error of the linear interpolation between them near -110 dB.
    static constexpr int kPhases = 256;

    // One immutable table for every resampler; built on first use, never on the audio path.
    static const CPolyphaseFilter& Shared();

    // The tabulated span holding a read position `fraction` (0 <= fraction < 1) past input frame
    // n: its coefficients are coefficients[k] + between × slopes[k], weighing input frame
    // n - kTaps / 2 + 1 + k. Both rows are 16-byte aligned.
    struct Span {
        const float* coefficients;
        const float* slopes;
        float between;
    };
    Span At(double fraction) const;

private:
    CPolyphaseFilter();

    // Row p holds phase p / kPhases; row kPhases (the next frame's phase 0) ends the last span.
    alignas(16) float coefficients_[kPhases + 1][kTaps];
    alignas(16) float slopes_[kPhases][kTaps];  // row p + 1 minus row p
};
