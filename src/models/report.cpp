// The results as two tab-separated files and a console table.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "models/models.h"
#include "profile/profile.h"
#include "textio/textio.h"

namespace pedseg {

namespace {

std::string fixed(double v, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

std::string short_real(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.3g", v);
  return buf;
}

std::string p_text(double p) {
  char buf[64];
  std::snprintf(buf, sizeof buf, p < 1.0E-4 ? "%.2e" : "%.4f", p);
  return buf;
}

// The notes of the fit, then the one of the test.
std::vector<std::string> all_notes(const ModelResult& r) {
  std::vector<std::string> notes = r.notes;
  if (!r.test_note.empty()) notes.push_back(r.test_note);
  return notes;
}

std::string joined_notes(const ModelResult& r) {
  std::string s;
  for (const std::string& n : all_notes(r)) s += (s.empty() ? "" : "; ") + n;
  return s;
}

// An end of an interval in estimates.tsv: its value and whether it is open
// (1) or closed (0); both empty when there is no interval or the end was not
// found.
std::string end_value(const IntervalEnd& e) {
  return e.kind == EndKind::Unknown ? "" : real17(e.value);
}
std::string end_open(const IntervalEnd& e) {
  return e.kind == EndKind::Unknown ? "" : e.kind == EndKind::Open ? "1" : "0";
}

const ProfileInterval* find_interval(const ModelsRun& run, ModelKind kind, int32_t entry) {
  for (const ProfileInterval& v : run.intervals)
    if (v.kind == kind && v.entry == entry) return &v;
  return nullptr;
}

void add_row(std::string& s, const std::vector<std::string>& fields) {
  for (size_t c = 0; c < fields.size(); ++c) {
    if (c > 0) s += '\t';
    s += fields[c];
  }
  s += '\n';
}

// Lines of aligned columns after `indent`: the columns of `left`
// left-aligned, the others right-aligned.
std::string aligned(const std::vector<std::vector<std::string>>& rows, const std::string& indent,
                    std::initializer_list<size_t> left) {
  std::vector<size_t> width(rows[0].size(), 0);
  for (const auto& row : rows)
    for (size_t c = 0; c < row.size(); ++c) width[c] = std::max(width[c], row[c].size());
  std::string s;
  for (const auto& row : rows) {
    std::string line = indent;
    for (size_t c = 0; c < row.size(); ++c) {
      const std::string pad(width[c] - row[c].size(), ' ');
      const bool to_left = std::find(left.begin(), left.end(), c) != left.end();
      line += (c == 0 ? "" : "  ") + (to_left ? row[c] + pad : pad + row[c]);
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    s += line + "\n";
  }
  return s;
}

std::string end_text(const IntervalEnd& e) {
  if (e.kind == EndKind::Unknown) return "- ";
  return fixed(e.value, 6) + (e.kind == EndKind::Open ? "*" : " ");
}

// The profile likelihood intervals; an end where the profile stays within
// the drop up to the grid's end is marked with '*', one that was not found
// with '-'.
std::string intervals_block(const ModelsRun& run) {
  std::vector<std::vector<std::string>> rows{{"parameter", "estimate", "ci_low ", "ci_high "}};
  bool open = false, unknown = false;
  std::string gaps;
  for (const ProfileInterval& v : run.intervals) {
    const ModelResult* r = run.find(v.kind);
    if (r == nullptr) continue;
    const std::string name = std::string(model_name(v.kind)) + " " + r->estimate.name[v.entry];
    rows.push_back({name, fixed(r->estimate.value[v.entry], 6), end_text(v.low), end_text(v.high)});
    if (v.gap)
      gaps += "  " + name +
              ": the profile falls below the drop and rises above it again between the ends\n";
    for (const IntervalEnd* e : {&v.low, &v.high}) {
      open = open || e->kind == EndKind::Open;
      unknown = unknown || e->kind == EndKind::Unknown;
    }
  }
  const std::string drop = fixed(PROFILE_DROP_95, 2);
  std::string s = "Profile likelihood intervals (95%: ln L within " + drop + " of the maximum):\n" +
                  aligned(rows, "  ", {0});
  if (open) s += "  * the profile stays within " + drop + " of the maximum up to the end of its grid\n";
  if (unknown) s += "  - not found: the profile stopped at a point above the maximum\n";
  return s + gaps;
}

// The estimates of one model as a published table gives them: the
// parameters in the order of their meaning, then the derived quantities,
// with standard errors; what was not estimated says why.
std::string estimates_block(const ModelResult& r) {
  const ParamVector& t = r.estimate;
  std::vector<std::vector<std::string>> rows{{"parameter", "estimate", "se", ""}};
  const auto add_derived = [&](bool polygenic) {
    for (const DerivedEstimate& d : r.derived)
      if ((d.name.rfind("polygenic", 0) == 0) == polygenic)
        rows.push_back({d.name, fixed(d.value, 6), d.se ? fixed(*d.se, 6) : "", ""});
  };
  const int32_t order[] = {SLOT_Q,        mean_slot(1),  mean_slot(2), mean_slot(3),
                           spike_slot(1), spike_slot(2), spike_slot(3), tau_slot(1),
                           tau_slot(2),   tau_slot(3),   SLOT_POLY_EFFECT, SLOT_RES_VAR};
  for (int32_t i : order) {
    if (i == SLOT_RES_VAR) add_derived(true);  // the polygenic component's, after its effect
    std::string why;
    switch (r.status[i]) {
      case ParamStatus::Free: break;
      case ParamStatus::AtBound: why = "at a bound"; break;
      case ParamStatus::Linked:
      case ParamStatus::Constrained: why = "= " + t.name[t.link[i]]; break;
      default: why = status_name(r.status[i]);
    }
    rows.push_back({t.name[i], fixed(t.value[i], 6), r.se[i] ? fixed(*r.se[i], 6) : "", why});
  }
  add_derived(false);
  return std::string("Estimates of the ") + model_name(r.kind) + " model (se: standard error):\n" +
         aligned(rows, "  ", {0, 3});
}

// A second maximum within this of the estimate (ln L units) is noted under
// the console table.
constexpr double CLOSE_SECOND = 2.0;

// What sets a maximum apart: q, the genotype with the highest mean, the taus
// of the general model and the polygenic effect.
std::string describe(ModelKind kind, const ParamVector& t) {
  int32_t high = 1;
  for (int32_t g = 2; g <= 3; ++g)
    if (t.value[mean_slot(g)] > t.value[mean_slot(high)]) high = g;
  std::string s = "q " + short_real(t.value[SLOT_Q]) + ", highest mean on genotype " +
                  std::to_string(high) + " (" + short_real(t.value[mean_slot(high)]) + ")";
  if (kind == ModelKind::General)
    s += ", taus " + short_real(t.value[SLOT_TAU1]) + ", " + short_real(t.value[SLOT_TAU2]) +
         ", " + short_real(t.value[SLOT_TAU3]);
  if (t.est[SLOT_POLY_EFFECT] != 0 || t.value[SLOT_POLY_EFFECT] != 0.0)
    s += ", polygenic effect " + short_real(t.value[SLOT_POLY_EFFECT]);
  return s;
}

// The note on a second maximum close to the estimate, or "".
std::string second_note(const ModelResult& r) {
  if (!r.fitted || r.optima.size() < 2 || r.optima[1].lnL < r.lnL - CLOSE_SECOND) return "";
  std::string s = "another local maximum " + fixed(r.lnL - r.optima[1].lnL, 3) +
                  " below the estimate in ln L";
  if (has_gene(r.kind))
    s += ": " + describe(r.kind, r.optima[1].point) + " (estimate: " +
         describe(r.kind, r.estimate) + ")";
  return s;
}

}  // namespace

std::string lh_text(double v) { return fixed(v, 6); }

std::string with_columns(const std::string& tsv, const std::string& header,
                         const std::function<std::string(const std::string&)>& cells) {
  std::string out;
  bool first = true;
  for (size_t at = 0; at < tsv.size();) {
    const size_t end = tsv.find('\n', at);
    const std::string line = tsv.substr(at, end - at);
    at = end == std::string::npos ? tsv.size() : end + 1;
    out += line + "\t" + (first ? header : cells(line)) + "\n";
    first = false;
  }
  return out;
}

std::string models_tsv(const ModelsRun& run) {
  std::string s;
  add_row(s, {"model", "lnL", "n_free", "AIC", "test_against", "df", "chisq", "p", "starts",
              "starts_agreeing", "optima", "second_lnL", "gradient_norm", "note"});
  for (const ModelResult& r : run.results) {
    std::vector<std::string> row{model_name(r.kind)};
    if (r.fitted) {
      row.insert(row.end(), {real17(r.lnL), std::to_string(r.n_free),
                             real17(-2.0 * r.lnL + 2.0 * r.n_free)});
    } else {
      row.insert(row.end(), {"", "", ""});
    }
    if (r.tested) {
      row.insert(row.end(), {model_name(r.against), std::to_string(r.df), real17(r.chisq),
                             real17(r.p)});
    } else {
      row.insert(row.end(), {"", "", "", ""});
    }
    row.insert(row.end(), {std::to_string(r.starts), std::to_string(r.starts_agreeing),
                           std::to_string(r.optima.size()),
                           r.optima.size() > 1 ? real17(r.optima[1].lnL) : "",
                           r.fitted ? real17(r.gradient_norm) : "", joined_notes(r)});
    add_row(s, row);
  }
  return s;
}

std::string estimates_tsv(const ModelsRun& run) {
  std::string s;
  add_row(s, {"model", "slot", "parameter", "estimate", "se", "status", "ci_low", "ci_high",
              "ci_low_open", "ci_high_open"});
  for (const ModelResult& r : run.results) {
    if (!r.fitted) continue;
    for (int32_t i = 1; i <= r.estimate.size(); ++i) {
      const ProfileInterval* v = find_interval(run, r.kind, i);
      if (i == SLOT_Q && !has_gene(r.kind)) {
        add_row(s, {model_name(r.kind), std::to_string(i), r.estimate.name[i], "", "",
                    "not_in_model", "", "", "", ""});
        continue;
      }
      const IntervalEnd none;
      const IntervalEnd& low = v ? v->low : none;
      const IntervalEnd& high = v ? v->high : none;
      add_row(s, {model_name(r.kind), std::to_string(i), r.estimate.name[i],
                  real17(r.estimate.value[i]), r.se[i] ? real17(*r.se[i]) : "",
                  status_name(r.status[i]), end_value(low), end_value(high), end_open(low),
                  end_open(high)});
    }
    for (const DerivedEstimate& d : r.derived)
      add_row(s, {model_name(r.kind), "", d.name, real17(d.value), d.se ? real17(*d.se) : "",
                  "derived", "", "", "", ""});
  }
  return s;
}

std::string console_table(const ModelsRun& run, std::optional<ModelKind> focus) {
  std::vector<std::vector<std::string>> rows;
  rows.push_back({"model", "-2lnL", "n_free", "AIC", "test", "df", "chisq", "p", "starts"});
  std::string notes;
  for (const ModelResult& r : run.results) {
    std::vector<std::string> row{model_name(r.kind)};
    if (r.fitted) {
      row.push_back(fixed(-2.0 * r.lnL, 3));
      row.push_back(std::to_string(r.n_free));
      row.push_back(fixed(-2.0 * r.lnL + 2.0 * r.n_free, 3));
    } else {
      row.insert(row.end(), {"-", "-", "-"});
    }
    if (r.tested) {
      row.push_back(std::string("vs ") + model_name(r.against));
      row.push_back(std::to_string(r.df));
      row.push_back(fixed(r.chisq, 3));
      row.push_back(p_text(r.p));
    } else {
      row.insert(row.end(), {"", "", "", ""});
    }
    row.push_back(std::to_string(r.starts_agreeing) + "/" + std::to_string(r.starts));
    rows.push_back(row);
    std::vector<std::string> lines = all_notes(r);
    const std::string second = second_note(r);
    if (!second.empty()) lines.push_back(second);
    for (const std::string& n : lines) notes += "  " + std::string(model_name(r.kind)) + ": " + n + "\n";
  }
  std::string s = aligned(rows, "", {0, 4});  // names and the test left-aligned
  if (!notes.empty()) s += "\nNotes:\n" + notes;
  const ModelResult* f = focus ? run.find(*focus) : nullptr;
  if (f != nullptr && f->fitted) s.append("\n").append(estimates_block(*f));
  if (!run.intervals.empty()) s.append("\n").append(intervals_block(run));
  return s;
}

}  // namespace pedseg
