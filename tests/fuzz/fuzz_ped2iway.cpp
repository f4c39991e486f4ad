// ped2iway's parser and builder on arbitrary bytes.  Byte 0 chooses the
// options; the rest is the pedigree file.  Whatever the tool accepts and
// builds must read back through the program's own readers and pass the
// validator without an error or a warning: the tool promises files that the
// program computes as the pedigree says.  Loops are broken (unless byte 0
// asks to refuse them): each copy stands for its person, without a trait; the
// covariates and probands asked for read back through the loader's readers.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "sample/sample.h"
#include "tools/ped2iway.h"

using namespace pedseg;
using pedseg::fuzz::check;

namespace {

PedigreeTables& tables() {
  static PedigreeTables* ped = new PedigreeTables;
  return *ped;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& l : lines) all += l + "\n";
  return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  tools::PedOptions options;
  options.fix_parents = (data[0] & 1) != 0;
  if (data[0] & 2) options.missing_code = "0";
  options.header = (data[0] & 4) != 0;
  options.skip_bad_families = (data[0] & 8) != 0;
  options.no_loops = (data[0] & 16) != 0;
  if (data[0] & 32) {
    options.covariates.emplace_back("sex");
    options.covariates.emplace_back("7");
    options.proband = std::string("8");
  }
  std::vector<tools::Problem> problems;
  const std::string text = fuzz::as_text(data + 1, size - 1);
  tools::PedData parsed = tools::parse_pedfile(text, options, problems);
  for (const tools::Problem& p : problems) {
    check(!tools::format_problem(p).empty(), "a problem without a message");
  }
  if (!problems.empty()) return 0;

  const tools::IwayOutput out = tools::build_iway(parsed);
  const std::string iway = tools::iway_text(out);
  const std::string traits = tools::trait_text(out);
  (void)tools::idmap_text(out);
  const int32_t nind = static_cast<int32_t>(out.ids.size()) - 1;
  for (const auto& l : out.loops) {
    check(l.person >= 1 && l.copy >= 1 && l.person <= nind && l.copy <= nind && l.person != l.copy,
          "a loop line outside the individuals");
    check(out.ids[l.person].family == out.ids[l.copy].family &&
              out.ids[l.person].individual == out.ids[l.copy].individual && out.ids[l.copy].copy,
          "a copy that does not name its person");
    check(out.trait_text[l.copy] == "-999", "a copy with a trait");
  }
  try {
    if (!out.covariate_names.empty()) {
      InputFile cov = input_from_string("covariates.dat", tools::covariates_text(out));
      check(read_covariates(cov, nind).count() == 2, "covariates.dat lost a covariate");
    }
    if (out.has_proband) {
      InputFile prob = input_from_string("proband.dat", tools::proband_text(out));
      (void)read_probands(prob, nind);
    }
  } catch (const InputError& e) {
    fuzz::fail("the loader cannot read what ped2iway wrote", e.message);
  }

  PedigreeTables& ped = tables();
  fuzz::reset_pedigree(ped);
  try {
    InputFile iway_file = input_from_string("iway.dat", iway);
    read_structure(iway_file, ped);
    InputFile trait_file = input_from_string("trait.dat", traits);
    read_traits(trait_file, ped);
  } catch (const InputError& e) {
    fuzz::fail("the program cannot read what ped2iway wrote", e.message + "\n" + iway);
  } catch (const SizeStop& e) {
    fuzz::fail("ped2iway wrote a file beyond a size limit", e.message);
  }
  derive_weights(ped);
  std::vector<std::string> errors, warnings;
  validate_pedigree(ped, errors, warnings);
  check(errors.empty(), "the validator rejects what ped2iway wrote", joined(errors) + iway);
  check(warnings.empty(), "the validator warns about what ped2iway wrote", joined(warnings) + iway);
  return 0;
}
