#include "models/cli.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>

#include "cli/cli.h"
#include "models/bootstrap.h"
#include "models/analysis.h"
#include "models/ascertainment.h"
#include "models/extras.h"
#include "models/models.h"

namespace pedseg {

namespace {

constexpr const char* PROGRAM = "pedseg-models";

const cli::Program MODELS = {
    PROGRAM,
    "Fits the standard nested segregation models to the sample of DIR (par.inp, iway.dat and "
    "the trait file, read as pedseg reads them), prints the table of tests and writes "
    "models.tsv and estimates.tsv there, and mixture.svg and mixture.tsv (the fitted density "
    "over the histogram of the trait) of the mixed model, or of the model of --posteriors.  "
    "--profile is about that model too; it is fitted even when --models leaves it out.",
    "Exit status: 0 done, 2 input error or usage error, 3 size limit, 4 write error, 5 out of "
    "memory or an internal error.",
    EXIT_INPUT_ERROR, EXIT_WRITE_ERROR};

struct Settings {
  std::string dir = ".";
  ModelsOptions models;
  ExtrasOptions extras;
  AnalysisOptions analysis;
  AscertainmentOptions ascertainment;
  std::vector<std::string> profile_names;  // --profile, in the order given
  int32_t threads = 0;
  int32_t max_breakers = MAX_BREAKERS;
  bool quiet = false;
  int32_t bootstrap = 0;  // replicates of the bootstrap; 0: none
  uint64_t seed = DEFAULT_BOOTSTRAP_SEED;
};

std::string take_model(const std::string& name, std::optional<ModelKind>& kind) {
  kind = model_from_name(name);
  if (kind) return "";
  std::string names;
  for (ModelKind k : ALL_MODELS) names += std::string(names.empty() ? "" : ", ") + model_name(k);
  return "unknown model '" + name + "' (models: " + names + ")";
}

// The options, each value checked as it is parsed.
void declare_options(CLI::App& app, Settings& s) {
  app.add_option("DIR", s.dir, "the folder of the sample (default: the current one)");
  cli::add_value(app, "--models", "LIST",
                 "the models to fit, comma-separated (default: all of "
                 "sporadic,polygenic,major,mixed,environmental,general)",
                 [&s](const std::string& list) {
                   std::vector<ModelKind> chosen;
                   for (size_t start = 0;;) {
                     const size_t comma = std::min(list.find(',', start), list.size());
                     std::optional<ModelKind> kind;
                     const std::string error = take_model(list.substr(start, comma - start), kind);
                     if (!error.empty()) return error;
                     chosen.push_back(*kind);
                     if (comma == list.size()) break;
                     start = comma + 1;
                   }
                   s.models.models = chosen;
                   return std::string();
                 });
  cli::add_value(app, "--starts", "N",
                 "quasi-random starts per model at most, after the structured ones (default " +
                     std::to_string(DEFAULT_RANDOM_STARTS) +
                     "; they stop once two of them reach the best maximum)",
                 cli::number_in(s.models.starts, 0, 1000, "a number from 0 to 1000"));
  app.add_flag_callback("--no-se", [&s] { s.models.standard_errors = false; },
                        "skip the standard errors");
  cli::add_value(app, "--posteriors", "MODEL",
                 "write posteriors.tsv (and posteriors.svg): genotype probabilities of every "
                 "individual under MODEL",
                 [&s](const std::string& name) { return take_model(name, s.extras.posteriors); });
  cli::add_value(
      app, "--profile", "PARAM",
      "profile likelihood of PARAM (a name of estimates.tsv; several allowed): "
      "profile_PARAM.tsv and .svg, and its 95% interval",
      [&s](const std::string& name) {
        std::string names;
        for (int i = 1; i <= NPAR_USED; ++i) {
          if (name == PARAM_NAME[i]) {
            s.profile_names.push_back(name);
            return std::string();
          }
          names += std::string(i == 1 ? "" : ", ") + PARAM_NAME[i];
        }
        // The analysis's entries are known once the sample is read.
        if (name.rfind("beta_", 0) == 0 || name == "lambda1" || name == "lambda2") {
          s.profile_names.push_back(name);
          return std::string();
        }
        return "unknown parameter '" + name + "' (names: " + names +
               ", beta_NAME per covariate, lambda1)";
      },
      true);
  cli::add_value(app, "--covariates", "LIST",
                 "covariates of covariates.dat on the class means, comma-separated, or none "
                 "(default: all of covariates.dat when the folder has one)",
                 [&s](const std::string& list) {
                   std::vector<std::string> names;
                   if (list != "none")
                     for (size_t start = 0;;) {
                       const size_t comma = std::min(list.find(',', start), list.size());
                       const std::string name = list.substr(start, comma - start);
                       if (name.empty()) return std::string("an empty covariate name");
                       names.push_back(name);
                       if (comma == list.size()) break;
                       start = comma + 1;
                     }
                   s.analysis.covariates = names;
                   return std::string();
                 });
  cli::add_value(app, "--transform", "KIND",
                 "boxcox (lambda1 estimated) or log (lambda1 = 0): the trait's values outside "
                 "the spike are transformed toward normality",
                 cli::one_of(s.analysis.transform,
                             std::vector<std::pair<std::string, Transform>>{
                                 {"boxcox", Transform::BoxCox}, {"log", Transform::Log}}));
  cli::add_value(app, "--shift", "VALUE",
                 "lambda2 of the transformation, added to every value before it (default 0)",
                 cli::real_in(s.analysis.shift, -1.0E30, 1.0E30, "a number"));
  cli::add_value(app, "--ascertainment", "KIND",
                 "actual (condition each family on its probands' trait values; the default "
                 "when the folder has proband.dat), threshold (on their values being at least "
                 "T, see --threshold) or none",
                 cli::one_of(s.ascertainment.kind,
                             std::vector<std::pair<std::string, Ascertainment>>{
                                 {"actual", Ascertainment::Actual},
                                 {"threshold", Ascertainment::Threshold},
                                 {"none", Ascertainment::None}}));
  cli::add_value(app, "--threshold", "T",
                 "T of --ascertainment threshold, on the trait's scale as read (default: the "
                 "smallest proband value)",
                 [&s](const std::string& text) {
                   double v = 0.0;
                   const std::string problem =
                       cli::real_in(v, -1.0E30, 1.0E30, "a number")(text);
                   if (problem.empty()) s.ascertainment.threshold = v;
                   return problem;
                 });
  app.add_flag_callback("--no-figures", [&s] { s.extras.figures = false; },
                        "no SVG files and no mixture.tsv");
  cli::add_value(app, "--threads", "N",
                 "threads of the likelihood (default: OMP_NUM_THREADS, else every core)",
                 cli::number_in(s.threads, 1, 256, "a number from 1 to 256"));
  cli::add_value(app, "--max-breakers", "N",
                 "loop breakers (persons with copies in loops.dat) allowed in one family "
                 "(default " + std::to_string(MAX_BREAKERS) + "; each multiplies the family's "
                 "work by 21)",
                 cli::number_in(s.max_breakers, 1, MAX_BREAKERS_LIMIT,
                                "a number from 1 to " + std::to_string(MAX_BREAKERS_LIMIT)));
  cli::add_value(app, "--bootstrap", "N",
                 "p of polygenic vs mixed and of mixed vs general also from N samples simulated "
                 "on the sample's structures under the fitted smaller model (models.tsv gains "
                 "p_bootstrap and bootstrap_n)",
                 cli::number_in(s.bootstrap, 1, 1000000, "a number from 1 to 1000000"));
  cli::add_value(app, "--seed", "S",
                 "the bootstrap's replicate r is simulated with seed S + r (default " +
                     std::to_string(DEFAULT_BOOTSTRAP_SEED) + ")",
                 [&s](const std::string& text) {
                   long v = 0;
                   if (!cli::to_long(text, v) || v < 0) return "'" + text + "' is not a number from 0";
                   s.seed = static_cast<uint64_t>(v);
                   return std::string();
                 });
  app.add_flag("--quiet", s.quiet, "no progress on standard error");
}

// What is checked before any file is read: the folder exists.  The focus
// model is fitted whenever posteriors or profiles are asked for.  "" or the
// usage error.
std::string check_options(Settings& s) {
  std::error_code ec;
  if (!std::filesystem::is_directory(s.dir, ec)) return "'" + s.dir + "' is not a folder";
  if (s.analysis.shift != 0.0 && s.analysis.transform == Transform::None)
    return "--shift needs --transform";
  if (s.ascertainment.threshold && s.ascertainment.kind != Ascertainment::Threshold)
    return "--threshold needs --ascertainment threshold";
  std::vector<ModelKind>& chosen = s.models.models;
  const ModelKind focus = focus_model(s.extras);
  if ((s.extras.posteriors || !s.profile_names.empty()) &&
      std::find(chosen.begin(), chosen.end(), focus) == chosen.end())
    chosen.push_back(focus);
  return "";
}

struct Input {
  std::unique_ptr<SampleTables> sample = std::make_unique<SampleTables>();
  TraitAnalysis analysis;
  Conditioning conditioning;
  std::vector<IdPair> ids;  // of idmap.dat (written by ped2iway), for the posteriors
};

// The sample as pedseg reads it, and the identifiers when posteriors are
// asked for and the folder has an idmap.dat.
Input load(const Settings& s, FILE* err) {
  Input in;
  OutputFile diagnostics = output_stream(err, "standard error");
  SampleHooks hooks;
  hooks.max_breakers = s.max_breakers;
  hooks.read_covariates = true;
  hooks.read_proband = s.ascertainment.kind != Ascertainment::None;
  load_sample(*in.sample, s.dir, diagnostics, PROGRAM, hooks);
  in.analysis = make_analysis(*in.sample, s.analysis);
  in.conditioning = make_conditioning(*in.sample, in.analysis, s.ascertainment);
  const std::string idmap = path_in(s.dir, "idmap.dat");
  std::error_code ec;
  if (!s.extras.posteriors || (!std::filesystem::exists(idmap, ec) && !ec)) return in;
  const InputFile file = open_input(idmap);
  try {
    const PedigreeTables& ped = *in.sample->ped;
    in.ids = read_idmap(std::string_view(file.data).substr(file.pos),
                        ped.PED_START[ped.PED_START[0] + 1]);
  } catch (const std::invalid_argument& e) {
    throw InputError{e.what()};
  }
  return in;
}

// The profiled entries from their names, now that the analysis's entries
// are known; "" or the usage error.
std::string resolve_profiles(Settings& s, const Input& in) {
  // The bootstrap simulates the 12 parameters' model only.
  if (s.bootstrap > 0 && in.analysis.active())
    return "--bootstrap simulates neither covariate effects nor a transformation: use it with "
           "--covariates none and without --transform";
  if (s.bootstrap > 0 && in.conditioning.active())
    return "--bootstrap simulates no ascertainment: use it with --ascertainment none";
  const ParamVector user = analysis_params(in.sample->par, in.analysis);
  std::vector<int>& entries = s.extras.profiles;
  entries.clear();
  for (const std::string& name : s.profile_names) {
    int32_t found = 0;
    for (int32_t i = 1; i <= user.size(); ++i)
      if (user.name[i] == name) found = i;
    if (found == 0) {
      std::string names;
      for (int32_t i = NPAR_USED + 1; i <= user.size(); ++i)
        names += (names.empty() ? "" : ", ") + user.name[i];
      return "unknown parameter '" + name + "' (this analysis adds " +
             (names.empty() ? std::string("none") : names) + ")";
    }
    if (std::find(entries.begin(), entries.end(), found) == entries.end())
      entries.push_back(found);
  }
  return check_profiles(s.extras, user);
}

ProgressLine warn_on(FILE* err) {
  return [err](const std::string& line) {
    std::fprintf(err, "%s: %s\n", PROGRAM, line.c_str());
    std::fflush(err);
  };
}

struct Fits {
  ModelsRun run;
  std::vector<BootstrapTest> bootstrap;
  std::vector<std::pair<std::string, std::string>> extra_files;  // name, text
  std::string analysis_text;  // the covariates' block of the console
};

// The models, the profiles, and what the extras compute at the estimates.
Fits fit(const Settings& s, const Input& in, FILE* err) {
  Fitter fitter(*in.sample, s.threads, in.analysis, in.conditioning);
  const ProgressLine warn = warn_on(err);
  if (in.analysis.names.empty() ||
      std::find(in.analysis.names.begin(), in.analysis.names.end(), "sex") ==
          in.analysis.names.end())
    if (const std::optional<SexDifference> d = sex_difference(*in.sample);
        d && d->p < SEX_GUARD_P)
      warn(sex_guard_text(*d));
  const ProgressLine progress = s.quiet ? ProgressLine{} : warn;
  Fits f;
  f.run = run_models(*in.sample, fitter, s.models, progress);
  const std::vector<ProfileResult> profiles =
      run_profiles(f.run, *in.sample, fitter, s.models, s.extras, progress, warn);
  f.extra_files = extra_files(f.run, *in.sample, fitter, s.extras, profiles, in.ids, warn);
  if (s.bootstrap > 0)
    f.bootstrap = bootstrap_tests(f.run, *in.sample, s.bootstrap, s.seed, s.models.starts,
                                  s.threads, progress);
  if (!in.analysis.names.empty()) {
    f.extra_files.push_back({"covariates.tsv", covariates_tsv(in.analysis, *in.sample)});
    f.analysis_text = covariates_block(f.run, focus_model(s.extras), in.analysis);
  } else if (in.analysis.active()) {
    f.analysis_text = covariates_block(f.run, focus_model(s.extras), in.analysis);
  }
  return f;
}

void write_file(const std::string& dir, const std::string& name, const std::string& text) {
  OutputFile f;
  open_output(f, path_in(dir, name));
  write_text(f, text);
  close_output(f);
}

void write_results(const Settings& s, const Input& in, const Fits& f, FILE* out) {
  const SampleTables& sample = *in.sample;
  if (in.analysis.names.empty()) {
    std::fprintf(out, "%d families, %d measured individuals, %d in the spike\n\n",
                 sample.ped->NFAM, sample.NMEAS, sample.NSPIKE);
  } else {
    std::fprintf(out,
                 "%d families, %d measured individuals, %d in the spike, %d analysed as "
                 "missing (incomplete covariates)\n\n",
                 sample.ped->NFAM, sample.NMEAS, sample.NSPIKE, in.analysis.data.incomplete);
  }
  if (in.conditioning.active())
    std::fprintf(out, "Ascertainment: %s\n\n", conditioning_text(in.conditioning).c_str());
  std::fputs(console_table(f.run, focus_model(s.extras)).c_str(), out);
  if (s.bootstrap > 0) std::fputs(bootstrap_lines(f.run, f.bootstrap).c_str(), out);
  std::fputs(f.analysis_text.c_str(), out);
  std::string table = models_tsv(f.run);
  if (in.conditioning.active()) table = with_conditioning_columns(table, in.conditioning);
  write_file(s.dir, "models.tsv", s.bootstrap > 0 ? with_bootstrap_columns(table, f.bootstrap) : table);
  write_file(s.dir, "estimates.tsv", estimates_tsv(f.run));
  for (const auto& [name, text] : f.extra_files) write_file(s.dir, name, text);
}

}  // namespace

int models_main(const std::vector<std::string>& args, FILE* out, FILE* err) {
  Settings s;
  cli::Command command(MODELS);
  declare_options(command.app(), s);
  std::string out_text, err_text;
  const std::optional<int> status =
      command.parse(args, out_text, err_text, [&] { return check_options(s); });
  if (status) return cli::finish(MODELS, *status, out_text, err_text, out, err);

  std::string profile_problem;  // known once par.inp is read
  const int run_status = run_with_exit_status(PROGRAM, out, err, [&] {
    const Input in = load(s, err);
    profile_problem = resolve_profiles(s, in);
    if (!profile_problem.empty()) return;
    write_results(s, in, fit(s, in, err), out);
  });
  if (profile_problem.empty()) return run_status;
  const std::string line = command.usage_line(profile_problem);
  return cli::finish(MODELS, MODELS.usage_status, "", line, out, err);
}

}  // namespace pedseg
