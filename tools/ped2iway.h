// ped2iway: turns a pedigree file in the one-line-per-person layout
// (family, individual, father, mother, sex, then the trait and any other
// columns; separated by blanks, commas or tabs, with or without a header
// line) into the program's input: iway.dat (nuclear families, pivots,
// peeling order), the trait file and an id map; on request covariates.dat and
// proband.dat, and loops.dat for pedigrees whose loops it breaks.
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
  bool no_loops = false;              // refuse pedigree loops instead of breaking them
  // Columns by header name, or by number (1-based, after any row names):
  std::string trait;                    // empty: the sixth column
  std::vector<std::string> covariates;  // "sex": the sex column, coded 1, 0, NA
  std::string proband;                  // empty: none
};

// The columns 1-5 every file has; the trait is the sixth unless chosen.
constexpr int FIXED_COLUMNS = 5;
constexpr int DEFAULT_TRAIT_COLUMN = 6;
// The covariate that names the pedigree's own sex column.
inline constexpr const char* SEX_COVARIATE = "sex";

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
  std::vector<std::string> covariate_text;  // per covariate, as covariates.dat gets it
  bool proband = false;
  int copy_of = -1;             // a loop breaker's copy: the index of its person
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
  int columns = 0;                          // columns of a record line (row names aside)
  int trait_column = DEFAULT_TRAIT_COLUMN;  // 1-based
  std::vector<std::string> covariate_names;
  std::vector<int> covariate_columns;       // 1-based, as the names
  int proband_column = 0;                   // 0: none
  std::vector<std::string> header;          // the header's cells, row names aside
};

// Measured values of -9 (PLINK's code) and -99 are always suspect; zeros are
// when at least ZERO_RULE_MIN other measured values (spike and the other
// codes aside) all share one sign and their mean lies at least ZERO_RULE_SDS
// of their standard deviations away from 0.
constexpr int ZERO_RULE_MIN = 10;
constexpr double ZERO_RULE_SDS = 3.0;

// Parses the file and makes every check: fields, ids, sex codes, trait,
// covariate and proband values, parents (in the family, both or none known,
// not the same person, sexes fitting the roles), ancestry cycles and the
// program's size limits.  Pedigree loops are broken (break_loops), or with
// no_loops reported as problems.  Every problem found goes to `problems`; the data are fit for
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
    std::string individual;  // a copy has its person's id
    int local = 0;
    bool added = false;
    bool copy = false;
  };
  std::vector<Ident> ids;  // 1..NIND

  // The copies of loop breakers: family number, global numbers of the person
  // and of the copy, in family order.
  struct LoopLine {
    int32_t family = 0, person = 0, copy = 0;
  };
  std::vector<LoopLine> loops;

  std::vector<std::string> covariate_names;
  std::vector<std::vector<std::string>> covariate_text;  // 1..NIND
  bool has_proband = false;
  std::vector<char> proband;            // 1..NIND
  std::vector<std::string> no_proband;  // ids of the families without a proband

  // For the summary.
  int nuclear = 0;
  int measured = 0;
  int spike = 0;
  int missing = 0;  // copies aside
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
// covariates.dat: a line of names, then one line of values per individual.
std::string covariates_text(const IwayOutput& out);
// proband.dat: 1 or 0 per individual.
std::string proband_text(const IwayOutput& out);
// loops.dat: a comment line, then "FAMILY PERSON COPY" per copy.
std::string loops_text(const IwayOutput& out);

// A commented par.inp with starting values from the trait's sample moments.
std::string par_template_text(const IwayOutput& out, const std::string& trait_file);

// The command (ped2iway --help lists the options).  Returns the exit status
// (0 ok, 1 usage error, 2 input problems or unwritable output); `out` gets
// the summary line (or the help), `err` the diagnostics.
int run_ped2iway(const std::vector<std::string>& args, std::string& out, std::string& err);
// run_ped2iway on the standard streams.
int ped2iway_main(const std::vector<std::string>& args);

}  // namespace pedseg::tools
