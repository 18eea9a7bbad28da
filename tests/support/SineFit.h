// Least-squares fit of a sine of known frequency (amplitude, phase and DC) to a signal, and what
// is left once it is subtracted: THD+N relative to the sine.
#pragma once

#include <cmath>
#include <vector>

struct SineFit {
    double amplitude = 0;
    double phase = 0;         // of sin(omega × n + phase), n counted from the first sample
    double thdPlusNoiseDb = 0;  // residual power over the fitted sine's power
};

// omega in radians per sample.
inline SineFit FitSine(const std::vector<double>& y, double omega)
{
    // Normal equations of y ≈ a sin + b cos + c.
    double m[3][4] = {};
    for (size_t n = 0; n < y.size(); ++n) {
        const double v[3] = {std::sin(omega * n), std::cos(omega * n), 1};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) m[i][j] += v[i] * v[j];
            m[i][3] += v[i] * y[n];
        }
    }
    for (int i = 0; i < 3; ++i)
        for (int k = i + 1; k < 3; ++k) {
            const double f = m[k][i] / m[i][i];
            for (int j = i; j < 4; ++j) m[k][j] -= f * m[i][j];
        }
    double x[3];
    for (int i = 2; i >= 0; --i) {
        double s = m[i][3];
        for (int j = i + 1; j < 3; ++j) s -= m[i][j] * x[j];
        x[i] = s / m[i][i];
    }
    double residual = 0, sine = 0;
    for (size_t n = 0; n < y.size(); ++n) {
        const double s = x[0] * std::sin(omega * n) + x[1] * std::cos(omega * n);
        residual += (y[n] - s - x[2]) * (y[n] - s - x[2]);
        sine += s * s;
    }
    return {std::hypot(x[0], x[1]), std::atan2(x[1], x[0]), 10 * std::log10(residual / sine)};
}
