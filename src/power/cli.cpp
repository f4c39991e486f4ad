// The command line of pedseg-power: a run (or one part of it) on a prepared
// sample, or the collection of a run's parts.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

#include "cli/cli.h"
#include "power/power.h"

namespace pedseg::power {

namespace {

constexpr const char* PROGRAM = "pedseg-power";

const cli::Program POWER = {
    PROGRAM,
    "Simulates the trait on the structures and the missing pattern of the sample of DIR "
    "(par.inp, iway.dat, the trait file) under the values of the par.inp FILE, fits the models "
    "NULL and ALT to each replicate as pedseg-models does, and writes replicates.tsv (one row "
    "per replicate), power.tsv (rejections at 0.05, 0.01 and 0.001 with 95% Clopper-Pearson "
    "intervals), summary.tsv (mean, SD, bias and RMSE of the ALT model's estimates) and "
    "pvalues.svg in --out.  Replicate r is simulated with seed S + r; with --part K/M only the "
    "replicates r with r mod M = K run and only replicates.tsv is written; --collect merges "
    "the parts' folders into the full set of files.",
    "Exit status: 0 done, 2 input error or usage error, 3 size limit, 4 write error, 5 out of "
    "memory or an internal error.",
    EXIT_INPUT_ERROR, EXIT_WRITE_ERROR};

struct Settings {
  std::vector<std::string> dirs;
  std::string dir;
  std::string truth;
  std::optional<ModelKind> null, alt;
  int32_t replicates = 0;
  uint64_t seed = 1;
  int32_t jobs = 1;
  int64_t part = 0, parts = 1;
  std::string out;
  int32_t starts = DEFAULT_RANDOM_STARTS;
  bool collect = false;
  bool quiet = false;
};

cli::Take model_in(std::optional<ModelKind>& target) {
  return [&target](const std::string& name) {
    target = model_from_name(name);
    if (target) return std::string();
    std::string names;
    for (ModelKind k : ALL_MODELS) names += std::string(names.empty() ? "" : ", ") + model_name(k);
    return "unknown model '" + name + "' (models: " + names + ")";
  };
}

void declare_options(CLI::App& app, Settings& s) {
  app.add_option("DIR", s.dirs,
                 "the folder of the prepared sample; with --collect, the folders of the parts");
  cli::add_value(app, "--truth", "FILE", "a par.inp whose values are the true model",
                 cli::text_in(s.truth));
  cli::add_value(app, "--null", "MODEL", "the model tested (a model of pedseg-models)",
                 model_in(s.null));
  cli::add_value(app, "--alt", "MODEL", "the model it is tested against; NULL must be nested in it",
                 model_in(s.alt));
  cli::add_value(app, "--replicates", "N", "replicates of the run",
                 cli::number_in(s.replicates, 1, 100000000, "a number from 1 to 100000000"));
  cli::add_value(app, "--seed", "S", "replicate r is simulated with seed S + r (default 1)",
                 [&s](const std::string& text) {
                   long v = 0;
                   if (!cli::to_long(text, v) || v < 0) return "'" + text + "' is not a number from 0";
                   s.seed = static_cast<uint64_t>(v);
                   return std::string();
                 });
  cli::add_value(app, "--jobs", "J",
                 "replicates run at once, each with a likelihood of one thread (default 1)",
                 cli::number_in(s.jobs, 1, 256, "a number from 1 to 256"));
  cli::add_value(app, "--part", "K/M", "only the replicates r with r mod M = K (0 <= K < M)",
                 [&s](const std::string& text) {
                   const size_t slash = text.find('/');
                   long k = 0, m = 0;
                   if (slash == std::string::npos || !cli::to_long(text.substr(0, slash), k) ||
                       !cli::to_long(text.substr(slash + 1), m) || m < 1 || k < 0 || k >= m)
                     return "'" + text + "' is not K/M with 0 <= K < M";
                   s.part = k;
                   s.parts = m;
                   return std::string();
                 });
  cli::add_value(app, "--out", "DIR", "the folder of the results (default: DIR, or the current "
                 "folder with --collect); made when missing", cli::text_in(s.out));
  cli::add_value(app, "--starts", "N",
                 "quasi-random starts per model at most, as in pedseg-models (default " +
                     std::to_string(DEFAULT_RANDOM_STARTS) + ")",
                 cli::number_in(s.starts, 0, 1000, "a number from 0 to 1000"));
  app.add_flag("--collect", s.collect,
               "merge the replicates.tsv of the parts' folders instead of a run");
  app.add_flag("--quiet", s.quiet, "no progress on standard error");
}

std::string check_options(Settings& s) {
  if (s.collect) {
    if (s.dirs.empty()) return "--collect needs the folders of the parts";
    if (!s.truth.empty() || s.null || s.alt || s.replicates > 0)
      return "--collect takes no design: it is in the parts' files";
    if (s.out.empty()) s.out = ".";
    return "";
  }
  if (s.dirs.empty()) return "DIR is required";
  if (s.dirs.size() > 1) return "unexpected argument " + s.dirs[1];
  s.dir = s.dirs[0];
  std::error_code ec;
  if (!std::filesystem::is_directory(s.dir, ec)) return "'" + s.dir + "' is not a folder";
  if (s.truth.empty()) return "--truth is required";
  if (!s.null) return "--null is required";
  if (!s.alt) return "--alt is required";
  if (s.replicates == 0) return "--replicates is required";
  const std::vector<ModelKind> inside = nested_in(*s.alt);
  if (std::find(inside.begin(), inside.end(), *s.null) == inside.end())
    return std::string("--null: ") + model_name(*s.null) + " is not nested in " + model_name(*s.alt);
  if (s.out.empty()) s.out = s.dir;
  return "";
}

void write_file(const std::string& dir, const std::string& name, const std::string& text) {
  OutputFile f;
  open_output(f, path_in(dir, name));
  write_text(f, text);
  close_output(f);
}

void make_folder(const std::string& dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) throw WriteError{"cannot make the folder " + dir + ": " + ec.message()};
}

// replicates.tsv and, for a whole run, what it gives.
void write_outputs(const std::string& dir, const std::vector<std::string>& texts, bool whole) {
  Design d;
  Table t;
  std::string merged;
  try {
    merged = merge_replicates(texts, d, t);
  } catch (const std::invalid_argument& e) {
    throw InputError{e.what()};
  }
  make_folder(dir);
  write_file(dir, "replicates.tsv", merged);
  if (!whole) return;
  write_file(dir, "power.tsv", power_tsv(t));
  write_file(dir, "summary.tsv", summary_tsv(d, t));
  write_file(dir, "pvalues.svg", pvalues_svg(d, t));
}

// A bar of 30 characters with the count and the time left, redrawn in place.
std::function<void(int64_t)> progress_bar(FILE* err, int64_t total) {
  const auto begin = std::chrono::steady_clock::now();
  return [err, total, begin](int64_t done) {
    const double spent =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    const auto left = static_cast<long>(spent / static_cast<double>(done) *
                                        static_cast<double>(total - done) + 0.5);
    const int width = 30;
    const auto full = static_cast<int>(width * done / total);
    std::fprintf(err, "\r%s: [%s%s] %lld/%lld replicates, %ld:%02ld:%02ld left", PROGRAM,
                 std::string(static_cast<size_t>(full), '#').c_str(),
                 std::string(static_cast<size_t>(width - full), '.').c_str(),
                 static_cast<long long>(done), static_cast<long long>(total), left / 3600,
                 left / 60 % 60, left % 60);
    if (done == total) std::fputc('\n', err);
    std::fflush(err);
  };
}

std::string read_text(const std::string& name) {
  const InputFile f = open_input(name);
  return f.data;
}

}  // namespace

