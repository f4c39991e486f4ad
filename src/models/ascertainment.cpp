#include "models/ascertainment.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "models/analysis.h"
#include "models/models.h"
#include "params/codes.h"
#include "textio/textio.h"

namespace pedseg {

Conditioning make_conditioning(const SampleTables& sample, const TraitAnalysis& analysis,
                               const AscertainmentOptions& options) {
  Conditioning c;
  const bool have = !sample.proband.empty();
  c.kind = options.kind.value_or(have ? Ascertainment::Actual : Ascertainment::None);
  if (!c.active()) return c;
  if (!have)
    throw InputError{std::string("--ascertainment needs ") + PROBAND_FILE_NAME +
                     " in the folder (ped2iway --proband)"};
  const TraitData& num = analysis.data;
  const std::vector<uint8_t>& proband = sample.proband;
  const bool threshold = c.kind == Ascertainment::Threshold;
  if (threshold) {
    double smallest = std::numeric_limits<double>::infinity();
    for (size_t i = 1; i < num.use.size(); ++i)
      if (proband[i] != 0 && num.use[i] == TraitUse::Value && num.y[i] < smallest)
        smallest = num.y[i];
    if (options.threshold) {
      c.threshold = *options.threshold;
    } else if (smallest < std::numeric_limits<double>::infinity()) {
      c.threshold = smallest;
    } else {
      throw InputError{"threshold conditioning: no proband has a value to take T from; give "
                       "--threshold"};
    }
    if (num.transform != Transform::None && !(c.threshold + num.shift > 0.0))
      throw InputError{"--threshold: T plus lambda2 must be above 0 under the transformation"};
  }

  // The denominator: the analysed probands with their uses (actual values)
  // or at T (threshold, the spike included); the Jacobian of the probands'
  // values only.
  TraitData& d = c.data;
  d = num;
  d.sum_log = 0.0;
  d.values = 0;
  for (size_t i = 1; i < d.use.size(); ++i) {
    if (proband[i] == 0 || num.use[i] == TraitUse::Missing) {
      d.use[i] = TraitUse::Missing;
      continue;
    }
    ++c.probands;
    if (threshold) {
      d.use[i] = TraitUse::Threshold;
      d.y[i] = c.threshold;
    } else if (d.use[i] == TraitUse::Value && d.transform != Transform::None) {
      d.sum_log += std::log((d.y[i] + d.shift) / d.geo_mean);
      ++d.values;
    }
  }
  const PedigreeTables& ped = *sample.ped;
  for (int32_t f = 1; f <= ped.PED_START[0]; ++f) {
    const int32_t start = ped.PED_START[f], size = ped.PED_START[f + 1] - start;
    bool any = false;
    for (int32_t k = 1; k <= size; ++k) any = any || d.use[start + k] != TraitUse::Missing;
    ++(any ? c.families : c.unconditioned);
  }
  return c;
}

std::string conditioning_text(const Conditioning& c) {
  if (!c.active()) return "";
  char buf[300];
  if (c.kind == Ascertainment::Actual) {
    std::snprintf(buf, sizeof buf, "conditioned on the trait values of %d probands in %d families",
                  c.probands, c.families);
  } else {
    std::snprintf(buf, sizeof buf,
                  "conditioned on %d probands in %d families having values of at least T = %.9g",
                  c.probands, c.families, c.threshold);
  }
  return std::string(buf) + "; " + std::to_string(c.unconditioned) +
         " families without an analysed proband, not conditioned";
}

std::string with_conditioning_columns(const std::string& models_tsv, const Conditioning& c) {
  char buf[64];
  if (c.kind == Ascertainment::Actual) {
    std::snprintf(buf, sizeof buf, "actual");
  } else {
    std::snprintf(buf, sizeof buf, "threshold %.17g", c.threshold);
  }
  const std::string extra = std::string(buf) + "\t" + std::to_string(c.unconditioned);
  return with_columns(models_tsv, "ascertainment\tunconditioned_families",
                      [&](const std::string&) { return extra; });
}

}  // namespace pedseg
