// The pedsim command: options, true values, writing the sample.

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "cli/cli.h"
#include "params/codes.h"
#include "params/params.h"
#include "pedsim.h"
#include "tool_files.h"
#include "textio/textio.h"

namespace pedseg::tools {

namespace {

const cli::Program PEDSIM = {
    "pedsim",
    "Simulates pedigrees under the segregation model and writes a pedigree file (family, "
    "individual, father, mother, sex, trait; with --age-effect, --ages or probands also age "
    "and proband columns under a header line) for ped2iway.",
    "Defaults: q 0.2, no spike, means 12 10 8, Mendelian transmission 1 0.5 0, polygenic "
    "effect 0.5, residual variance 2.  Exit status: 0 ok, 1 usage error, 2 an unreadable "
    "par.inp or an output that cannot be written.",
    1, 2};

std::string real_text(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

struct Settings {
  SimOptions sim;
  std::string par_file, out_file = "-", truth_file;
  std::vector<std::pair<int, double>> sets;  // --set, in the order given
};

void declare_options(CLI::App& app, Settings& s) {
  SimOptions& o = s.sim;
  const std::string probability = "a probability from 0 to 1", share = "a share from 0 to 1";
  cli::add_value(app, "--families", "N", "number of families (default 100)",
                 cli::number_in(o.families, 1, 1000000, "a number from 1 to 1000000"));
  cli::add_value(app, "--children", "MIN-MAX",
                 "children per couple, uniform (default 1-4; N alone: exactly N)",
                 [&o](const std::string& v) {
                   const size_t dash = v.find('-', 1);
                   long lo = 0, hi = 0;
                   const bool ok = dash == std::string::npos
                                       ? cli::to_long(v, lo) && (hi = lo, true)
                                       : cli::to_long(v.substr(0, dash), lo) &&
                                             cli::to_long(v.substr(dash + 1), hi);
                   if (!ok || lo < 0 || hi < lo || hi > 100)
                     return "'" + v + "' is not MIN-MAX with 0 <= MIN <= MAX <= 100";
                   o.child_min = static_cast<int>(lo);
                   o.child_max = static_cast<int>(hi);
                   return std::string();
                 });
  cli::add_value(app, "--generations", "2|3",
                 "2: nuclear families (default); 3: the founders' children marry in spouses and "
                 "have children of their own",
                 cli::number_in(o.generations, 2, 3, "2 or 3"));
  cli::add_value(app, "--mix", "P",
                 "with 3 generations, the share of three-generation families (default 1; the "
                 "others are nuclear families)",
                 cli::real_in(o.mix, 0.0, 1.0, share));
  app.add_flag("--spouses", o.spouses,
               "married-in spouses get lines of their own; without it their children show them "
               "as unknown (0), and ped2iway needs --fix-parents");
  cli::add_value(app, "--marry", "P", "chance that a child of the founders marries (default 0.5)",
                 cli::real_in(o.marry, 0.0, 1.0, probability));
  cli::add_value(app, "--remarry", "P",
                 "chance of a second marriage with more children, for the founder father and "
                 "for each married child (default 0)",
                 cli::real_in(o.remarry, 0.0, 1.0, probability));
  cli::add_value(app, "--loose", "P",
                 "chance that a family has a loose relative: no parents and no children in the "
                 "family (default 0)",
                 cli::real_in(o.loose, 0.0, 1.0, probability));
  cli::add_value(app, "--missing-rate", "P",
                 "chance that a trait is written as missing, -999 (default 0)",
                 cli::real_in(o.missing_rate, 0.0, 1.0, share));
  cli::add_value(app, "--seed", "S",
                 "seed of the random numbers (default 1); the same seed gives the same file on "
                 "every machine",
                 [&o](const std::string& v) {
                   char* end = nullptr;
                   errno = 0;
                   const unsigned long long seed = std::strtoull(v.c_str(), &end, 10);
                   if (v.empty() || v[0] == '-' || errno != 0 || end != v.c_str() + v.size())
                     return "'" + v + "' is not a non-negative integer";
                   o.seed = static_cast<uint64_t>(seed);
                   return std::string();
                 });
  cli::add_value(app, "--par", "FILE", "true values from a par.inp (its values, links applied)",
                 cli::text_in(s.par_file));
  cli::add_value(
      app, "--set", "SLOT=VALUE",
      "one true value by its par.inp slot, as a number or a name: 1 q, 2-4 spike1-3, 5-7 "
      "mean1-3, 8-10 tau1-3, 11 polygenic_effect, 12 residual_variance (after --par)",
      [&s](const std::string& v) {
        const size_t eq = v.find('=');
        const std::string key = eq == std::string::npos ? v : v.substr(0, eq);
        long slot = 0;
        for (int i = 1; i <= NPAR_USED; ++i)
          if (key == PARAM_NAME[i]) slot = i;
        if (slot == 0 && !cli::to_long(key, slot)) slot = 0;
        double value = 0.0;
        if (eq == std::string::npos || slot < 1 || slot > NPAR_USED ||
            !cli::to_real(v.substr(eq + 1), value))
          return "'" + v + "' is not SLOT=VALUE with a slot from 1 to " +
                 std::to_string(NPAR_USED) + " or its name";
        s.sets.emplace_back(static_cast<int>(slot), value);
        return std::string();
      },
      true);
  cli::add_value(app, "--spike-value", "V",
                 "how a spike value is written (default 1000; above 998)",
                 [&o](const std::string& v) {
                   double d = 0.0;
                   if (!cli::to_real(v, d) || !trait_in_spike(static_cast<float>(d)) ||
                       v.find_first_of("xXnN") != std::string::npos)
                     return "'" + v + "' is not a number above 998";
                   o.spike_text = v;
                   return std::string();
                 });
  cli::add_value(app, "--sex-effect", "D", "added to the mean of every man (default 0)",
                 [&o](const std::string& v) {
                   if (!cli::to_real(v, o.sex_effect) || !std::isfinite(o.sex_effect))
                     return "'" + v + "' is not a number";
                   return std::string();
                 });
  cli::add_value(app, "--age-effect", "B",
                 "added to the mean per year of age; writes the age column (default 0)",
                 [&o](const std::string& v) {
                   if (!cli::to_real(v, o.age_effect) || !std::isfinite(o.age_effect))
                     return "'" + v + "' is not a number";
                   return std::string();
                 });
  app.add_flag("--ages", o.ages,
               "write an age column: the youngest generation of a family 5 to 24 years old, "
               "each generation above it 25 years older");
  app.add_flag("--lognormal", o.lognormal,
               "the model holds for ln(trait): the trait written is e to the simulated value");
  app.add_flag("--probands", o.probands,
               "the founders' first child is the proband: a proband column (1 or 0)");
  cli::add_value(app, "--select-above", "T",
                 "keep drawing families until --families of them have a proband's trait at or "
                 "above T (implies --probands)",
                 [&o](const std::string& v) {
                   if (!cli::to_real(v, o.threshold) || !std::isfinite(o.threshold))
                     return "'" + v + "' is not a number";
                   o.select = o.probands = true;
                   o.quantile = 0.0;
                   return std::string();
                 });
  cli::add_value(app, "--select-quantile", "P",
                 "as --select-above, with T the P quantile of the probands' traits in a pilot of "
                 "unselected families",
                 [&o](const std::string& v) {
                   double p = 0.0;
                   if (!cli::to_real(v, p) || !(p > 0.0 && p < 1.0))
                     return "'" + v + "' is not a share between 0 and 1";
                   o.quantile = p;
                   o.select = o.probands = true;
                   return std::string();
                 });
  cli::add_value(app, "--pilot", "N", "families of the pilot of --select-quantile (default 10000)",
                 cli::number_in(o.pilot, 100, 10000000, "a number from 100 to 10000000"));
  cli::add_value(app, "--cousins", "P",
                 "share of families built around a first-cousin marriage: the founders' first "
                 "two children marry in, a child of each marry each other and have children "
                 "(default 0)",
                 cli::real_in(o.cousins, 0.0, 1.0, share));
  cli::add_value(app, "--sisters", "P",
                 "share of families where two more sons of the founders marry two daughters of "
                 "a second founder couple, each couple with children (default 0)",
                 cli::real_in(o.sisters, 0.0, 1.0, share));
  cli::add_value(app, "--out", "FILE", "the pedigree file (default: standard output)",
                 cli::text_in(s.out_file));
  cli::add_value(app, "--truth", "FILE",
                 "also write each person's genotype, polygenic class and spike",
                 cli::text_in(s.truth_file));
}

}  // namespace

int run_pedsim(const std::vector<std::string>& args, std::string& out, std::string& err) {
  Settings st;
  cli::Command command(PEDSIM);
  declare_options(command.app(), st);
  if (const auto status = command.parse(args, out, err)) return *status;

  SimParams par;
  if (!st.par_file.empty()) {
    try {
      par = params_from_par_file(st.par_file);
    } catch (const InputError& e) {
      err += "pedsim: " + e.message + "\n";
      return 2;
    }
  }
  for (auto [slot, v] : st.sets) set_slot(par, slot, v);
  if (const std::string bad = check_params(par); !bad.empty()) {
    err += command.usage_line("true values: " + bad);
    return PEDSIM.usage_status;
  }
  if (const std::string bad = check_options(st.sim, par); !bad.empty()) {
    err += command.usage_line(bad);
    return PEDSIM.usage_status;
  }
  if ((st.sim.generations == 3 || st.sim.cousins > 0.0) && !st.sim.spouses)
    err += "pedsim: without --spouses the married-in parents are written as unknown (0); "
           "convert with ped2iway --fix-parents\n";

  SimReport report;
  std::vector<SimFamily> fams = simulate(st.sim, par, &report);
  if (static_cast<int>(fams.size()) < st.sim.families) {
    err += "pedsim: only " + std::to_string(fams.size()) + " of " + std::to_string(report.drawn) +
           " families drawn have a proband's trait at or above " + real_text(report.threshold) +
           "; nothing written\n";
    return 2;
  }
  std::string text = pedfile_text(fams, st.sim);
  long people = 0, written = 0;
  for (const auto& f : fams)
    for (const auto& p : f.people) {
      ++people;
      written += p.written ? 1 : 0;
    }

  std::string why;
  if (st.out_file == "-") {
    out += text;
  } else if (!write_whole_file(st.out_file, text, why)) {
    err += "pedsim: cannot write " + st.out_file + ": " + why + "\n";
    return 2;
  }
  if (!st.truth_file.empty() && !write_whole_file(st.truth_file, truth_text(fams), why)) {
    err += "pedsim: cannot write " + st.truth_file + ": " + why + "\n";
    return 2;
  }
  std::string summary = "pedsim: " + std::to_string(st.sim.families) + " families";
  if (st.sim.select) {
    summary += " kept out of " + std::to_string(report.drawn) +
               " drawn (proband's trait at or above " + real_text(report.threshold);
    if (st.sim.quantile > 0.0)
      summary += ", the " + real_text(st.sim.quantile) + " quantile of a pilot of " +
                 std::to_string(st.sim.pilot);
    summary += ")";
  }
  summary += ", " + std::to_string(written) + " individuals written";
  if (written != people) summary += " (" + std::to_string(people - written) + " spouses left unknown)";
  summary += ", seed " + std::to_string(st.sim.seed);
  if (st.out_file != "-") summary += ", to " + st.out_file;
  // The summary goes where the sample does not.
  (st.out_file == "-" ? err : out) += summary + "\n";
  return 0;
}

int pedsim_main(const std::vector<std::string>& args) {
  std::string out, err;
  const int status = run_pedsim(args, out, err);
  return cli::finish(PEDSIM, status, out, err);
}

}  // namespace pedseg::tools
