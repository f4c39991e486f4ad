// The ped2iway command: options, reading, checking, writing the files.

#include <filesystem>
#include <iostream>
#include <sstream>

#include "cli/cli.h"
#include "params/codes.h"
#include "ped2iway.h"
#include "textio/textio.h"
#include "tool_files.h"

namespace pedseg::tools {

namespace {

namespace fs = std::filesystem;

const cli::Program PED2IWAY = {
    "ped2iway",
    "Turns a pedigree file with one person a line (family, individual, father, mother, sex, "
    "trait, and any other columns; separated by blanks, commas or tabs, with or without a "
    "header line) into iway.dat, the trait file and the id map (global number, family id, "
    "individual id).  Ids are strings; a parent id of 0 means unknown; sex 1 male, 2 female, "
    "0 unknown.  Pedigree loops are broken: each breaker's copy goes to loops.dat.",
    "Exit status: 0 ok, 1 usage error, 2 input problems (all reported, nothing written; with "
    "--skip-bad-families, when no family is left) or an output file that cannot be written.",
    1, 2};

bool plain_name(const std::string& s) {
  if (s.empty() || s == "." || s == "..") return false;
  for (char c : s)
    if (c == ' ' || c == '\t' || c == ',' || c == '/' || c == '\'' || c == '"' || c == '\\' ||
        static_cast<unsigned char>(c) < 32)
      return false;
  return true;
}

struct Settings {
  std::string pedfile, dir = ".", trait_name = "trait.dat", map_name = "idmap.dat";
  PedOptions ped;
  bool want_par = false;
};

void declare_options(CLI::App& app, Settings& s) {
  app.add_option("PEDFILE", s.pedfile, "the pedigree file (-: the standard input)")->required();
  cli::add_value(app, "-o,--out-dir", "DIR", "write into DIR (created if needed; default .)",
                 cli::text_in(s.dir));
  cli::add_value(app, "--trait-file", "NAME",
                 "name of the trait file (default trait.dat, at most 16 characters, no blanks, "
                 "commas, slashes or quotes)",
                 [&s](const std::string& name) {
                   if (!plain_name(name) || name.size() > 16)
                     return "'" + name + "': the program takes a name of at most 16 characters "
                                         "without blanks, commas, slashes or quotes";
                   s.trait_name = name;
                   return std::string();
                 });
  cli::add_value(app, "--map-file", "NAME", "name of the id map (default idmap.dat)",
                 [&s](const std::string& name) {
                   if (!plain_name(name)) return "'" + name + "' is not a plain file name";
                   s.map_name = name;
                   return std::string();
                 });
  cli::add_value(app, "--missing", "CODE",
                 "missing-trait code (default -999; NA and . are always missing; -9 for "
                 "PLINK-style files).  Without it, values that other programs use as missing "
                 "codes are written as measured, with a warning",
                 [&s](const std::string& code) {
                   s.ped.missing_code_given = true;
                   return cli::text_in(s.ped.missing_code)(code);
                 });
  app.add_flag("--header", s.ped.header, "the first line is a header, whatever it holds");
  app.add_flag("--par-template", s.want_par,
               "also write a commented par.inp with starting values (par.inp.new if par.inp "
               "exists already)");
  app.add_flag("--fix-parents", s.ped.fix_parents,
               "add a parent who has no line as an unmeasured founder and a missing second "
               "parent as an unmeasured dummy");
  app.add_flag("--skip-bad-families", s.ped.skip_bad_families,
               "leave out each family with a problem (one message each) and write the others; "
               "without it any problem stops the conversion");
  cli::add_value(app, "--trait", "COLUMN",
                 "the trait's column, by its header name or its number (default: the sixth)",
                 cli::text_in(s.ped.trait));
  cli::add_value(app, "--covariates", "NAME[,NAME...]",
                 "also write covariates.dat with these columns (by header name or number); sex "
                 "is the sex column, coded 1 male, 0 female, NA unknown",
                 [&s](const std::string& list) {
                   s.ped.covariates.clear();
                   size_t from = 0;
                   for (;;) {
                     const size_t comma = list.find(',', from);
                     std::string name = list.substr(from, comma - from);
                     if (name.empty()) return "'" + list + "' has an empty name";
                     s.ped.covariates.push_back(std::move(name));
                     if (comma == std::string::npos) return std::string();
                     from = comma + 1;
                   }
                 });
  cli::add_value(app, "--proband", "COLUMN",
                 "also write proband.dat from this column (1 a proband; 0 or empty not)",
                 cli::text_in(s.ped.proband));
  app.add_flag("--no-loops", s.ped.no_loops,
               "refuse pedigrees with loops (marriage rings, inbreeding) instead of breaking "
               "them");
}

constexpr const char* COVARIATES_FILE = "covariates.dat";
constexpr const char* PROBAND_FILE = "proband.dat";
constexpr const char* LOOPS_FILE = "loops.dat";
constexpr size_t MAX_LISTED = 10;  // families named in one clause of the summary

// "3 loops broken, copies of: family L, C; family R, s1 (2)"
std::string loops_clause(const IwayOutput& iw) {
  const size_t n = iw.loops.size();
  std::string s = std::to_string(n) + (n == 1 ? " loop broken (" : " loops broken (");
  size_t k = 0, listed = 0;
  while (k < n) {
    size_t j = k;
    while (j < n && iw.loops[j].person == iw.loops[k].person) ++j;
    if (listed == MAX_LISTED) {
      s += ", ...";
      break;
    }
    const auto& id = iw.ids[static_cast<size_t>(iw.loops[k].person)];
    s += (listed++ ? "; " : "") + std::string("family ") + id.family + " at " + id.individual;
    if (j - k > 1) s += " (" + std::to_string(j - k) + " copies)";
    k = j;
  }
  return s + ")";
}

// Which columns were read: "columns: trait 8 (weight), covariates age (7), sex (5), proband 9
// (proband), ignored 6 (height)".
std::string columns_clause(const PedData& d) {
  auto named = [&](int col) {
    std::string s = std::to_string(col);
    if (col <= static_cast<int>(d.header.size())) s += " (" + d.header[col - 1] + ")";
    return s;
  };
  std::vector<char> used(static_cast<size_t>(d.columns) + 1, 0);
  for (int c = 1; c <= FIXED_COLUMNS; ++c) used[c] = 1;
  std::string s = "of " + std::to_string(d.columns) + " columns read: trait " +
                  named(d.trait_column);
  used[d.trait_column] = 1;
  if (!d.covariate_names.empty()) {
    s += ", covariates";
    for (size_t j = 0; j < d.covariate_names.size(); ++j) {
      s += (j ? ", " : " ") + d.covariate_names[j] + " (" +
           std::to_string(d.covariate_columns[j]) + ")";
      used[d.covariate_columns[j]] = 1;
    }
  }
  if (d.proband_column > 0) {
    s += ", proband " + named(d.proband_column);
    used[d.proband_column] = 1;
  }
  std::string ignored;
  int count = 0;
  for (int c = 1; c <= d.columns; ++c)
    if (!used[c]) ignored += (count++ ? ", " : "") + named(c);
  if (count > 0) s += "; ignored: " + ignored;
  return s;
}

// The names the files cannot share; "" or the usage error.
std::string check_names(const Settings& s) {
  for (const char* reserved : {"iway.dat", "par.inp", COVARIATES_FILE, PROBAND_FILE, LOOPS_FILE})
    if (s.trait_name == reserved || s.map_name == reserved)
      return std::string(reserved) + " cannot be the trait file or the id map";
  if (s.trait_name == s.map_name) return "the trait file and the id map need different names";
  return "";
}

// The whole pedigree file, or the standard input for "-".
std::string read_pedfile(const std::string& name) {
  if (name != "-") return open_input(name).data;
  std::ostringstream ss;
  ss << std::cin.rdbuf();
  return ss.str();
}

}  // namespace

int run_ped2iway(const std::vector<std::string>& args, std::string& out, std::string& err) {
  Settings st;
  cli::Command command(PED2IWAY);
  declare_options(command.app(), st);
  if (const auto status = command.parse(args, out, err)) return *status;
  if (const std::string problem = check_names(st); !problem.empty()) {
    err += command.usage_line(problem);
    return PED2IWAY.usage_status;
  }
  std::string text;
  const std::string shown = st.pedfile == "-" ? std::string("standard input") : st.pedfile;
  try {
    text = read_pedfile(st.pedfile);
  } catch (const InputError& e) {
    err += "ped2iway: " + e.message + "\n";
    return 2;
  }

  std::vector<Problem> problems;
  PedData data = parse_pedfile(text, st.ped, problems);
  for (const auto& sf : data.skipped) {
    err += shown + ": family " + sf.id + " left out:";
    for (size_t k = 0; k < sf.problems.size(); ++k) {
      const Problem& p = sf.problems[k];
      err += k ? "; " : " ";
      if (p.line > 0)
        err += "line " + std::to_string(p.line) + (p.individual.empty() ? ": " : ", ");
      if (!p.individual.empty()) err += "individual " + p.individual + ": ";
      err += p.message;
    }
    err += "\n";
  }
  if (!problems.empty()) {
    for (const auto& p : problems) err += shown + ": " + format_problem(p) + "\n";
    err += "ped2iway: " + std::to_string(problems.size()) +
           (problems.size() == 1 ? " problem" : " problems") + " in " + shown +
           "; nothing written\n";
    return 2;
  }
  for (const auto& note : data.notes) err += "ped2iway: " + note + "\n";
  for (const auto& sc : data.suspects)
    err += "ped2iway: warning: " + std::to_string(sc.count) +
           (sc.count == 1 ? " measured trait value is " : " measured trait values are ") +
           sc.code + ", " + sc.why + "; written as measured. If " +
           (sc.count == 1 ? "it is a missing value" : "they are missing values") +
           ", convert again with --missing " + sc.code + "\n";

  IwayOutput iw = build_iway(data);
  for (size_t i = 1; i < iw.proband.size(); ++i)
    if (iw.proband[i] && trait_missing(iw.TRAIT[i]))
      err += "ped2iway: warning: family " + iw.ids[i].family + ", individual " +
             iw.ids[i].individual + " is a proband without a trait value\n";

  std::error_code ec;
  fs::path base(st.dir);
  fs::create_directories(base, ec);
  if (ec || !fs::is_directory(base)) {
    err += "ped2iway: cannot create folder " + st.dir + (ec ? ": " + ec.message() : "") + "\n";
    return 2;
  }
  struct Out {
    std::string name;
    std::string text;
  };
  std::string why;
  std::vector<Out> files{{"iway.dat", iway_text(iw)}, {st.trait_name, trait_text(iw)},
                         {st.map_name, idmap_text(iw)}};
  // The files that belong to one iway.dat: those not written now would be
  // an earlier conversion's, and are removed.
  std::vector<std::string> stale;
  auto companion = [&](const char* name, bool wanted, const std::string& text) {
    if (wanted) files.push_back({name, text});
    else if (fs::exists(base / name)) stale.push_back(name);
  };
  companion(COVARIATES_FILE, !iw.covariate_names.empty(), covariates_text(iw));
  companion(PROBAND_FILE, iw.has_proband, proband_text(iw));
  companion(LOOPS_FILE, !iw.loops.empty(), loops_text(iw));
  if (st.want_par) {
    // A hand-edited par.inp is never replaced.
    std::string name = fs::exists(base / "par.inp") ? "par.inp.new" : "par.inp";
    files.push_back({name, par_template_text(iw, st.trait_name)});
  }
  // Write everything under temporary names first, so that a failure leaves no
  // mismatched set of files behind.
  for (size_t k = 0; k < files.size(); ++k) {
    fs::path tmp = base / (files[k].name + ".tmp");
    if (!write_whole_file(tmp.string(), files[k].text, why)) {
      err += "ped2iway: cannot write " + tmp.string() + ": " + why + "\n";
      for (size_t j = 0; j <= k; ++j) fs::remove(base / (files[j].name + ".tmp"), ec);
      return 2;
    }
  }
  for (const auto& f : files) {
    fs::rename(base / (f.name + ".tmp"), base / f.name, ec);
    if (ec) {
      err += "ped2iway: cannot write " + (base / f.name).string() + ": " + ec.message() + "\n";
      return 2;
    }
  }
  for (const auto& name : stale) {
    fs::remove(base / name, ec);
    if (ec) {
      err += "ped2iway: cannot remove the earlier " + (base / name).string() + ": " +
             ec.message() + "\n";
      return 2;
    }
  }

  auto path = [&](const std::string& name) {
    return st.dir == "." ? name : (base / name).string();
  };
  const int nfam = static_cast<int>(data.families.size());
  const int nind = static_cast<int>(iw.ids.size()) - 1;
  std::string s = "ped2iway: wrote " + path("iway.dat") + " (" + std::to_string(nfam) +
                  (nfam == 1 ? " family, " : " families, ") + std::to_string(nind) +
                  " individuals, " + std::to_string(iw.nuclear) +
                  (iw.nuclear == 1 ? " nuclear family), " : " nuclear families), ") +
                  path(st.trait_name) + " (" + std::to_string(iw.measured) +
                  " measured (of which " + std::to_string(iw.spike) + " in the spike), " +
                  std::to_string(iw.missing) + " missing), " + path(st.map_name);
  for (const auto& f : files)
    if (f.name == COVARIATES_FILE || f.name == PROBAND_FILE || f.name == LOOPS_FILE)
      s += ", " + path(f.name);
  if (st.want_par) s += ", " + path(files.back().name);
  if (iw.split_families > 0)
    s += "; " + std::to_string(iw.split_families) +
         (iw.split_families == 1 ? " family falls" : " families fall") +
         " into unconnected parts";
  if (iw.loose > 0)
    s += "; " + std::to_string(iw.loose) +
         (iw.loose == 1 ? " loose individual" : " loose individuals");
  if (iw.unmeasured_families > 0)
    s += "; " + std::to_string(iw.unmeasured_families) +
         (iw.unmeasured_families == 1 ? " family has" : " families have") +
         " no measured member and will be skipped";
  if (data.low_values > 0)
    s += "; " + std::to_string(data.low_values) + " values of -998 or below written as missing";
  if (!data.notes.empty())
    s += "; " + std::to_string(data.notes.size()) + " parents added";
  if (data.separator != ' ')
    s += data.separator == ',' ? "; read as comma-separated" : "; read as tab-separated";
  if (data.header_line > 0)
    s += "; line " + std::to_string(data.header_line) + " read as a header" +
         (data.row_names ? " (first column, row names, dropped)" : "");
  if (!iw.loops.empty()) s += "; " + loops_clause(iw);
  if (!stale.empty()) {
    s += "; removed the earlier ";
    for (size_t k = 0; k < stale.size(); ++k) s += (k ? ", " : "") + path(stale[k]);
  }
  if (data.columns > 6 || !st.ped.trait.empty() || !st.ped.covariates.empty() ||
      !st.ped.proband.empty())
    s += "; " + columns_clause(data);
  if (iw.has_proband) {
    size_t n = 0;
    for (char b : iw.proband) n += b ? 1 : 0;
    s += "; " + std::to_string(n) + (n == 1 ? " proband" : " probands");
    if (!iw.no_proband.empty()) {
      s += ", " + std::to_string(iw.no_proband.size()) +
           (iw.no_proband.size() == 1 ? " family without one (" : " families without one (");
      for (size_t k = 0; k < iw.no_proband.size() && k < MAX_LISTED; ++k)
        s += (k ? ", " : "") + iw.no_proband[k];
      if (iw.no_proband.size() > MAX_LISTED) s += ", ...";
      s += ")";
    }
  }
  if (!data.skipped.empty()) {
    size_t n = 0;
    for (const auto& sf : data.skipped) n += sf.problems.size();
    s += "; " + std::to_string(data.skipped.size()) +
         (data.skipped.size() == 1 ? " family" : " families") + " left out (" +
         std::to_string(n) + (n == 1 ? " problem" : " problems") + ")";
  }
  for (const auto& sc : data.suspects)
    s += "; warning: " + std::to_string(sc.count) + (sc.count == 1 ? " value of " : " values of ") +
         sc.code + " read as measured (use --missing " + sc.code + " if missing)";
  out += s + "\n";
  return 0;
}

int ped2iway_main(const std::vector<std::string>& args) {
  std::string out, err;
  const int status = run_ped2iway(args, out, err);
  return cli::finish(PED2IWAY, status, out, err);
}

}  // namespace pedseg::tools
