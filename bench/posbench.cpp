// Timing of the genotype posteriors, run in a folder with par.inp, iway.dat
// and the trait file:
//
//   posbench [FAMILIES]
//
// Both methods at the starting values of par.inp: the outward pass on every
// family, the re-peeling on the first FAMILIES families (default all), with
// the seconds per method, per family and per individual and the largest
// difference between the two.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "driver/run.h"
#include "posteriors/posteriors.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  auto t = std::make_unique<pedseg::RunTables>();
  std::string diag_text, err_text;
  pedseg::OutputFile diag = pedseg::output_memory(diag_text, "diagnostics");
  pedseg::OutputFile err = pedseg::output_memory(err_text, "par.err");
  pedseg::load_sample(*t, "", diag, "posbench");
  double status = 0.0;
  pedseg::SET_MODEL_INITIAL(t->par, t->model, err, status);
  const int nfam = t->ped->PED_START[0];
  const int sub = argc >= 2 ? std::clamp(std::atoi(argv[1]), 1, nfam) : nfam;

  auto t0 = std::chrono::steady_clock::now();
  const pedseg::PosteriorTable out =
      pedseg::genotype_posteriors(*t->ped, t->layout, t->poly, t->model);
  const double s_out = seconds_since(t0);

  pedseg::PedigreeLayout first = t->layout;  // the first `sub` families only
  first.fams.resize(static_cast<size_t>(sub) + 1);
  const int nind = t->ped->PED_START[sub + 1];
  t0 = std::chrono::steady_clock::now();
  const pedseg::PosteriorTable rep = pedseg::genotype_posteriors(
      *t->ped, first, t->poly, t->model, pedseg::PosteriorMethod::repeel);
  const double s_rep = seconds_since(t0);

  double diff = 0.0;
  for (int i = 1; i <= nind; ++i) {
    for (int g = 1; g <= 3; ++g)
      diff = std::max(diff, std::fabs(out.ind[i].p[g] - rep.ind[i].p[g]));
    diff = std::max(diff, std::fabs(out.ind[i].class_mean - rep.ind[i].class_mean));
  }
  const int all = t->ped->PED_START[nfam + 1];
  std::printf("outward: %d families, %d individuals, %.3f s (%d re-peeled, %d impossible)\n", nfam,
              all, s_out, out.repeeled_families, out.impossible_families);
  std::printf("repeel:  %d families, %d individuals, %.3f s (%.1f ms per individual; "
              "all families at that rate %.0f s)\n",
              sub, nind, s_rep, 1e3 * s_rep / nind, s_rep / nind * all);
  std::printf("largest difference on the common families: %.3g\n", diff);
  return 0;
}
