// Timing harness for the likelihood, run in a folder with par.inp, iway.dat
// and the trait file:
//
//   likbench eval [SECONDS]     evaluations per second of the plain and the
//                               fast family loop, one thread and all threads,
//                               with a check that all give the same bits
//   likbench run plain|fast     one whole run of the program (as pedseg) with
//                               that family loop
#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstring>
#include <memory>
#include <string>

#include "driver/run.h"
#include "likelihood/engine.h"

namespace {

using Clock = std::chrono::steady_clock;

// Evaluations at alternating points: `move_trait` changes the residual
// variance between points (penetrances recomputed every time); otherwise q
// moves (penetrances kept), as in the search's exploratory moves of q or a tau.
double cpu_seconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// Also gives the evaluations per CPU second of the process (all threads),
// which a busy machine disturbs less than the wall time.
double rate(pedseg::LikelihoodContext& ctx, double seconds, bool move_trait, double& last,
            double& per_cpu_second) {
  pedseg::ParamTable& par = ctx.par;
  const int slot = move_trait ? pedseg::SLOT_RES_VAR : pedseg::SLOT_Q;
  const double base = par.PAR_VAL[slot];
  int n = 0;
  const double c0 = cpu_seconds();
  const auto t0 = Clock::now();
  double elapsed = 0.0;
  while (elapsed < seconds || n < 3) {
    par.PAR_VAL[slot] = base * (n % 2 == 0 ? 1.0 : 1.001);
    pedseg::SAMPLE_LOGLIK(ctx, last);
    ++n;
    elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
  }
  per_cpu_second = n / (cpu_seconds() - c0);
  par.PAR_VAL[slot] = base;
  pedseg::SAMPLE_LOGLIK(ctx, last);  // the result compared: at the base point
  return n / elapsed;
}

int eval_bench(double seconds) {
  auto t = std::make_unique<pedseg::RunTables>();
  std::string diag_text, err_text;
  pedseg::OutputFile diag = pedseg::output_memory(diag_text, "diagnostics");
  pedseg::OutputFile err = pedseg::output_memory(err_text, "par.err");
  pedseg::load_sample(*t, "", diag, "likbench");
  pedseg::LikelihoodContext ctx{t->par, t->model, t->poly, *t->ped, t->work, err, -1,
                                nullptr, nullptr, &t->layout};
  double ll = 0.0;
  pedseg::SAMPLE_LOGLIK(ctx, ll);  // the initial mapping: links, nudges
  ctx.LH_MODE = 1;
  std::printf("individuals %d, families %d\n", t->ped->PED_START[t->ped->PED_START[0] + 1],
              t->ped->PED_START[0]);

  pedseg::LikelihoodEngine engine(*t->ped, t->layout, t->poly);
  const int all = engine.threads();
  struct Variant {
    const char* name;
    bool plain;
    int threads;
  };
  const Variant variants[] = {{"plain", true, 1}, {"fast-1", false, 1}, {"fast-all", false, all}};
  double ref[2] = {0.0, 0.0}, plain_rate[2] = {0.0, 0.0}, plain_cpu[2] = {0.0, 0.0};
  bool ok = true;
  for (const Variant& v : variants) {
    ctx.engine = v.plain ? nullptr : &engine;
    engine.set_threads(v.threads);
    for (int m = 0; m < 2; ++m) {
      double last = 0.0, cpu = 0.0;
      const double r = rate(ctx, seconds, m == 1, last, cpu);
      if (v.plain) {
        ref[m] = last;
        plain_rate[m] = r;
        plain_cpu[m] = cpu;
      } else if (std::memcmp(&last, &ref[m], sizeof last) != 0) {
        ok = false;
      }
      std::printf(
          "%-9s threads %d  %-22s %8.2f evaluations/s (x %5.2f), %8.2f per CPU s (x %5.2f)"
          "  ln LH %.17g\n",
          v.name, v.threads, m == 1 ? "trait parameter moves" : "q moves", r, r / plain_rate[m],
          cpu, cpu / plain_cpu[m], last);
    }
  }
  std::printf("%s\n", ok ? "identical results" : "RESULTS DIFFER");
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "eval") == 0) {
    return eval_bench(argc >= 3 ? std::atof(argv[2]) : 3.0);
  }
  if (argc >= 3 && std::strcmp(argv[1], "run") == 0) {
    pedseg::RunOptions options;
    options.plain_likelihood = std::strcmp(argv[2], "plain") == 0;
    return pedseg::pedseg_main(options);
  }
  std::fprintf(stderr, "usage: likbench eval [SECONDS] | likbench run plain|fast\n");
  return 1;
}
