// The ped2iway command: options, reading, checking, writing the files.

#include <filesystem>
#include <iostream>
#include <sstream>

#include "cli/cli.h"
#include "ped2iway.h"
#include "textio/textio.h"
#include "tool_files.h"

namespace pedseg::tools {

namespace {

namespace fs = std::filesystem;

const cli::Program PED2IWAY = {
    "ped2iway",
    "Turns a pedigree file with one person a line (family, individual, father, mother, sex, "
    "trait; separated by blanks, commas or tabs, with or without a header line) into "
    "iway.dat, the trait file and the id map (global number, family id, individual id).  Ids "
    "are strings; a parent id of 0 means unknown; sex 1 male, 2 female, 0 unknown.",
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
}

// The names the files cannot share; "" or the usage error.
std::string check_names(const Settings& s) {
  for (const char* reserved : {"iway.dat", "par.inp"})
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
