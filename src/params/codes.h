// The codes of the file formats and of the likelihood, each named once: the
// trait values that mean "missing" and "in the spike", and the ln LH values
// that mark an impossible point.  Single-precision literals are compared in
// single precision (traits) or used at their widened double values.
#pragma once

namespace pedseg {

inline constexpr float TRAIT_MISSING_LIMIT = -998.0f;
inline constexpr float TRAIT_SPIKE_LIMIT = 998.0f;

// The penetrance treats y as missing (1 for every state).
inline bool trait_missing(float y) { return y <= TRAIT_MISSING_LIMIT; }
// The penetrance treats y as a spike value (the spike probability).
inline bool trait_in_spike(float y) { return y > TRAIT_SPIKE_LIMIT; }
// The set-up of a loose individual weights y's penetrance with the priors
// (the complement of trait_missing except for a NaN, which gets neither).
inline bool trait_above_missing(float y) { return y > TRAIT_MISSING_LIMIT; }
// y counts as measured: it gives its family weight and enters NMEAS.
inline bool trait_counts_measured(float y) { return y >= TRAIT_MISSING_LIMIT; }
// y counts in the spike (NSPIKE, the simulated samples' spike count).
inline bool trait_counts_spike(float y) { return y >= TRAIT_SPIKE_LIMIT; }

// -1.0E18 as a single-precision constant: the ln LH of an impossible point.
inline constexpr double LH_SENTINEL = static_cast<double>(-1.0E18f);  // -9.999999843067494E17
// 1.0E17 as a single-precision constant: ln LH at or below its negative is
// an impossible point.
inline constexpr double IMPOSSIBLE_LH_LIMIT = static_cast<double>(1.0E17f);  // 99999998430674944

inline bool impossible_lh(double lh) { return lh <= -IMPOSSIBLE_LH_LIMIT; }

}  // namespace pedseg
