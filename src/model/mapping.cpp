// Parameter mapping: links, bound checks, genotype frequencies, the major-gene
// transmission table and the copies into the model quantities.
#include <algorithm>
#include <cstdint>
#include <iterator>

#include "model/model.h"

namespace pedseg {

namespace {

constexpr const char* BOUND_FORMAT =
    "(' ERROR OF INITIAL PARAMETER VALUE:',/,8x,a3,'=',           E11.4,/,2x,' GL=',E11.4,"
    "' GR=',E11.4)";
constexpr const char* FREQ_FORMAT = "(' ERROR: P1=',E11.4)";

const char* label_of(int i) { return i >= 1 && i < std::ssize(PAR_LABEL) ? PAR_LABEL[i] : "     "; }

// Genotype frequencies in Hardy-Weinberg proportions; genotype 1 takes the
// remainder from 1.
void set_frequencies(const ParamTable& par, ModelQuantities& model) {
  const double q = par.PAR_VAL[SLOT_Q];
  model.GEN_FREQ[3] = (1.0 - q) * (1.0 - q);
  model.GEN_FREQ[2] = q * (2.0 * (1.0 - q));
  model.GEN_FREQ[1] = (1.0 - model.GEN_FREQ[2]) - model.GEN_FREQ[3];
}

// The heterozygote frequency is negative exactly when q lies outside [0, 1];
// such a point has no meaning as a population and is never evaluated.
bool frequencies_negative(const ModelQuantities& model) { return model.GEN_FREQ[2] < 0.0; }

// Rebuilds TRANS_MAJOR from the three transmission probabilities, but only
// when the transmission flags do not sum to 0 (the table otherwise keeps its
// Mendelian contents).
void set_transmission(const ParamTable& par, ModelQuantities& model) {
  const int64_t flags = static_cast<int64_t>(par.PAR_EST[SLOT_TAU1]) + par.PAR_EST[SLOT_TAU2] +
                        par.PAR_EST[SLOT_TAU3];
  if (flags == 0) return;
  BUILD_TRANS_MAJOR(model, par.PAR_VAL[SLOT_TAU1], par.PAR_VAL[SLOT_TAU2], par.PAR_VAL[SLOT_TAU3]);
}

void set_copies(const ParamTable& par, ModelQuantities& model) {
  for (int g = 1; g <= 3; ++g) {
    model.SPIKE_PROB[g] = par.PAR_VAL[spike_slot(g)];
    model.GEN_MEAN[g] = par.PAR_VAL[mean_slot(g)];
  }
  model.POLY_EFFECT = par.PAR_VAL[SLOT_POLY_EFFECT];
  model.RES_VAR = par.PAR_VAL[SLOT_RES_VAR];
}

void write_bound_message(OutputFile& par_err, const ParamTable& par, int i) {
  write_formatted(par_err, BOUND_FORMAT,
                  {fmt_text(label_of(i)), fmt_real(par.PAR_VAL[i]), fmt_real(par.PAR_LOW[i]),
                   fmt_real(par.PAR_HIGH[i])});
}

// Bound test of the initial evaluation: reports and rejects a value outside
// its bounds, moves a value lying exactly on a bound inward when its flag is
// exactly 1.
bool initial_bounds(ParamTable& par, OutputFile& par_err, InitialProblem* problem) {
  auto reject = [&](int i) {
    write_bound_message(par_err, par, i);
    if (problem != nullptr)
      *problem = {InitialProblem::Kind::Bound, i, par.PAR_VAL[i], par.PAR_LOW[i], par.PAR_HIGH[i]};
    return false;
  };
  const int n = used_slots(par);
  for (int i = 1; i <= n; ++i) {
    if (par.PAR_EST[i] == 0) continue;
    const double below = par.PAR_VAL[i] - par.PAR_LOW[i];
    if (below < 0.0) return reject(i);
    if (below == 0.0 && par.PAR_EST[i] == 1) par.PAR_VAL[i] = par.PAR_LOW[i] + BOUND_NUDGE;
    const double above = par.PAR_HIGH[i] - par.PAR_VAL[i];
    if (above < 0.0) return reject(i);
    if (above == 0.0 && par.PAR_EST[i] == 1) par.PAR_VAL[i] = par.PAR_HIGH[i] - BOUND_NUDGE;
  }
  return true;
}

// Bound test of the search: every free value strictly inside its bounds.
bool search_bounds(const ParamTable& par) {
  const int n = used_slots(par);
  for (int i = 1; i <= n; ++i) {
    if (par.PAR_EST[i] == 0) continue;
    if (par.PAR_VAL[i] - par.PAR_LOW[i] <= 0.0) return false;
    if (par.PAR_HIGH[i] - par.PAR_VAL[i] <= 0.0) return false;
  }
  return true;
}

}  // namespace

void BUILD_TRANS_MAJOR(ModelQuantities& model, double tau1, double tau2, double tau3) {
  model.TAU[1] = tau1;
  model.TAU[2] = tau2;
  model.TAU[3] = tau3;
  for (int i = 1; i <= 3; ++i) {
    for (int j = 1; j <= 3; ++j) {
      const double ti = model.TAU[i];
      const double tj = model.TAU[j];
      double* cell = &model.TRANS_MAJOR[3 * (i - 1) + 9 * (j - 1)];
      cell[0] = ti * tj;
      cell[1] = ti * (1.0 - tj) + (1.0 - ti) * tj;
      cell[2] = (1.0 - ti) * (1.0 - tj);
    }
  }
}

void SET_MODEL_INITIAL(ParamTable& par, ModelQuantities& model, OutputFile& par_err,
                       double& MODEL_STATUS, InitialProblem* problem) {
  MODEL_STATUS = 1.0;
  if (problem != nullptr) *problem = InitialProblem{};
  if (!apply_links(par)) {
    if (problem != nullptr) problem->kind = InitialProblem::Kind::Link;
    MODEL_STATUS = LH_SENTINEL;
    return;
  }
  if (!initial_bounds(par, par_err, problem)) {
    MODEL_STATUS = LH_SENTINEL;
    return;
  }
  set_copies(par, model);
  set_frequencies(par, model);
  if (model.GEN_FREQ[1] <= 0.0 || frequencies_negative(model)) {
    write_formatted(par_err, FREQ_FORMAT, {fmt_real(model.GEN_FREQ[3])});
    if (problem != nullptr)
      *problem = {InitialProblem::Kind::Frequency, SLOT_Q, par.PAR_VAL[SLOT_Q],
                  par.PAR_LOW[SLOT_Q], par.PAR_HIGH[SLOT_Q]};
    MODEL_STATUS = LH_SENTINEL;
    return;
  }
  set_transmission(par, model);
}

void SET_MODEL_SEARCH(ParamTable& par, ModelQuantities& model, double& MODEL_STATUS) {
  MODEL_STATUS = 1.0;
  if (!apply_links(par) || !search_bounds(par)) {
    MODEL_STATUS = LH_SENTINEL;
    return;
  }
  set_frequencies(par, model);
  if (!(model.GEN_FREQ[1] > 0.0 && model.GEN_FREQ[1] < 1.0) || frequencies_negative(model)) {
    MODEL_STATUS = LH_SENTINEL;
    return;
  }
  set_transmission(par, model);
  set_copies(par, model);
}

}  // namespace pedseg
