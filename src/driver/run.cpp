#include "driver/run.h"

#include <cmath>
#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "params/codes.h"

namespace pedseg {

namespace {

// Why the starting point is impossible, in words, for standard error.
std::string impossible_start_reason(RunTables& t, const InitialProblem& problem) {
  switch (problem.kind) {
    case InitialProblem::Kind::Bound:
      return "the starting value of parameter " + std::to_string(problem.param) + " (" +
             param_description(problem.param) + "), " + shortest_text(problem.value) +
             ", lies outside its bounds " + shortest_text(problem.low) + " to " +
             shortest_text(problem.high) + "; see par.err";
    case InitialProblem::Kind::Frequency:
      return "the starting value of parameter " + std::to_string(SLOT_Q) + " (" +
             param_description(SLOT_Q) + "), " +
             shortest_text(problem.value) +
             ", gives no possible genotype frequencies (q must lie above 0 and at most 1); "
             "see par.err";
    case InitialProblem::Kind::Link:
      return "a parameter of par.inp is linked outside the parameters 1 to 20";
    case InitialProblem::Kind::None:
      break;
  }
  // The mapping took the point: the first family whose term fails.
  for (int32_t f = 1; f <= t.layout.nfam(); ++f) {
    if (!t.layout[f].evaluated || t.layout[f].size <= 0) continue;
    double T = 0.0;
    bool floor_hit = false;
    FAMILY_TERM_PLAIN(f, t.layout, *t.ped, t.model, t.poly, t.work, T, floor_hit);
    if (floor_hit || !std::isfinite(T))
      return "the likelihood of family " + std::to_string(f) + " vanishes at the starting values";
  }
  return "the likelihood vanishes at the starting values";
}

void write_sigma(const RunTables& t, OutputFile& sigma) {
  write_formatted(sigma, "('  Number of measured individuals =',I4)", {fmt_int(t.NMEAS)});
  write_formatted(sigma, "('  Number of individuals in spike=',I4)", {fmt_int(t.NSPIKE)});
  write_formatted(sigma,
                  "(1X,' Number of iteration =',I4,                         \t"
                  "/'  Number of functions =',I6,/1X, ' ln LH =',E20.8)",
                  {fmt_int(t.search.ITER_COUNT), fmt_int(t.search.EVAL_COUNT),
                   fmt_real(t.search.BEST_LH)});
  write_formatted(sigma, "(10X,' Parameter',7X,'Step')", {});
  for (int32_t i = 1; i <= NPAR_USED; ++i) {
    write_formatted(sigma, "(1X,I2,1X,2E15.6,3X,I2,1X,2E15.6)",
                    {fmt_int(i), fmt_real(t.par.PAR_VAL[i]), fmt_real(t.par.PAR_STEP[i])});
  }
}

}  // namespace

void run_analysis(RunTables& t, OutputFile& console, OutputFile& diagnostics,
                  const RunOptions& options) {
  // 1-9: the sample, with par.err created once par.inp is open.
  OutputFile par_err;
  SampleHooks hooks{&console, [&par_err] { open_output(par_err, "par.err"); }};
  load_sample(t, "", diagnostics, "pedseg", hooks);
  write_free(console, {fmt_text("Number of measured individuals ="), fmt_int(t.NMEAS)});
  write_free(console, {fmt_text("Number of individuals in spike ="), fmt_int(t.NSPIKE)});

  // 10-12: the evaluation at the starting values.
  std::unique_ptr<LikelihoodEngine> engine;
  if (!options.plain_likelihood)
    engine = std::make_unique<LikelihoodEngine>(*t.ped, t.layout, t.poly);
  InitialProblem problem;
  LikelihoodContext ctx{t.par, t.model, t.poly, *t.ped, t.work, par_err, -1, engine.get(),
                        &problem, &t.layout};
  SAMPLE_LOGLIK(ctx, t.INIT_LH);
  ctx.initial_problem = nullptr;
  write_formatted(console, "(' initial LH=',e15.8)", {fmt_real(t.INIT_LH)});
  if (impossible_lh(t.INIT_LH)) {
    write_text(diagnostics, "pedseg: " + impossible_start_reason(t, problem) + "\n");
    close_output(par_err);
    return;
  }

  // 13-15: the search.
  ctx.LH_MODE = 1;
  write_free(console, {fmt_text("MAX="), fmt_int(ctx.LH_MODE)});
  OutputFile max_dat;
  open_output(max_dat, "max.dat");
  SearchOutputs outs{max_dat, console, par_err};
  SearchSettings settings;
#ifdef PEDSEG_FUZZ_MAXIT
  settings.max_iterations = PEDSEG_FUZZ_MAXIT;  // fuzz builds: short searches
#endif
  const Objective objective = [&ctx](ParamTable&) {
    double ll = 0.0;
    SAMPLE_LOGLIK(ctx, ll);
    return ll;
  };
  t.search = search_with_reports(t.par.NPAR, settings, objective, t.par, outs);
  close_output(max_dat);

  // 16-18: results.
  OutputFile sigma;
  open_output(sigma, "sigma.dat");
  write_sigma(t, sigma);
  close_output(sigma);
  close_output(par_err);
  write_free(console, {fmt_text("**** END OF PROGRAM ****")});
}

int pedseg_main() { return pedseg_main(RunOptions{}); }

int pedseg_main(const RunOptions& options) {
  OutputFile console = output_stream(stdout, "standard output");
  OutputFile diagnostics = output_stream(stderr, "standard error");
  return run_with_exit_status("pedseg", stdout, stderr, [&] {
    // One instance of every table for the whole process; on the heap, since
    // its initialised members would otherwise put 30 MB into the executable.
    // Allocated here, where running out of memory is reported.
    auto tables = std::make_unique<RunTables>();
    run_analysis(*tables, console, diagnostics, options);
  });
}

}  // namespace pedseg
