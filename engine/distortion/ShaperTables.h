#pragma once

#include <cmath>

#include "base/ExactMath.h"

// Measured transfer curves of the distortion's table voices. Each table maps the input level,
// -120 dBFS at entry 0 (|d| = 1e-6) to 0 dBFS at entry N (|d| = 1) in N equal steps of level,
// to an output magnitude. The data lives in the generated ShaperTables.cpp
// (tools/shaper-tables, target regenerate-shaper-tables).

namespace corvex {

constexpr int kShaperStepsA = 2400;  // 20 entries per dB
constexpr int kShaperStepsB = 6000;  // 50 entries per dB
constexpr int kShaperStepsC = 6000;  // 50 entries per dB
constexpr int kShaperStepsD = 24000; // 200 entries per dB

// Level span of every table: entry 0 is at -120 dBFS, entry N at 0 dBFS.
constexpr float kShaperRangeDb = 120.0f;

// Tables A and D have separate halves for positive and negative input; B and C are odd.
extern const float kShaperTableAPositive[kShaperStepsA + 1];
extern const float kShaperTableANegative[kShaperStepsA + 1];
extern const float kShaperTableB[kShaperStepsB + 1];
extern const float kShaperTableC[kShaperStepsC + 1];
extern const float kShaperTableDPositive[kShaperStepsD + 1];
extern const float kShaperTableDNegative[kShaperStepsD + 1];

constexpr int kShaperTableFloats =
    2 * (kShaperStepsA + 1) + (kShaperStepsB + 1) + (kShaperStepsC + 1) + 2 * (kShaperStepsD + 1);

struct ShaperTable {
    const float* afPositive;
    const float* afNegative;
    int iSteps;
};

inline constexpr ShaperTable kShaperA{kShaperTableAPositive, kShaperTableANegative, kShaperStepsA};
inline constexpr ShaperTable kShaperB{kShaperTableB, kShaperTableB, kShaperStepsB};
inline constexpr ShaperTable kShaperC{kShaperTableC, kShaperTableC, kShaperStepsC};
inline constexpr ShaperTable kShaperD{kShaperTableDPositive, kShaperTableDNegative, kShaperStepsD};

// log10|d| narrowed to float: the one logarithm all four table reads of a sample share.
inline float ShaperLog10(float d)
{
    return Log10ToFloat(static_cast<double>(std::fabs(d)));
}

// Level-indexed read of d, given fLog10 = ShaperLog10(d): linear interpolation between the two
// entries around the level; a negative d reads the negative half and negates the result.
inline float ShaperRead(const ShaperTable& table, float d, float fLog10)
{
    if (d == 0.0f)
        return 0.0f;
    const float fSteps = static_cast<float>(table.iSteps);
    float p = (20.0f * fLog10 + kShaperRangeDb) * fSteps / kShaperRangeDb;
    // Written so that a NaN position lands on entry 0 instead of an undefined index.
    if (!(p > 0.0f))
        p = 0.0f;
    if (p > fSteps)
        p = fSteps;
    const int i = static_cast<int>(p);
    const float f = p - static_cast<float>(i);
    const int j = i + 1 <= table.iSteps ? i + 1 : i;
    if (d > 0.0f)
        return (1.0f - f) * table.afPositive[i] + f * table.afPositive[j];
    return (f - 1.0f) * table.afNegative[i] - f * table.afNegative[j];
}

// Level-indexed read of one value.
inline float ShaperLookup(const ShaperTable& table, float d)
{
    return ShaperRead(table, d, d == 0.0f ? 0.0f : ShaperLog10(d));
}

} // namespace corvex
