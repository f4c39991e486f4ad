// The command line of every program, on CLI11: one help layout generated from
// the declared options, -h/--help and --version, --opt=value and --opt value,
// one-line usage errors naming --help, and help and version text written with
// a check.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

namespace pedseg::cli {

// What a program says about itself and how its command line ends.
struct Program {
  const char* name;
  const char* description;  // one paragraph after the usage lines
  const char* footer;       // one paragraph after the options: the exit statuses
  int usage_status;         // a usage error
  int write_status;         // the standard output cannot be written
};

class Command {
 public:
  explicit Command(const Program& program);
  CLI::App& app() { return app_; }

  // Parses the arguments (without the program name).  nullopt: the program
  // goes on.  Otherwise the status it ends with: 0 with the help or the
  // version in `out`, or the usage status with one line in `err`.
  std::optional<int> parse(const std::vector<std::string>& args, std::string& out,
                           std::string& err);
  // The same, then `check` (the options' consistency: "" or the problem,
  // which becomes the usage line) when the program would go on.
  std::optional<int> parse(const std::vector<std::string>& args, std::string& out,
                           std::string& err, const std::function<std::string()>& check);

  // "<program>: <what>; see <program> --help\n"
  std::string usage_line(const std::string& what) const;

 private:
  Program program_;
  CLI::App app_;
};

// Writes `err` to `err_fp` and then `out` to `out_fp`, and returns `status`;
// when `out` cannot be written, says so on `err_fp` and returns
// program.write_status (unless `status` already tells a failure).
int finish(const Program& program, int status, const std::string& out, const std::string& err,
           FILE* out_fp = stdout, FILE* err_fp = stderr);

// Takes the text of one value: stores it and returns "", or returns what is
// wrong with it (the usage error is "<option>: <what>").
using Take = std::function<std::string(const std::string& value)>;

// An option with one value, handed to `take` each time it is given.
// `repeatable`: shown with "..." in the usage lines.
CLI::Option* add_value(CLI::App& app, const std::string& names, const std::string& value_name,
                       const std::string& help, Take take, bool repeatable = false);

// Whole decimal numbers and finite reals, the whole text read.
bool to_long(const std::string& text, long& value);
bool to_real(const std::string& text, double& value);

// Takes a whole number from lo to hi, or a real from lo to hi; otherwise
// "'<value>' is not <what>".
Take number_in(int32_t& target, long lo, long hi, const std::string& what);
Take real_in(double& target, double lo, double hi, const std::string& what);
// Takes any text but the empty one.
Take text_in(std::string& target);

// "a, b or c".
std::string words_or(const std::vector<std::string>& words);

// Takes one of the words of `choices`, storing its value; otherwise
// "'<value>' is not <the words, joined by words_or>".
template <class Target, class T>
Take one_of(Target& target, std::vector<std::pair<std::string, T>> choices) {
  return [&target, choices](const std::string& text) -> std::string {
    std::vector<std::string> words;
    for (const auto& [word, value] : choices) {
      if (word == text) {
        target = value;
        return "";
      }
      words.push_back(word);
    }
    return "'" + text + "' is not " + words_or(words);
  };
}

}  // namespace pedseg::cli
