// ped2iway: turns a pedigree file in the one-line-per-person layout
// (family, individual, father, mother, sex, trait; separated by blanks,
// commas or tabs, with or without a header line) into the program's input:
// iway.dat (nuclear families, pivots, peeling order), the trait file and an
// id map.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pedseg::tools {

struct PedOptions {
  std::string missing_code = "-999";  // besides NA and ., which are always missing
  bool missing_code_given = false;    // chosen by the user: no warning about other codes
  bool fix_parents = false;           // add missing parents instead of refusing
  bool header = false;                // the first record line is a header, whatever it holds
  bool skip_bad_families = false;     // leave out families with problems instead of refusing
};

struct PedPerson {
  std::string id;
  std::string father_id = "0";  // "0": unknown
  std::string mother_id = "0";
  int sex = 0;                  // 1 male, 2 female, 0 unknown
  bool measured = false;
  bool low = false;             // a value of -998 or below, written as missing
  float value = 0.0f;           // the trait as strtof reads the user's text
  std::string value_text;       // what the trait file gets for a measured value
  int line = 0;                 // input line; for added people the line that needed them
  bool added = false;           // added by --fix-parents
  int father = -1;              // index in the family, -1 unknown
  int mother = -1;
};

struct PedFamily {
  std::string id;
  int line = 0;  // first line of the family
  std::vector<PedPerson> people;
};

// One problem of the input file.  `line` is 0 for problems of the file as a
// whole.
struct Problem {
  int line = 0;
  std::string family;
  std::string individual;
  std::string message;
};

// "line 12: family F1, individual 7: <message>"
std::string format_problem(const Problem& p);

// A family left out by skip_bad_families, with what is wrong with it.
struct SkippedFamily {
  std::string id;
  std::vector<Problem> problems;  // in line order
};

// Measured values equal to a missing-value code of other programs, counted
// while the missing code is the default.
struct SuspectCode {
  std::string code;  // as given to --missing
  int count = 0;
  std::string why;   // what makes the value suspect
};

struct PedData {
  std::vector<PedFamily> families;  // in order of first appearance
  std::vector<std::string> notes;   // what --fix-parents added
  int low_values = 0;               // values of -998 or below written as missing
  char separator = ' ';             // ' ' blanks, ',' or '\t'
  int header_line = 0;              // the line read as a header, 0 none
  bool row_names = false;           // a first column of row names was dropped
  std::vector<SkippedFamily> skipped;
  std::vector<SuspectCode> suspects;
};

// Measured values of -9 (PLINK's code) and -99 are always suspect; zeros are
// when at least ZERO_RULE_MIN other measured values (spike and the other
// codes aside) all share one sign and their mean lies at least ZERO_RULE_SDS
// of their standard deviations away from 0.
constexpr int ZERO_RULE_MIN = 10;
constexpr double ZERO_RULE_SDS = 3.0;

// Parses the file and makes every check: fields, ids, sex codes, trait
// values, parents (in the family, both or none known, not the same person,
// sexes fitting the roles), ancestry cycles, pedigree loops and the program's
// size limits.  Every problem found goes to `problems`; the data are fit for
// build_iway only when `problems` stays empty.  With skip_bad_families, the
// problems of a family leave it out (in `skipped`) instead; problems of the
// file as a whole, the size limits of what is kept, and a file whose every
// family is left out still go to `problems`.
PedData parse_pedfile(std::string_view text, const PedOptions& options,
                      std::vector<Problem>& problems);

// The program's input tables, 1-based where the program's are (element 0 of
// NUC_PIVOT, IND_CODE and TRAIT is unused).
struct IwayOutput {
  std::vector<int32_t> PED_START;    // 0..NFAM+1; PED_START(0) = NFAM
  std::vector<int32_t> PED_NUC;      // 0..NFAM+1
  std::vector<int32_t> NUC_START;    // 0..NSTART-1; entry 0 unused (0)
  std::vector<int32_t> NUC_MEMBERS;  // positions 0..NMEMBER-1
  std::vector<int32_t> NUC_PIVOT;    // 1..NSTART-2
  std::vector<int32_t> IND_CODE;     // 1..NIND: the sex code
  std::vector<float> TRAIT;          // 1..NIND; -999 for missing
  std::vector<std::string> trait_text;  // 1..NIND, as written

  struct Ident {
    std::string family;
    std::string individual;
    int local = 0;
    bool added = false;
  };
  std::vector<Ident> ids;  // 1..NIND

  // For the summary.
  int nuclear = 0;
  int measured = 0;
  int spike = 0;
  int missing = 0;
  int loose = 0;
  int split_families = 0;     // families in more than one connected part
  int unmeasured_families = 0;  // no measured member: the program skips them
};

// Builds the tables from checked data: individuals of each family numbered
// with parents before children and loose individuals last; nuclear families
// of each connected part in post-order toward the part's closing nuclear
// family (pivot 0), each with the pivot through which it joins its parent in
// the tree, a child pivot moved to position 3.
IwayOutput build_iway(const PedData& data);

std::string iway_text(const IwayOutput& out);
std::string trait_text(const IwayOutput& out);
std::string idmap_text(const IwayOutput& out);

// A commented par.inp with starting values from the trait's sample moments.
std::string par_template_text(const IwayOutput& out, const std::string& trait_file);

// The command (ped2iway --help lists the options).  Returns the exit status
// (0 ok, 1 usage error, 2 input problems or unwritable output); `out` gets
// the summary line (or the help), `err` the diagnostics.
int run_ped2iway(const std::vector<std::string>& args, std::string& out, std::string& err);
// run_ped2iway on the standard streams.
int ped2iway_main(const std::vector<std::string>& args);

}  // namespace pedseg::tools
