#include "models/cli.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace pedseg {

namespace {

constexpr const char* PROGRAM = "pedseg-models";
constexpr int EXIT_USAGE = EXIT_INPUT_ERROR;  // as pedseg
constexpr size_t HELP_COLUMN = 22;  // where the help of each option starts

#ifdef PEDSEG_VERSION
constexpr const char* VERSION = PEDSEG_VERSION;
#else
constexpr const char* VERSION = "unknown";
#endif

bool to_count(const std::string& s, long lo, long hi, int32_t& v) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long n = std::strtol(s.c_str(), &end, 10);
  if (errno != 0 || end != s.c_str() + s.size() || n < lo || n > hi) return false;
  v = static_cast<int32_t>(n);
  return true;
}

std::string parse_models(CliSettings& c, const std::string& list) {
  std::vector<ModelKind> chosen;
  size_t start = 0;
  while (start <= list.size()) {
    const size_t comma = list.find(',', start);
    const std::string name =
        list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    const std::optional<ModelKind> k = model_from_name(name);
    if (!k) return "unknown model '" + name + "' in --models";
    chosen.push_back(*k);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  c.models.models = chosen;
  return "";
}

std::string parse_posteriors(CliSettings& c, const std::string& name) {
  const std::optional<ModelKind> k = model_from_name(name);
  if (!k) return "unknown model '" + name + "' in --posteriors";
  c.extras.posteriors = k;
  return "";
}

std::string parse_profile(CliSettings& c, const std::string& name) {
  std::string names;
  for (int i = 1; i <= NPAR_USED; ++i) {
    if (name == PARAM_NAME[i]) {
      std::vector<int>& slots = c.extras.profiles;
      if (std::find(slots.begin(), slots.end(), i) == slots.end()) slots.push_back(i);
      return "";
    }
    names += std::string(i == 1 ? "" : ", ") + PARAM_NAME[i];
  }
  return "unknown parameter '" + name + "' in --profile (names: " + names + ")";
}

int usage_error(FILE* err, const std::string& what) {
  std::fprintf(err, "%s: %s; see %s --help\n", PROGRAM, what.c_str(), PROGRAM);
  return EXIT_USAGE;
}

void write_file(const std::string& dir, const std::string& name, const std::string& text) {
  OutputFile f;
  open_output(f, path_in(dir, name));
  write_text(f, text);
  close_output(f);
}

// The identifiers of idmap.dat (written by ped2iway) when the folder has one.
std::vector<IdPair> read_ids(const std::string& dir, const PedigreeTables& ped) {
  std::ifstream in(path_in(dir, "idmap.dat"), std::ios::binary);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw InputError{"cannot read idmap.dat"};
  try {
    return read_idmap(text.str(), ped.PED_START[ped.PED_START[0] + 1]);
  } catch (const std::invalid_argument& e) {
    throw InputError{e.what()};
  }
}

}  // namespace

const std::vector<CliOption>& cli_options() {
  static const std::vector<CliOption> options = {
      {"--models", "LIST",
       "the models to fit, comma-separated (default: all of\n"
       "sporadic,polygenic,major,mixed,environmental,general)",
       parse_models},
      {"--starts", "N", "starts per model (default 3)",
       [](CliSettings& c, const std::string& v) {
         return to_count(v, 1, 100, c.models.starts) ? "" : "--starts needs a number from 1 to 100";
       }},
      {"--no-se", nullptr, "skip the standard errors",
       [](CliSettings& c, const std::string&) {
         c.models.standard_errors = false;
         return "";
       }},
      {"--posteriors", "MODEL",
       "write posteriors.tsv (and posteriors.svg): genotype\n"
       "probabilities of every individual under MODEL",
       parse_posteriors},
      {"--profile", "PARAM",
       "profile likelihood of PARAM (a name of estimates.tsv;\n"
       "several allowed): profile_PARAM.tsv and .svg, and\n"
       "its 95% interval",
       parse_profile},
      {"--no-figures", nullptr, "no SVG files and no mixture.tsv",
       [](CliSettings& c, const std::string&) {
         c.extras.figures = false;
         return "";
       }},
      {"--threads", "N", "threads of the likelihood (default: OMP_NUM_THREADS,\nelse every core)",
       [](CliSettings& c, const std::string& v) {
         return to_count(v, 1, 256, c.threads) ? "" : "--threads needs a number from 1 to 256";
       }},
      {"--quiet", nullptr, "no progress on standard error",
       [](CliSettings& c, const std::string&) {
         c.quiet = true;
         return "";
       }},
      {"--help", nullptr, "this text",
       [](CliSettings& c, const std::string&) {
         c.help = true;
         return "";
       }},
      {"--version", nullptr, "the version",
       [](CliSettings& c, const std::string&) {
         c.version = true;
         return "";
       }},
  };
  return options;
}

