// The replicates of a design: their seeds, simulations and fits, the rows of
// replicates.tsv, the worker threads, and the merge of a run's parts.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <exception>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "cli/cli.h"
#include "power/power.h"
#include "textio/textio.h"

namespace pedseg::power {

namespace {

std::string short_text(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

std::string join(const std::vector<std::string>& cells) {
  std::string s;
  for (size_t k = 0; k < cells.size(); ++k) s += (k == 0 ? "" : "\t") + cells[k];
  return s + "\n";
}

std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> cells;
  for (size_t at = 0;;) {
    const size_t tab = line.find('\t', at);
    cells.push_back(line.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
    if (tab == std::string::npos) return cells;
    at = tab + 1;
  }
}

// The truth is a point of the model: its fixed entries hold their values and
// its linked entries their heads' (q is free of meaning without a gene).
bool point_of(ModelKind kind, const ParamVector& user, const double* truth) {
  const ParamVector m = model_params(kind, user);
  for (int32_t i = 1; i <= NPAR_USED; ++i) {
    if (i == SLOT_Q && !has_gene(kind)) continue;
    if (m.link[i] != i) {
      if (truth[i] != truth[m.link[i]]) return false;
    } else if (m.est[i] == 0 && truth[i] != m.value[i]) {
      return false;
    }
  }
  // The polygenic effect's magnitude is what the models estimate.
  return !(m.est[SLOT_POLY_EFFECT] == 0 && std::fabs(truth[SLOT_POLY_EFFECT]) != 0.0);
}

void estimates(std::vector<std::string>& row, const ModelResult& r) {
  for (int32_t i = 1; i <= NPAR_USED; ++i) row.push_back(r.fitted ? real17(r.estimate.value[i]) : "");
}

}  // namespace

std::string check_truth(const SampleTables& sample, const tools::SimParams& truth) {
  for (int32_t i = 1; i <= NPAR_USED; ++i) {
    const double v = tools::get_slot(truth, i);
    if (v < sample.par.PAR_LOW[i] || v > sample.par.PAR_HIGH[i])
      return std::string(PARAM_NAME[i]) + " = " + short_text(v) + " lies outside its bounds " +
             short_text(sample.par.PAR_LOW[i]) + " to " + short_text(sample.par.PAR_HIGH[i]) +
             " in the sample's par.inp";
  }
  return tools::check_params(truth);
}

Design make_design(const SampleTables& sample, ModelKind null, ModelKind alt,
                   const tools::SimParams& truth, int64_t replicates, uint64_t seed,
                   int32_t starts) {
  Design d;
  d.null = null;
  d.alt = alt;
  d.replicates = replicates;
  d.seed = seed;
  d.starts = starts;
  for (int32_t i = 1; i <= NPAR_USED; ++i) d.truth[i] = tools::get_slot(truth, i);
  const ParamVector user = slot_params(sample.par);
  const ParamVector a = model_params(alt, user);
  for (int32_t i = 1; i <= NPAR_USED; ++i)
    if (is_free(a, i)) d.alt_free.push_back(i);
  d.truth_under_null = point_of(null, user, d.truth);
  return d;
}

std::string replicates_head(const Design& d) {
  std::string s = "# pedseg-power\n";
  s += join({"# null", model_name(d.null)});
  s += join({"# alt", model_name(d.alt)});
  s += join({"# replicates", std::to_string(d.replicates)});
  s += join({"# seed", std::to_string(d.seed)});
  s += join({"# starts", std::to_string(d.starts)});
  s += join({"# truth_under_null", d.truth_under_null ? "yes" : "no"});
  std::vector<std::string> truth{"# truth"}, free{"# alt_free"};
  for (int32_t i = 1; i <= NPAR_USED; ++i) truth.insert(truth.end(), {PARAM_NAME[i], real17(d.truth[i])});
  for (int32_t i : d.alt_free) free.push_back(PARAM_NAME[i]);
  s += join(truth) + join(free);
  std::vector<std::string> names{"replicate", "seed",   "lnL_null",       "lnL_alt",
                                 "statistic", "df",     "p",              "converged_null",
                                 "converged_alt"};
  for (const char* m : {"null_", "alt_"})
    for (int32_t i = 1; i <= NPAR_USED; ++i) names.push_back(m + std::string(PARAM_NAME[i]));
  return s + join(names);
}

std::string replicate_row(const SampleTables& sample, const Design& d, int64_t r) {
  const uint64_t seed = d.seed + static_cast<uint64_t>(r);
  tools::SimParams truth;
  for (int32_t i = 1; i <= NPAR_USED; ++i) tools::set_slot(truth, i, d.truth[i]);
  const std::unique_ptr<SampleTables> rep = simulated_sample(sample, truth, seed);
  const PairFit f = fit_pair(*rep, d.null, d.alt, d.starts, 1);
  std::vector<std::string> row{std::to_string(r), std::to_string(seed),
                               f.null.fitted ? real17(f.null.lnL) : "",
                               f.alt.fitted ? real17(f.alt.lnL) : ""};
  if (f.null.tested)
    row.insert(row.end(), {real17(f.null.chisq), std::to_string(f.null.df), real17(f.null.p)});
  else
    row.insert(row.end(), {"", "", ""});
  row.push_back(fit_converged(f.null) ? "1" : "0");
  row.push_back(fit_converged(f.alt) ? "1" : "0");
  estimates(row, f.null);
  estimates(row, f.alt);
  return join(row);
}

std::vector<std::string> run_replicates(const SampleTables& sample, const Design& d, int64_t part,
                                        int64_t parts, int32_t jobs,
                                        const std::function<void(int64_t)>& done) {
  std::vector<int64_t> todo;
  for (int64_t r = part; r < d.replicates; r += parts) todo.push_back(r);
  std::vector<std::string> rows(todo.size());
  std::atomic<size_t> next{0};
  std::mutex lock;
  int64_t finished = 0;
  std::exception_ptr failure;
  // The sample is only read: each replicate works on its own copy.
  auto work = [&] {
    for (;;) {
      const size_t k = next.fetch_add(1);
      if (k >= todo.size()) return;
      try {
        rows[k] = replicate_row(sample, d, todo[k]);
      } catch (...) {
        const std::lock_guard<std::mutex> g(lock);
        if (!failure) failure = std::current_exception();
        next = todo.size();
        return;
      }
      const std::lock_guard<std::mutex> g(lock);
      ++finished;
      if (done) done(finished);
    }
  };
  const int32_t n = std::max<int32_t>(1, std::min<int32_t>(jobs, static_cast<int32_t>(todo.size())));
  std::vector<std::thread> threads;
  for (int32_t t = 1; t < n; ++t) threads.emplace_back(work);
  work();
  for (std::thread& t : threads) t.join();
  if (failure) std::rethrow_exception(failure);
  return rows;
}

int32_t Table::column(const std::string& name) const {
  for (size_t k = 0; k < names.size(); ++k)
    if (names[k] == name) return static_cast<int32_t>(k);
  return -1;
}

std::string merge_replicates(const std::vector<std::string>& texts, Design& design, Table& table) {
  std::string head;
  std::map<int64_t, std::string> rows;
  for (const std::string& text : texts) {
    std::string h;
    size_t at = 0;
    while (at < text.size() && text[at] == '#') {
      const size_t end = text.find('\n', at);
      if (end == std::string::npos) break;
      h += text.substr(at, end + 1 - at);
      at = end + 1;
    }
    const size_t names_end = text.find('\n', at);
    if (names_end == std::string::npos) throw std::invalid_argument("a replicates.tsv without its column names");
    h += text.substr(at, names_end + 1 - at);
    if (head.empty()) head = h;
    else if (h != head) throw std::invalid_argument("the parts were run with different designs");
    for (at = names_end + 1; at < text.size();) {
      size_t end = text.find('\n', at);
      if (end == std::string::npos) throw std::invalid_argument("a replicates.tsv ends inside a row");
      const std::string line = text.substr(at, end + 1 - at);
      at = end + 1;
      long r = 0;
      const std::string first = line.substr(0, line.find('\t'));
      if (!cli::to_long(first, r)) throw std::invalid_argument("a row without its replicate number");
      if (!rows.emplace(r, line).second)
        throw std::invalid_argument("replicate " + first + " is in two parts");
    }
  }
  // The design from the head.
  design = Design{};
  std::vector<std::string> lines;
  for (size_t at = 0; at < head.size();) {
    const size_t end = head.find('\n', at);
    lines.push_back(head.substr(at, end - at));
    at = end + 1;
  }
  bool has_replicates = false;
  for (const std::string& line : lines) {
    const std::vector<std::string> c = split(line);
    if (c[0] == "# null" && c.size() == 2 && model_from_name(c[1])) design.null = *model_from_name(c[1]);
    if (c[0] == "# alt" && c.size() == 2 && model_from_name(c[1])) design.alt = *model_from_name(c[1]);
    long v = 0;
    if (c[0] == "# replicates" && c.size() == 2 && cli::to_long(c[1], v)) {
      design.replicates = v;
      has_replicates = true;
    }
    if (c[0] == "# seed" && c.size() == 2 && cli::to_long(c[1], v)) design.seed = static_cast<uint64_t>(v);
    if (c[0] == "# truth_under_null" && c.size() == 2) design.truth_under_null = c[1] == "yes";
    if (c[0] == "# truth")
      for (size_t k = 1; k + 1 < c.size(); k += 2)
        for (int32_t i = 1; i <= NPAR_USED; ++i)
          if (c[k] == PARAM_NAME[i]) cli::to_real(c[k + 1], design.truth[i]);
    if (c[0] == "# alt_free")
      for (size_t k = 1; k < c.size(); ++k)
        for (int32_t i = 1; i <= NPAR_USED; ++i)
          if (c[k] == PARAM_NAME[i]) design.alt_free.push_back(i);
  }
  if (!has_replicates || lines.empty()) throw std::invalid_argument("not a replicates.tsv of pedseg-power");
  int64_t expected = 0;
  for (const auto& [r, line] : rows) {
    if (r != expected)
      throw std::invalid_argument("replicate " + std::to_string(expected) + " is in no part");
    ++expected;
  }
  if (expected != design.replicates)
    throw std::invalid_argument("replicate " + std::to_string(expected) + " is in no part");
  table = Table{};
  table.names = split(lines.back());
  std::string merged = head;
  for (const auto& [r, line] : rows) {
    merged += line;
    table.rows.push_back(split(line.substr(0, line.size() - 1)));
  }
  return merged;
}

}  // namespace pedseg::power
