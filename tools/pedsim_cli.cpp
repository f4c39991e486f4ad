// The pedsim command: options, true values, writing the sample.

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "params/codes.h"
#include "pedsim.h"
#include "tool_files.h"
#include "textio/textio.h"

namespace pedseg::tools {

namespace {

const char* const USAGE =
    "usage: pedsim [--families N] [--children MIN-MAX] [--generations 2|3] [--mix P]\n"
    "              [--spouses] [--marry P] [--remarry P] [--loose P] [--missing-rate P]\n"
    "              [--seed S] [--par FILE] [--set SLOT=VALUE]... [--spike-value V]\n"
    "              [--out FILE] [--truth FILE]\n"
    "\n"
    "Simulates pedigrees under the segregation model and writes a pedigree file\n"
    "(family, individual, father, mother, sex, trait) for ped2iway.\n"
    "\n"
    "  --families N        number of families (default 100)\n"
    "  --children MIN-MAX  children per couple, uniform (default 1-4; N alone: exactly N)\n"
    "  --generations 2|3   2: nuclear families (default); 3: the founders' children\n"
    "                      marry in spouses and have children of their own\n"
    "  --mix P             with 3 generations, the share of three-generation families\n"
    "                      (default 1; the others are nuclear families)\n"
    "  --spouses           married-in spouses get lines of their own; without it their\n"
    "                      children show them as unknown (0), and ped2iway needs\n"
    "                      --fix-parents\n"
    "  --marry P           chance that a child of the founders marries (default 0.5)\n"
    "  --remarry P         chance of a second marriage with more children, for the\n"
    "                      founder father and for each married child (default 0)\n"
    "  --loose P           chance that a family has a loose relative: no parents and\n"
    "                      no children in the family (default 0)\n"
    "  --missing-rate P    chance that a trait is written as missing, -999 (default 0)\n"
    "  --seed S            seed of the random numbers (default 1); the same seed gives\n"
    "                      the same file on every machine\n"
    "  --par FILE          true values from a par.inp (its values, links applied)\n"
    "  --set SLOT=VALUE    one true value by its par.inp slot: 1 q, 2-4 spike\n"
    "                      probabilities, 5-7 means, 8-10 transmission probabilities,\n"
    "                      11 polygenic effect, 12 residual variance (after --par)\n"
    "  --spike-value V     how a spike value is written (default 1000; above 998)\n"
    "  --out FILE          the pedigree file (default: standard output)\n"
    "  --truth FILE        also write each person's genotype, polygenic class and spike\n"
    "  -h, --help          this text\n"
    "\n"
    "Defaults: q 0.2, no spike, means 12 10 8, Mendelian transmission 1 0.5 0,\n"
    "polygenic effect 0.5, residual variance 2.  Exit status: 0 ok, 1 usage error,\n"
    "2 an unreadable par.inp or an output that cannot be written.\n";

bool to_long(const std::string& s, long& v) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  v = std::strtol(s.c_str(), &end, 10);
  return errno == 0 && end == s.c_str() + s.size();
}

bool to_double(const std::string& s, double& v) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  v = std::strtod(s.c_str(), &end);
  return errno == 0 && end == s.c_str() + s.size() && std::isfinite(v);
}

bool to_prob(const std::string& s, double& v) { return to_double(s, v) && v >= 0.0 && v <= 1.0; }


}  // namespace

