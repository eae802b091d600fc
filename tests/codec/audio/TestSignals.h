#pragma once

// Test signals at 8 kHz for the audio codecs, and the measure of how well they come back.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

namespace audiotest {

constexpr double kRate = 8000.0;

// Voiced speech stand-in: harmonics of a pitch gliding around 140 Hz (falling 6 dB per octave),
// shaped by three slowly moving formants, under a syllable envelope of 2.5 Hz with pauses in
// between, scaled to `peak`.
inline std::vector<int16_t> speechLike(size_t count, double peak = 20000.0) {
    constexpr double kPi = std::numbers::pi;
    constexpr double kFormant[3] = {700.0, 1220.0, 2600.0};
    constexpr double kWidth[3] = {130.0, 180.0, 250.0};
    constexpr double kGain[3] = {1.0, 0.6, 0.3};
    std::vector<double> raw(count);
    double phase = 0.0;
    double largest = 1e-9;
    for (size_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double pitch =
            140.0 + 40.0 * std::sin(2 * kPi * 0.8 * t) + 15.0 * std::sin(2 * kPi * 2.3 * t);
        phase += 2 * kPi * pitch / kRate;
        double value = 0.0;
        for (int k = 1; k * pitch < 3600.0; ++k) {
            double gain = 0.0;
            for (int j = 0; j < 3; ++j) {
                const double centre = kFormant[j] * (1.0 + 0.1 * std::sin(2 * kPi * 1.3 * t + j));
                const double x = (k * pitch - centre) / kWidth[j];
                gain += kGain[j] / (1.0 + x * x);
            }
            value += gain * std::sin(k * phase) / k;
        }
        const double envelope = std::pow(std::max(0.0, std::sin(2 * kPi * 2.5 * t)), 0.6);
        raw[i] = value * envelope;
        largest = std::max(largest, std::abs(raw[i]));
    }
    std::vector<int16_t> out(count);
    for (size_t i = 0; i < count; ++i)
        out[i] = static_cast<int16_t>(std::lround(raw[i] / largest * peak));
    return out;
}

// Gaussian white noise of standard deviation `sigma`, clipped to 16 bits.
inline std::vector<int16_t> whiteNoise(size_t count, double sigma, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> normal(0.0, sigma);
    std::vector<int16_t> out(count);
    for (int16_t& sample : out)
        sample = static_cast<int16_t>(std::clamp(std::lround(normal(random)), -32768L, 32767L));
    return out;
}

// Full-scale square wave: `halfPeriod` samples at +32767, then as many at -32768.
inline std::vector<int16_t> squareWave(size_t count, size_t halfPeriod) {
    std::vector<int16_t> out(count);
    for (size_t i = 0; i < count; ++i)
        out[i] = (i / halfPeriod) % 2 == 0 ? int16_t{32767} : int16_t{-32768};
    return out;
}

// Sine sweep from `from` to `to` Hz at amplitude `amplitude`.
inline std::vector<int16_t> sweep(size_t count, double from, double to, double amplitude) {
    std::vector<int16_t> out(count);
    double phase = 0.0;
    for (size_t i = 0; i < count; ++i) {
        const double f = from + (to - from) * static_cast<double>(i) / static_cast<double>(count);
        phase += 2 * std::numbers::pi * f / kRate;
        out[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(phase)));
    }
    return out;
}

// Signal-to-noise ratio of `decoded` against `original`, in dB.
inline double snrDb(const std::vector<int16_t>& original, const std::vector<int16_t>& decoded) {
    double signal = 0.0;
    double noise = 0.0;
    const size_t count = std::min(original.size(), decoded.size());
    for (size_t i = 0; i < count; ++i) {
        const double d = static_cast<double>(original[i]) - decoded[i];
        signal += static_cast<double>(original[i]) * original[i];
        noise += d * d;
    }
    return 10.0 * std::log10(signal / std::max(noise, 1e-9));
}

} // namespace audiotest
