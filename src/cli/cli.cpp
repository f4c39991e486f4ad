#include "cli/cli.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <sstream>

namespace pedseg::cli {

namespace {

constexpr size_t WIDTH = 79;        // of every line of a help text
constexpr size_t HELP_COLUMN = 24;  // where the help of an option starts

// The words wrapped into lines of at most WIDTH characters, the first line
// starting with `line`, the others with `rest`.
std::string wrap(const std::vector<std::string>& words, std::string line, const std::string& rest) {
  std::string out;
  bool empty = true;  // no word on `line` yet
  for (const std::string& w : words) {
    if (!empty && line.size() + 1 + w.size() > WIDTH) {
      out += line + '\n';
      line = rest;
      empty = true;
    }
    line += (empty ? "" : " ") + w;
    empty = false;
  }
  return out + line + '\n';
}

std::string wrap(const std::string& text, const std::string& first, const std::string& rest) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return wrap(words, first, rest);
}

// The usage lines, the description, the options and the footer.
class HelpLayout : public CLI::Formatter {
 public:
  std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const override {
    const std::string name = app->get_name();
    const CLI::Option* help = app->get_help_ptr();
    const CLI::Option* version = app->get_version_ptr();
    std::vector<const CLI::Option*> listed = app->get_options(
        [&](const CLI::Option* o) { return o != help && o != version && o->get_positional(); });
    std::vector<std::string> usage;
    for (const CLI::Option* o : listed)
      usage.push_back(o->get_required() ? o->get_name() : "[" + o->get_name() + "]");
    for (const CLI::Option* o : app->get_options()) {
      if (o == help || o == version || !o->nonpositional()) continue;
      listed.push_back(o);
      const std::string shown =
          o->get_snames().empty() ? "--" + o->get_lnames()[0] : "-" + o->get_snames()[0];
      const bool repeatable = o->get_multi_option_policy() == CLI::MultiOptionPolicy::TakeAll;
      usage.push_back("[" + shown + value_name(o) + "]" + (repeatable ? "..." : ""));
    }
    listed.push_back(help);
    listed.push_back(version);
    const std::string head = "usage: " + name;
    std::string text = wrap(usage, head + ' ', std::string(head.size() + 1, ' ')) +
                       "       " + name + " --help | --version\n\n" +
                       wrap(app->get_description(), "", "") + "\n";
    for (const CLI::Option* o : listed) {
      std::string names = o->get_positional() ? o->get_name() : "";
      for (const std::string& s : o->get_snames()) names += (names.empty() ? "-" : ", -") + s;
      for (const std::string& l : o->get_lnames()) names += (names.empty() ? "--" : ", --") + l;
      std::string entry = "  " + names + (o->get_positional() ? "" : value_name(o));
      if (entry.size() + 2 > HELP_COLUMN) {
        text += entry + '\n';
        entry.clear();
      }
      entry.resize(HELP_COLUMN, ' ');
      text += wrap(o->get_description(), entry, std::string(HELP_COLUMN, ' '));
    }
    return text + "\n" + wrap(app->get_footer(), "", "");
  }

 private:
  static std::string value_name(const CLI::Option* o) {
    return o->get_type_name().empty() ? "" : " " + o->get_type_name();
  }
};

}  // namespace

Command::Command(const Program& program)
    : program_(program), app_(program.description, program.name) {
  app_.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app_.formatter(std::make_shared<HelpLayout>());
  app_.footer(program.footer);
  app_.set_help_flag("-h,--help", "this text");
  app_.set_version_flag(
      "--version",
      [this] {
        if (app_.get_help_ptr()->count() > 0) throw CLI::ExcludesError("--version", "--help");
        return std::string(program_.name) + " " + PEDSEG_VERSION + "\n";
      },
      "the version");
}

std::optional<int> Command::parse(const std::vector<std::string>& args, std::string& out,
                                  std::string& err) {
  std::vector<std::string> reversed(args.rbegin(), args.rend());  // as CLI11 takes them
  try {
    app_.parse(reversed);
    return std::nullopt;
  } catch (const CLI::CallForHelp&) {
    out = app_.help();
    return 0;
  } catch (const CLI::CallForVersion& e) {
    out = e.what();
    return 0;
  } catch (const CLI::ExtrasError&) {
    const std::string first = app_.remaining().front();
    const bool option = first.size() > 1 && first[0] == '-';
    err = usage_line((option ? "unknown option " : "unexpected argument ") + first);
  } catch (const CLI::ParseError& e) {
    err = usage_line(e.what());
  }
  return program_.usage_status;
}

std::optional<int> Command::parse(const std::vector<std::string>& args, std::string& out,
                                  std::string& err, const std::function<std::string()>& check) {
  if (std::optional<int> status = parse(args, out, err)) return status;
  const std::string problem = check();
  if (problem.empty()) return std::nullopt;
  err = usage_line(problem);
  return program_.usage_status;
}

std::string Command::usage_line(const std::string& what) const {
  return std::string(program_.name) + ": " + what + "; see " + program_.name + " --help\n";
}

int finish(const Program& program, int status, const std::string& out, const std::string& err,
           FILE* out_fp, FILE* err_fp) {
  std::fputs(err.c_str(), err_fp);
  if (std::fwrite(out.data(), 1, out.size(), out_fp) == out.size() && std::fflush(out_fp) == 0)
    return status;
  std::fprintf(err_fp, "%s: write error: cannot write to standard output\n", program.name);
  return status == 0 ? program.write_status : status;
}

CLI::Option* add_value(CLI::App& app, const std::string& names, const std::string& value_name,
                       const std::string& help, Take take, bool repeatable) {
  CLI::Option* o = app.add_option(names, help)->type_name(value_name)->check(std::move(take));
  if (repeatable) o->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  return o;
}

bool to_long(const std::string& text, long& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtol(text.c_str(), &end, 10);
  return errno == 0 && end == text.c_str() + text.size();
}

bool to_real(const std::string& text, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtod(text.c_str(), &end);
  return errno == 0 && end == text.c_str() + text.size() && std::isfinite(value);
}

Take number_in(int32_t& target, long lo, long hi, const std::string& what) {
  return [&target, lo, hi, what](const std::string& text) -> std::string {
    long v = 0;
    if (!to_long(text, v) || v < lo || v > hi) return "'" + text + "' is not " + what;
    target = static_cast<int32_t>(v);
    return "";
  };
}

Take real_in(double& target, double lo, double hi, const std::string& what) {
  return [&target, lo, hi, what](const std::string& text) -> std::string {
    double v = 0.0;
    if (!to_real(text, v) || v < lo || v > hi) return "'" + text + "' is not " + what;
    target = v;
    return "";
  };
}

Take text_in(std::string& target) {
  return [&target](const std::string& text) -> std::string {
    if (text.empty()) return "an empty value";
    target = text;
    return "";
  };
}

std::string words_or(const std::vector<std::string>& words) {
  std::string out;
  for (size_t i = 0; i < words.size(); ++i)
    out += (i == 0 ? "" : i + 1 == words.size() ? " or " : ", ") + words[i];
  return out;
}

}  // namespace pedseg::cli
