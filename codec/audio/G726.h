#pragma once

#include <cstddef>
#include <cstdint>

namespace codec {

// ITU-T G.726 at 16 kbit/s: 2-bit codes, 8 kHz, linear 16-bit PCM in and out. The cameras carry
// it in blocks of 120 bytes (480 samples) that are each coded from the initial state, so a block
// decodes on its own.
//
// The result agrees bit for bit with FFmpeg's G.726 coder, which is what the cameras' peers and
// our own test camera use. Where that coder's arithmetic departs from the fixed-width registers of
// the ITU-T reference (wider sums, the rounding of the scale factor mix, the scaling between 16-bit
// PCM and the codec's 14-bit range), this code follows it; each place says so.
constexpr size_t kG726BlockBytes = 120;
constexpr size_t kG726BlockSamples = 480;

class G726Codec16 {
public:
    G726Codec16() { reset(); }

    // Back to the initial state: predictor coefficients and history cleared, scale factors at
    // their minimum, adaptation speed control unlocked.
    void reset();
    // One 2-bit code (the upper bits are ignored) into one sample.
    int16_t decode(unsigned code);
    // One sample into one 2-bit code; the state follows the decoder's, so the two stay in step.
    unsigned encode(int16_t sample);

private:
    // A value the predictor multiplies by: sign, exponent (bit length of the magnitude) and a
    // 6-bit mantissa whose top bit is set unless the value is 0.
    struct Float11 {
        uint8_t sign;
        uint8_t exponent;
        uint8_t mantissa;
    };

    // Reconstructs the sample of `code` (in the 14-bit domain, wrapped to 16 bits), adapts the
    // quantizer and the predictor, and prepares the estimate of the next sample.
    int update(unsigned code);
    // Signal estimate se (all eight taps) and sez (the six zeros), and the scale factor y.
    void predict();

    static Float11 toFloat11(int value);
    static int multiply(int coefficient, Float11 value);

    Float11 dq_[6]; // last six quantized differences, newest first
    Float11 sr_[2]; // last two reconstructed samples, newest first
    int a_[2];      // pole coefficients, 14 fractional bits
    int b_[6];      // zero coefficients, 14 fractional bits
    int pk_[2];     // signs (1 = negative) of the last two dq + sez
    int ap_;        // speed control: 0 adapts fast (speech), 256 locks slow (tones, data)
    int dms_;       // short-term mean of F[I], 9 fractional bits
    int dml_;       // long-term mean of F[I], 11 fractional bits
    int yu_;        // fast (unlocked) scale factor, 9 fractional bits
    int yl_;        // slow (locked) scale factor, 15 fractional bits
    int td_;        // tone detected on the previous sample
    int se_;        // estimate of the next sample
    int sez_;       // the zeros' share of it
    int y_;         // scale factor for the next sample
};

// One block from the initial state: 120 bytes of four codes each, the earliest code in the two most
// significant bits, into 480 samples.
void g726DecodeBlock(const uint8_t* in, int16_t* out);
// 480 samples from the initial state into 120 bytes, codes packed the same way.
void g726EncodeBlock(const int16_t* in, uint8_t* out);

} // namespace codec
