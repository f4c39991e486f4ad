// The ped2iway command: options, reading, checking, writing the files.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "ped2iway.h"
#include "tool_files.h"

namespace pedseg::tools {

namespace {

namespace fs = std::filesystem;

const char* const USAGE =
    "usage: ped2iway PEDFILE [-o DIR] [--trait-file NAME] [--map-file NAME]\n"
    "                [--missing CODE] [--header] [--par-template] [--fix-parents]\n"
    "                [--skip-bad-families]\n"
    "\n"
    "Turns a pedigree file with one person a line (family, individual, father,\n"
    "mother, sex, trait) into the program's input files.  Ids are strings; a\n"
    "parent id of 0 means unknown; sex 1 male, 2 female, 0 unknown; lines\n"
    "starting with # are comments.  PEDFILE - reads the standard input.\n"
    "\n"
    "Fields are separated by blanks, by commas or by tabs, as the first line\n"
    "that is not a comment shows.  In a comma- or tab-separated file, fields may\n"
    "be quoted (\"...\"), and an empty parent, sex or trait is unknown.  The first\n"
    "line is a header, and skipped, when its sex and parent fields hold nothing\n"
    "the layout allows (family,id,father,mother,sex,trait for instance), or\n"
    "always with --header; a header whose first of seven fields is empty (R's\n"
    "write.csv) marks a first column of row names, which is dropped.\n"
    "\n"
    "  -o DIR             write into DIR (created if needed; default .)\n"
    "  --trait-file NAME  name of the trait file (default trait.dat, at most 16\n"
    "                     characters, no blanks, commas, slashes or quotes)\n"
    "  --map-file NAME    name of the id map (default idmap.dat)\n"
    "  --missing CODE     missing-trait code (default -999; NA and . are always\n"
    "                     missing; -9 for PLINK-style files)\n"
    "  --header           the first line is a header, whatever it holds\n"
    "  --par-template     also write a commented par.inp with starting values\n"
    "                     (par.inp.new if par.inp exists already)\n"
    "  --fix-parents      add a parent who has no line as an unmeasured founder\n"
    "                     and a missing second parent as an unmeasured dummy\n"
    "  --skip-bad-families  leave out each family with a problem (one message\n"
    "                     each) and write the others; without it any problem\n"
    "                     stops the conversion\n"
    "  -h, --help         this text\n"
    "\n"
    "Without --missing, measured values that other programs use as missing\n"
    "codes are written as measured, with a warning naming the option to use:\n"
    "-9 and -99 always; 0 when at least 10 other measured values (spike aside)\n"
    "all share one sign and their mean lies at least 3 of their standard\n"
    "deviations away from 0.  Values of -998 or below are always missing.\n"
    "\n"
    "Writes iway.dat, the trait file and the id map (global number, family id,\n"
    "individual id).  Exit status: 0 ok, 1 usage error, 2 input problems (all\n"
    "reported, nothing written; with --skip-bad-families, when no family is\n"
    "left) or an output file that cannot be written.\n";

bool plain_name(const std::string& s) {
  if (s.empty() || s == "." || s == "..") return false;
  for (char c : s)
    if (c == ' ' || c == '\t' || c == ',' || c == '/' || c == '\'' || c == '"' || c == '\\' ||
        static_cast<unsigned char>(c) < 32)
      return false;
  return true;
}

bool read_all(const std::string& name, std::string& text, std::string& why) {
  if (name == "-") {
    std::ostringstream ss;
    ss << std::cin.rdbuf();
    text = ss.str();
    return true;
  }
  std::FILE* fp = std::fopen(name.c_str(), "rb");
  if (!fp) {
    why = std::strerror(errno);
    return false;
  }
  char buf[65536];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, fp)) > 0) text.append(buf, got);
  bool bad = std::ferror(fp) != 0;
  std::fclose(fp);
  if (bad) why = "read error";
  return !bad;
}


}  // namespace

