// How pedseg-models conditions on the way families were found: through
// probands (proband.dat).  Each family with an analysed proband contributes
//   ln P(all its traits) - ln P(its probands' traits)           (actual)
//   ln P(all its traits) - ln P(its probands' traits >= T)      (threshold)
// The denominator is the family's likelihood under a view of the traits in
// which only the probands are used (everyone else missing), peeled like the
// numerator, except that relatives through whom no proband is reached are
// summed out in closed form (likelihood/plan.h, Peeling).  Under a
// transformation the probands' actual values carry their Jacobian in both
// terms, so it cancels; a probability P(Y >= T) has none.
// Under threshold conditioning a proband in the spike counts above any T.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/trait_view.h"
#include "sample/sample.h"

namespace pedseg {

struct TraitAnalysis;

enum class Ascertainment : uint8_t { None, Actual, Threshold };

struct AscertainmentOptions {
  std::optional<Ascertainment> kind;  // nullopt: actual when proband.dat exists, else none
  std::optional<double> threshold;    // T; nullopt: the smallest proband value
};

struct Conditioning {
  Ascertainment kind = Ascertainment::None;
  double threshold = 0.0;  // T, as read (threshold conditioning)
  TraitData data;          // the denominator's traits: the probands only
  int32_t probands = 0;    // analysed probands conditioned on
  int32_t families = 0;    // families with one of them
  int32_t unconditioned = 0;  // families without (no proband, or none analysed)

  bool active() const { return kind != Ascertainment::None; }
};

// The conditioning of a loaded sample (read with SampleHooks::read_proband)
// under its analysis.  Throws InputError for conditioning asked for without
// proband.dat, for a threshold without a proband value to default to, and
// for a threshold the transformation cannot take.
Conditioning make_conditioning(const SampleTables& sample, const TraitAnalysis& analysis,
                               const AscertainmentOptions& options);

// The header line's words: what is conditioned on, and the families left
// unconditioned ("" when inactive).
std::string conditioning_text(const Conditioning& c);

// models.tsv with the columns ascertainment and unconditioned_families.
std::string with_conditioning_columns(const std::string& models_tsv, const Conditioning& c);

}  // namespace pedseg
