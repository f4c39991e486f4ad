// A program's exit status and what it wrote on its two streams.
#pragma once

#include <cstdio>
#include <string>
#include <utility>

namespace testsupport {

struct ProgramRun {
  int status = 0;
  std::string out, err;
};

// Calls main(out, err) with two temporary files and reads them back.
template <class Main>
ProgramRun run_captured(Main&& main) {
  FILE* out = std::tmpfile();
  FILE* err = std::tmpfile();
  ProgramRun r;
  r.status = main(out, err);
  for (auto [f, text] : {std::pair{out, &r.out}, std::pair{err, &r.err}}) {
    std::rewind(f);
    for (int c; (c = std::fgetc(f)) != EOF;) text->push_back(static_cast<char>(c));
    std::fclose(f);
  }
  return r;
}

}  // namespace testsupport
