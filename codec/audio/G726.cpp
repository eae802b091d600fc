#include "audio/G726.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <iterator>

namespace codec {

namespace {

// The 16 kbit/s quantizer has four levels: a sign and a magnitude |I| of 0 or 1. A negative
// difference sends the ones' complement of |I|, so the codes are 0 (+small), 1 (+large),
// 2 (-large) and 3 (-small).
//
// Levels are in the log domain, log2|d| - y with 7 fractional bits: differences at or above 2.04
// are large, and the two magnitudes are rebuilt as 0.91 and 2.85.
constexpr int kDecisionLevel = 261;
constexpr int kReconstructionLevel[2] = {116, 365};
// Scale factor multiplier W(|I|): -1.38 and 27.44, 4 fractional bits.
constexpr int kScaleMultiplier[2] = {-22, 439};
// F(|I|), the rate of large codes that the speed control averages.
constexpr int kSpeedFunction[2] = {0, 7};

constexpr int kScaleMin = 544;  // 1.06 with 9 fractional bits
constexpr int kScaleMax = 5120; // 10.0

int magnitudeLevel(unsigned code) {
    return (code & 2) ? 3 - static_cast<int>(code) : static_cast<int>(code);
}

} // namespace

G726Codec16::Float11 G726Codec16::toFloat11(int value) {
    // 32768 (a reconstruction of -32768) keeps exponent 16 rather than being masked to 15 bits;
    // FFmpeg does the same, and the difference shows after overloads.
    const auto magnitude = static_cast<unsigned>(std::abs(value));
    const int exponent = std::bit_width(magnitude);
    const int mantissa = magnitude != 0 ? static_cast<int>((magnitude << 6) >> exponent) : 32;
    return {static_cast<uint8_t>(value < 0), static_cast<uint8_t>(exponent),
            static_cast<uint8_t>(mantissa)};
}

// FMULT: coefficient (16 bits, 14 fractional) times a Float11 value, in the floating-point form
// with 6-bit mantissas, so the result depends only on the leading bits of both.
int G726Codec16::multiply(int coefficient, Float11 value) {
    const Float11 c = toFloat11(coefficient >> 2);
    const int exponent = c.exponent + value.exponent;
    const int mantissa = (c.mantissa * value.mantissa + 48) >> 4;
    const int magnitude = exponent > 19 ? mantissa << (exponent - 19) : mantissa >> (19 - exponent);
    // The product is kept to 16 bits as a two's complement value (not as a 15-bit magnitude with
    // a sign): after overloads the two differ, and FFmpeg wraps.
    return static_cast<int16_t>(value.sign != c.sign ? -magnitude : magnitude);
}

void G726Codec16::reset() {
    for (Float11& dq : dq_)
        dq = {0, 0, 32};
    for (Float11& sr : sr_)
        sr = {0, 0, 32};
    a_[0] = a_[1] = 0;
    std::fill(std::begin(b_), std::end(b_), 0);
    pk_[0] = pk_[1] = 0;
    ap_ = 0;
    dms_ = 0;
    dml_ = 0;
    yu_ = kScaleMin;
    yl_ = 34816; // yu's minimum with 15 fractional bits
    td_ = 0;
    predict();
}

void G726Codec16::predict() {
    // The sums run in full int width rather than 16-bit registers. With sane input they never
    // leave 16 bits; after overloads (garbage codes, a predictor driven to its limits) they do,
    // and FFmpeg does not wrap them either.
    int sez = 0;
    for (int i = 0; i < 6; ++i)
        sez += multiply(b_[i], dq_[i]);
    const int se = sez + multiply(a_[0], sr_[0]) + multiply(a_[1], sr_[1]);
    sez_ = sez >> 1;
    se_ = se >> 1;

    // Mix of the fast and slow scale factors by the speed control. The rounding is a floor of the
    // whole sum (as in FFmpeg) rather than the ITU-T block's truncation of the magnitude of the
    // product; they differ by one unit now and then, which is enough to change codes.
    const int al = ap_ >= 256 ? 64 : ap_ >> 2;
    y_ = (yl_ + (yu_ - (yl_ >> 6)) * al) >> 6;
}

int G726Codec16::update(unsigned code) {
    code &= 3;
    const int sign = static_cast<int>(code >> 1);
    const int level = magnitudeLevel(code);

    // Inverse quantizer: back from the log domain. dql stays below 2048 for this rate, so it is
    // never the negative (zero output) case of the general block.
    const int dql = kReconstructionLevel[level] + (y_ >> 2);
    const int dqMagnitude = ((128 + (dql & 127)) << 7) >> (14 - (dql >> 7));
    const int dq = sign ? -dqMagnitude : dqMagnitude;

    // Reconstruction wraps to 16 bits, as a 16-bit register would; dq + sez keeps its full width
    // for the sign that drives the pole adaptation.
    const int sr = static_cast<int16_t>(se_ + dq);
    const int dqsez = sez_ + dq;
    const int pk0 = dqsez < 0;
    const bool zeroSum = dqsez == 0;

    // Transition detector: a large difference right after a tone means the tone ended; the
    // predictor is then cleared and the fast scale factor takes over.
    const int ylInt = yl_ >> 15;
    const int ylFrac = (yl_ >> 10) & 31;
    const int threshold = ylInt > 9 ? 31 << 10 : (32 + ylFrac) << ylInt;
    const bool transition = td_ == 1 && dqMagnitude > ((threshold + (threshold >> 1)) >> 1);

    // Pole coefficients, a2 first since a1's limit depends on the new a2.
    const int a1 = a_[0];
    const int a2 = a_[1];
    const bool pks1 = (pk0 ^ pk_[0]) != 0;
    const bool pks2 = (pk0 ^ pk_[1]) != 0;
    const int fa1 = 4 * std::clamp(a1, -8191, 8191);
    const int gradient2 = (pks2 ? -16384 : 16384) + (pks1 ? fa1 : -fa1);
    int newA2 = a2 + (zeroSum ? 0 : gradient2 >> 7) - (a2 >> 7);
    newA2 = std::clamp(newA2, -12288, 12288);
    const int gradient1 = zeroSum ? 0 : (pks1 ? -192 : 192);
    const int a1Limit = 15360 - newA2;
    const int newA1 = std::clamp(a1 + gradient1 - (a1 >> 8), -a1Limit, a1Limit);

    // A strongly negative a2 means a narrow-band signal (tone or modem), which locks the speed
    // control to slow adaptation.
    const int toneNow = newA2 < -11776;

    if (transition) {
        a_[0] = a_[1] = 0;
        std::fill(std::begin(b_), std::end(b_), 0);
    } else {
        a_[0] = newA1;
        a_[1] = newA2;
        // Zero coefficients: sign-sign adaptation with leakage 2^-8. They stay plain ints: one at
        // its bound (+-2.0 = 32768) must not wrap, which is again what FFmpeg does.
        for (int i = 0; i < 6; ++i) {
            const int gradient = dqMagnitude == 0 ? 0 : (dq_[i].sign != sign ? -128 : 128);
            b_[i] += gradient - (b_[i] >> 8);
        }
    }
    td_ = transition ? 0 : toneNow;

    // Adaptation speed control: ap moves towards 1 (fast) when the short and long means of F
    // disagree, the scale is small or a tone is present, and towards 0 otherwise.
    const int f = kSpeedFunction[level];
    dms_ += ((f << 9) - dms_) >> 5;
    dml_ += ((f << 11) - dml_) >> 7;
    const bool stationary =
        y_ >= 1536 && std::abs((dms_ << 2) - dml_) < (dml_ >> 3) && toneNow == 0;
    ap_ = transition ? 256 : ap_ + ((((stationary ? 0 : 1) << 9) - ap_) >> 4);

    // Scale factors: yu follows log|dq| quickly, yl follows yu slowly.
    yu_ = std::clamp(y_ + (((kScaleMultiplier[level] << 5) - y_) >> 5), kScaleMin, kScaleMax);
    yl_ += yu_ + ((-yl_) >> 6);

    for (int i = 5; i > 0; --i)
        dq_[i] = dq_[i - 1];
    dq_[0] = toFloat11(dqMagnitude);
    dq_[0].sign = static_cast<uint8_t>(sign); // a zero difference keeps the sign of its code
    sr_[1] = sr_[0];
    sr_[0] = toFloat11(sr);
    pk_[1] = pk_[0];
    pk_[0] = pk0;

    predict();
    return sr;
}

int16_t G726Codec16::decode(unsigned code) {
    // Back from 14 to 16 bits. An overloaded reconstruction is limited to +-65535 and then only its
    // low 16 bits are kept, so it wraps instead of saturating. That is audible only on streams
    // that are already broken, and it is what FFmpeg's decoder puts out, bit for bit.
    const int scaled = std::clamp(update(code) * 4, -65535, 65535);
    return static_cast<int16_t>(scaled);
}

unsigned G726Codec16::encode(int16_t sample) {
    // Into the codec's 14-bit range by division, which rounds negative samples towards zero (an
    // arithmetic shift would round them down); FFmpeg's encoder divides, and its codes differ
    // otherwise.
    const int d = sample / 4 - se_;
    const auto magnitude = static_cast<unsigned>(std::abs(d));
    const int exponent = magnitude > 1 ? std::bit_width(magnitude) - 1 : 0;
    const int mantissa = static_cast<int>((magnitude << 7) >> exponent) & 127;
    const int dln = (exponent << 7) + mantissa - (y_ >> 2);
    const int level = dln >= kDecisionLevel ? 1 : 0;
    const unsigned code = d < 0 ? static_cast<unsigned>(3 - level) : static_cast<unsigned>(level);
    update(code);
    return code;
}

void g726DecodeBlock(const uint8_t* in, int16_t* out) {
    G726Codec16 codec;
    for (size_t i = 0; i < kG726BlockBytes; ++i) {
        for (int shift = 6; shift >= 0; shift -= 2)
            *out++ = codec.decode(in[i] >> shift);
    }
}

void g726EncodeBlock(const int16_t* in, uint8_t* out) {
    G726Codec16 codec;
    for (size_t i = 0; i < kG726BlockBytes; ++i) {
        unsigned byte = 0;
        for (int k = 0; k < 4; ++k)
            byte = (byte << 2) | codec.encode(*in++);
        out[i] = static_cast<uint8_t>(byte);
    }
}

} // namespace codec