int run_ped2iway(const std::vector<std::string>& args, std::string& out, std::string& err) {
  std::string pedfile, dir = ".", trait_name = "trait.dat", map_name = "idmap.dat";
  PedOptions opt;
  bool want_par = false, have_pedfile = false;

  auto usage_error = [&](const std::string& msg) {
    err += "ped2iway: " + msg + "\n" + "try 'ped2iway --help'\n";
    return 1;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    std::string a = args[i];
    std::string value;
    bool inline_value = false;
    if (a.rfind("--", 0) == 0) {
      size_t eq = a.find('=');
      if (eq != std::string::npos) {
        value = a.substr(eq + 1);
        a = a.substr(0, eq);
        inline_value = true;
      }
    }
    auto take = [&](std::string& target) {
      if (inline_value) {
        target = value;
        return true;
      }
      if (i + 1 >= args.size()) return false;
      target = args[++i];
      return true;
    };
    if (a == "-h" || a == "--help") {
      out += USAGE;
      return 0;
    } else if (a == "-o" || a == "--out-dir") {
      if (!take(dir) || dir.empty()) return usage_error(a + " needs a folder");
    } else if (a == "--trait-file") {
      if (!take(trait_name)) return usage_error("--trait-file needs a name");
    } else if (a == "--map-file") {
      if (!take(map_name)) return usage_error("--map-file needs a name");
    } else if (a == "--missing") {
      if (!take(opt.missing_code) || opt.missing_code.empty())
        return usage_error("--missing needs a code");
      opt.missing_code_given = true;
    } else if (a == "--header" && !inline_value) {
      opt.header = true;
    } else if (a == "--skip-bad-families" && !inline_value) {
      opt.skip_bad_families = true;
    } else if (a == "--par-template" && !inline_value) {
      want_par = true;
    } else if (a == "--fix-parents" && !inline_value) {
      opt.fix_parents = true;
    } else if (a.size() > 1 && a[0] == '-') {
      return usage_error("unknown option " + args[i]);
    } else {
      if (have_pedfile) return usage_error("more than one pedigree file: " + pedfile + ", " + a);
      pedfile = a;
      have_pedfile = true;
    }
  }
  if (!have_pedfile) return usage_error("no pedigree file given");
  if (!plain_name(trait_name) || trait_name.size() > 16)
    return usage_error("--trait-file " + trait_name +
                       ": the program takes a name of at most 16 characters without blanks, "
                       "commas, slashes or quotes");
  if (!plain_name(map_name)) return usage_error("--map-file " + map_name + ": not a plain file name");
  for (const std::string& reserved : {std::string("iway.dat"), std::string("par.inp")}) {
    if (trait_name == reserved || map_name == reserved)
      return usage_error(reserved + " cannot be the trait file or the id map");
  }
  if (trait_name == map_name) return usage_error("the trait file and the id map need different names");

  std::string text, why;
  const std::string shown = pedfile == "-" ? std::string("standard input") : pedfile;
  if (!read_all(pedfile, text, why)) {
    err += "ped2iway: cannot read " + shown + ": " + why + "\n";
    return 2;
  }

  std::vector<Problem> problems;
  PedData data = parse_pedfile(text, opt, problems);
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
  fs::path base(dir);
  fs::create_directories(base, ec);
  if (ec || !fs::is_directory(base)) {
    err += "ped2iway: cannot create folder " + dir + (ec ? ": " + ec.message() : "") + "\n";
    return 2;
  }
  struct Out {
    std::string name;
    std::string text;
  };
  std::vector<Out> files{{"iway.dat", iway_text(iw)}, {trait_name, trait_text(iw)},
                         {map_name, idmap_text(iw)}};
  if (want_par) {
    // A hand-edited par.inp is never replaced.
    std::string name = fs::exists(base / "par.inp") ? "par.inp.new" : "par.inp";
    files.push_back({name, par_template_text(iw, trait_name)});
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
    return dir == "." ? name : (base / name).string();
  };
  const int nfam = static_cast<int>(data.families.size());
  const int nind = static_cast<int>(iw.ids.size()) - 1;
  std::string s = "ped2iway: wrote " + path("iway.dat") + " (" + std::to_string(nfam) +
                  (nfam == 1 ? " family, " : " families, ") + std::to_string(nind) +
                  " individuals, " + std::to_string(iw.nuclear) +
                  (iw.nuclear == 1 ? " nuclear family), " : " nuclear families), ") +
                  path(trait_name) + " (" + std::to_string(iw.measured) + " measured (of which " +
                  std::to_string(iw.spike) + " in the spike), " + std::to_string(iw.missing) +
                  " missing), " + path(map_name);
  if (want_par) s += ", " + path(files.back().name);
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

}  // namespace pedseg::tools
