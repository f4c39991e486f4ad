#include "models/fit.h"

#include <vector>

#include "likelihood/fast.h"
#include "search/search.h"

namespace pedseg {

void load_sample(SampleTables& s, OutputFile& diagnostics, const std::string& program) {
  s.poly.NLOCI = 3;
  s.poly.NCLASS = 7;
  {
    InputFile par_inp = open_input("par.inp");
    s.par.NPAR = NPAR_USED;
    READ_PARAMETERS(par_inp, s.par);
  }
  BUILD_TRANS_POLY(s.poly);
  BUILD_POLY_PRIOR(s.poly);
  std::string reader_lines;  // the reader's console line is pedseg's, not ours
  OutputFile reader_console = output_memory(reader_lines, "console");
  READ_PEDIGREE(s.par.TRAIT_FILE_NAME, *s.ped, reader_console);
  std::vector<std::string> errors, warnings;
  const bool ok = validate_pedigree(*s.ped, errors, warnings);
  for (const std::string& w : warnings) write_text(diagnostics, program + ": warning: " + w + "\n");
  if (!ok) {
    std::string message = "the pedigree structure in iway.dat cannot be analysed:";
    for (const std::string& e : errors) message += "\n  " + e;
    throw InputError{message};
  }
  const PedigreeTables& ped = *s.ped;
  s.NMEAS = s.NSPIKE = 0;
  for (int32_t f = 1; f <= ped.NFAM; ++f) {
    for (int32_t i = ped.PED_START[f] + 1; i <= ped.PED_START[f + 1]; ++i) {
      if (ped.TRAIT[i] >= -998.0f) ++s.NMEAS;
      if (ped.TRAIT[i] >= 998.0f) ++s.NSPIKE;
    }
  }
}

Fitter::Fitter(SampleTables& sample, int32_t threads) : sample_(sample) {
  set_likelihood_threads(threads);
}

double Fitter::families(const ModelQuantities& model) {
  ++evaluations_;
  double LL = 0.0;
  FAMILIES_LOGLIK_FAST(*sample_.ped, model, sample_.poly, *sample_.work, LL);
  return LL;
}

namespace {

// A fresh set of quantities for every evaluation: the mapping leaves the
// transmission table alone when no tau is free, so it must start Mendelian.
void apply_rule(const ParamTable& par, TransRule rule, ModelQuantities& m) {
  if (rule == TransRule::TausEqualQ) {
    const double q = par.PAR_VAL[1];
    BUILD_TRANS_MAJOR(m, q, q, q);
  } else if (rule == TransRule::Taus) {
    BUILD_TRANS_MAJOR(m, par.PAR_VAL[8], par.PAR_VAL[9], par.PAR_VAL[10]);
  }
}

}  // namespace

double Fitter::evaluate(ParamTable& par, TransRule rule) {
  ModelQuantities m;
  double status = 1.0;
  SET_MODEL_SEARCH(par, m, status);
  if (status + static_cast<double>(1.0E18f) <= 0.0) return LH_SENTINEL;
  apply_rule(par, rule, m);
  return families(m);
}

double Fitter::evaluate_initial(ParamTable& par, TransRule rule, std::string& messages) {
  ModelQuantities m;
  double status = 1.0;
  OutputFile err = output_memory(messages, "par.err");
  SET_MODEL_INITIAL(par, m, err, status);
  if (status + static_cast<double>(1.0E18f) <= 0.0) return LH_SENTINEL;
  apply_rule(par, rule, m);
  return families(m);
}

bool Fitter::quantities(ParamTable par, TransRule rule, ModelQuantities& model) {
  model = ModelQuantities{};
  double status = 1.0;
  SET_MODEL_SEARCH(par, model, status);
  if (status + static_cast<double>(1.0E18f) <= 0.0) return false;
  apply_rule(par, rule, model);
  return true;
}

SearchRun Fitter::search(ParamTable& par, TransRule rule, const FitProgress& progress) {
  SearchRun run;
  const double initial = evaluate_initial(par, rule, run.messages);
  if (initial <= -static_cast<double>(1.0E17f)) {
    run.impossible_start = true;
    run.lnL = initial;
    return run;
  }
  std::string max_dat_text, console_text;
  OutputFile max_dat = output_memory(max_dat_text, "max.dat");
  OutputFile console = output_memory(console_text, "console");
  OutputFile par_err = output_memory(run.messages, "par.err");
  SearchOutputs outs{max_dat, console, par_err};
  double best = initial;
  int32_t count = 0;
  Objective objective = [&](double& ll) {
    ll = evaluate(par, rule);
    ++count;
    if (ll > best) best = ll;
    if (progress) progress(count, best);
    // The console line of every iteration is not wanted: keep the buffer small.
    console_text.clear();
  };
  SearchResults results;
  const int32_t npar = par.NPAR;
  const int32_t print = 0;
#ifdef PEDSEG_FUZZ_MAXIT
  const int32_t maxit = PEDSEG_FUZZ_MAXIT;
#else
  const int32_t maxit = SEARCH_MAXIT;
#endif
  const size_t before = run.messages.size();
  DIRECT_SEARCH(npar, SEARCH_EPS, SEARCH_PULL, SEARCH_RTOL, maxit, print, objective, par, results,
                outs);
  run.lnL = results.BEST_LH;
  run.iterations = results.ITER_COUNT;
  run.evaluations = results.EVAL_COUNT;
  run.iteration_limit = run.messages.find("MAXIMUM NOT FOUND", before) != std::string::npos;
  return run;
}

}  // namespace pedseg