int run_pedsim(const std::vector<std::string>& args, std::string& out, std::string& err) {
  SimOptions opt;
  std::string par_file, out_file = "-", truth_file;
  std::vector<std::pair<int, double>> sets;

  auto usage_error = [&](const std::string& msg) {
    err += "pedsim: " + msg + "\ntry 'pedsim --help'\n";
    return 1;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    std::string a = args[i], value;
    bool inline_value = false;
    if (a.rfind("--", 0) == 0) {
      size_t eq = a.find('=');
      if (eq != std::string::npos) {
        value = a.substr(eq + 1);
        a = a.substr(0, eq);
        inline_value = true;
      }
    }
    auto take = [&]() {
      if (inline_value) return true;
      if (i + 1 >= args.size()) return false;
      value = args[++i];
      return true;
    };
    auto need = [&](const char* what) { return usage_error(a + " needs " + what); };
    long n = 0;
    double d = 0.0;
    if (a == "-h" || a == "--help") {
      out += USAGE;
      return 0;
    } else if (a == "--families") {
      if (!take() || !to_long(value, n) || n < 1 || n > 1000000)
        return need("a number of families from 1 to 1000000");
      opt.families = static_cast<int>(n);
    } else if (a == "--children") {
      if (!take()) return need("MIN-MAX");
      size_t dash = value.find('-', 1);
      long lo = 0, hi = 0;
      bool ok = dash == std::string::npos
                    ? to_long(value, lo) && (hi = lo, true)
                    : to_long(value.substr(0, dash), lo) && to_long(value.substr(dash + 1), hi);
      if (!ok || lo < 0 || hi < lo || hi > 100)
        return need("MIN-MAX with 0 <= MIN <= MAX <= 100");
      opt.child_min = static_cast<int>(lo);
      opt.child_max = static_cast<int>(hi);
    } else if (a == "--generations") {
      if (!take() || !to_long(value, n) || (n != 2 && n != 3)) return need("2 or 3");
      opt.generations = static_cast<int>(n);
    } else if (a == "--mix") {
      if (!take() || !to_prob(value, opt.mix)) return need("a share from 0 to 1");
    } else if (a == "--spouses" && !inline_value) {
      opt.spouses = true;
    } else if (a == "--marry") {
      if (!take() || !to_prob(value, opt.marry)) return need("a probability from 0 to 1");
    } else if (a == "--remarry") {
      if (!take() || !to_prob(value, opt.remarry)) return need("a probability from 0 to 1");
    } else if (a == "--loose") {
      if (!take() || !to_prob(value, opt.loose)) return need("a probability from 0 to 1");
    } else if (a == "--missing-rate") {
      if (!take() || !to_prob(value, opt.missing_rate)) return need("a share from 0 to 1");
    } else if (a == "--seed") {
      if (!take() || value.empty() || value[0] == '-') return need("a non-negative integer");
      char* end = nullptr;
      errno = 0;
      unsigned long long s = std::strtoull(value.c_str(), &end, 10);
      if (errno != 0 || end != value.c_str() + value.size()) return need("a non-negative integer");
      opt.seed = static_cast<uint64_t>(s);
    } else if (a == "--par") {
      if (!take() || value.empty()) return need("a file name");
      par_file = value;
    } else if (a == "--set") {
      if (!take()) return need("SLOT=VALUE");
      size_t eq = value.find('=');
      long slot = 0;
      if (eq == std::string::npos || !to_long(value.substr(0, eq), slot) || slot < 1 ||
          slot > 12 || !to_double(value.substr(eq + 1), d))
        return need("SLOT=VALUE with a slot from 1 to 12");
      sets.emplace_back(static_cast<int>(slot), d);
    } else if (a == "--spike-value") {
      if (!take() || !to_double(value, d) || !trait_in_spike(static_cast<float>(d)) ||
          value.find_first_of("xXnN") != std::string::npos)
        return need("a number above 998");
      opt.spike_text = value;
    } else if (a == "--out") {
      if (!take() || value.empty()) return need("a file name");
      out_file = value;
    } else if (a == "--truth") {
      if (!take() || value.empty()) return need("a file name");
      truth_file = value;
    } else {
      return usage_error("unknown argument " + args[i]);
    }
  }

  SimParams par;
  if (!par_file.empty()) {
    try {
      par = params_from_par_file(par_file);
    } catch (const InputError& e) {
      err += "pedsim: " + e.message + "\n";
      return 2;
    }
  }
  for (auto [slot, v] : sets) set_slot(par, slot, v);
  std::string bad = check_params(par);
  if (!bad.empty()) return usage_error("true values: " + bad);
  if (opt.generations == 3 && !opt.spouses)
    err += "pedsim: without --spouses the married-in parents are written as unknown (0); "
           "convert with ped2iway --fix-parents\n";

  std::vector<SimFamily> fams = simulate(opt, par);
  std::string text = pedfile_text(fams, opt);
  long people = 0, written = 0;
  for (const auto& f : fams)
    for (const auto& p : f.people) {
      ++people;
      written += p.written ? 1 : 0;
    }

  std::string why;
  if (out_file == "-") {
    out += text;
  } else if (!write_whole_file(out_file, text, why)) {
    err += "pedsim: cannot write " + out_file + ": " + why + "\n";
    return 2;
  }
  if (!truth_file.empty() && !write_whole_file(truth_file, truth_text(fams), why)) {
    err += "pedsim: cannot write " + truth_file + ": " + why + "\n";
    return 2;
  }
  std::string summary = "pedsim: " + std::to_string(opt.families) + " families, " +
                        std::to_string(written) + " individuals written";
  if (written != people) summary += " (" + std::to_string(people - written) + " spouses left unknown)";
  summary += ", seed " + std::to_string(opt.seed);
  if (out_file != "-") summary += ", to " + out_file;
  // The summary goes where the sample does not.
  (out_file == "-" ? err : out) += summary + "\n";
  return 0;
}

}  // namespace pedseg::tools