int power_main(const std::vector<std::string>& args, FILE* out, FILE* err) {
  Settings s;
  cli::Command command(POWER);
  declare_options(command.app(), s);
  std::string out_text, err_text;
  const std::optional<int> status =
      command.parse(args, out_text, err_text, [&] { return check_options(s); });
  if (status) return cli::finish(POWER, *status, out_text, err_text, out, err);

  std::string truth_problem;  // known once the sample and the truth are read
  const int run_status = run_with_exit_status(PROGRAM, out, err, [&] {
    if (s.collect) {
      std::vector<std::string> texts;
      for (const std::string& dir : s.dirs) texts.push_back(read_text(path_in(dir, "replicates.tsv")));
      write_outputs(s.out, texts, true);
      return;
    }
    auto sample = std::make_unique<SampleTables>();
    OutputFile diagnostics = output_stream(err, "standard error");
    load_sample(*sample, s.dir, diagnostics, PROGRAM);
    const tools::SimParams truth = tools::params_from_par_file(s.truth);
    truth_problem = check_truth(*sample, truth);
    if (!truth_problem.empty()) return;
    const Design d = make_design(*sample, *s.null, *s.alt, truth, s.replicates, s.seed, s.starts);
    int64_t count = 0;
    for (int64_t r = s.part; r < d.replicates; r += s.parts) ++count;
    const std::vector<std::string> rows =
        run_replicates(*sample, d, s.part, s.parts, s.jobs,
                       s.quiet || count == 0 ? std::function<void(int64_t)>{} : progress_bar(err, count));
    std::string text = replicates_head(d);
    for (const std::string& row : rows) text += row;
    if (s.parts == 1) {
      write_outputs(s.out, {text}, true);
    } else {
      make_folder(s.out);
      write_file(s.out, "replicates.tsv", text);
    }
  });
  if (truth_problem.empty()) return run_status;
  return cli::finish(POWER, POWER.usage_status, "",
                     command.usage_line("--truth: " + truth_problem), out, err);
}

}  // namespace pedseg::power