std::string cli_usage() {
  std::string s = std::string("usage: ") + PROGRAM + " [DIR] [options]\n\n" +
                  "Fits the standard nested segregation models to the sample of DIR (default:\n"
                  "the current folder: par.inp, iway.dat and the trait file, read as pedseg\n"
                  "reads them), prints the table of tests and writes models.tsv and\n"
                  "estimates.tsv there, and mixture.svg and mixture.tsv (the fitted density\n"
                  "over the histogram of the trait) of the mixed model, or of the model of\n"
                  "--posteriors.  --profile is about that model too; it is fitted even when\n"
                  "--models leaves it out.\n\n";
  for (const CliOption& o : cli_options()) {
    std::string head = std::string("  ") + o.name + (o.value_name ? std::string(" ") + o.value_name : "");
    head.resize(std::max<size_t>(head.size() + 2, HELP_COLUMN), ' ');
    std::string help = o.help;
    for (size_t p = help.find('\n'); p != std::string::npos; p = help.find('\n', p + HELP_COLUMN + 1))
      help.insert(p + 1, std::string(HELP_COLUMN, ' '));
    s += head + help + "\n";
  }
  s += "\nExit status: 0 done, 2 input error or usage error, 3 size limit, 4 write error,\n5 out of memory or an internal error.\n";
  return s;
}

std::string parse_cli(const std::vector<std::string>& args, CliSettings& c) {
  bool have_dir = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string a = args[i], value;
    bool inline_value = false;
    if (a.rfind("--", 0) == 0 && a.find('=') != std::string::npos) {
      value = a.substr(a.find('=') + 1);
      a = a.substr(0, a.find('='));
      inline_value = true;
    }
    if (a == "-h") a = "--help";
    if (a.rfind("-", 0) != 0 || a == "-") {
      if (have_dir) return "more than one folder given";
      c.dir = a;
      have_dir = true;
      continue;
    }
    const CliOption* opt = nullptr;
    for (const CliOption& o : cli_options())
      if (a == o.name) opt = &o;
    if (opt == nullptr) return "unknown option " + a;
    if (opt->value_name != nullptr && !inline_value) {
      if (i + 1 >= args.size()) return a + " needs " + opt->value_name;
      value = args[++i];
    } else if (opt->value_name == nullptr && inline_value) {
      return a + " takes no value";
    }
    const std::string error = opt->apply(c, value);
    if (!error.empty()) return error;
  }
  return "";
}

int models_main(const std::vector<std::string>& args, FILE* out, FILE* err) {
  CliSettings c;
  const std::string parse_error = parse_cli(args, c);
  if (!parse_error.empty()) return usage_error(err, parse_error);
  if (c.help) {
    std::fputs(cli_usage().c_str(), out);
    return 0;
  }
  if (c.version) {
    std::fprintf(out, "%s %s\n", PROGRAM, VERSION);
    return 0;
  }
  int usage_status = 0;
  const int status = run_with_exit_status(PROGRAM, out, err, [&] {
    OutputFile diagnostics = output_stream(err, "standard error");
    auto sample = std::make_unique<SampleTables>();
    load_sample(*sample, c.dir, diagnostics, PROGRAM);
    const std::string profile_error = check_profiles(c.extras, sample->par);
    if (!profile_error.empty()) {
      usage_status = usage_error(err, profile_error);
      return;
    }
    const bool extras_asked = c.extras.posteriors || !c.extras.profiles.empty();
    std::vector<ModelKind>& chosen = c.models.models;
    if (extras_asked &&
        std::find(chosen.begin(), chosen.end(), focus_model(c.extras)) == chosen.end())
      chosen.push_back(focus_model(c.extras));
    const std::vector<IdPair> ids = c.extras.posteriors ? read_ids(c.dir, *sample->ped)
                                                        : std::vector<IdPair>{};
    Fitter fitter(*sample, c.threads);
    const ProgressLine warn = [err](const std::string& line) {
      std::fprintf(err, "%s: %s\n", PROGRAM, line.c_str());
      std::fflush(err);
    };
    const ProgressLine progress = c.quiet ? ProgressLine{} : warn;
    ModelsRun run = run_models(*sample, fitter, c.models, progress);
    const std::vector<ProfileResult> profiles =
        run_profiles(run, *sample, fitter, c.models, c.extras, progress, warn);
    std::fprintf(out, "%d families, %d measured individuals, %d in the spike\n\n",
                 sample->ped->NFAM, sample->NMEAS, sample->NSPIKE);
    std::fputs(console_table(run).c_str(), out);
    write_file(c.dir, "models.tsv", models_tsv(run));
    write_file(c.dir, "estimates.tsv", estimates_tsv(run));
    for (const auto& [name, text] : extra_files(run, *sample, fitter, c.extras, profiles, ids, warn))
      write_file(c.dir, name, text);
  });
  return usage_status != 0 ? usage_status : status;
}

}  // namespace pedseg
