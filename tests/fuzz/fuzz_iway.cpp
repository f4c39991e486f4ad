// iway.dat on arbitrary bytes: the structure reader, the weights and the
// validator; a file the validator accepts is then evaluated with a fixed
// model, so that any table access the validator lets through is caught.
//
// The trait values come from the individual codes of record 6 (code 0: a
// measured value; otherwise the code itself, so that -999 is missing and
// 1000 a spike), which lets the fuzzer reach every kind of family.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"

using namespace pedseg;
using pedseg::fuzz::check;

namespace {

struct State {
  std::unique_ptr<PedigreeTables> ped = std::make_unique<PedigreeTables>();
  std::unique_ptr<LikWork> work = std::make_unique<LikWork>();
  ParamTable par;
  PolyTables poly;
  ModelQuantities model;
};

State& state() {
  static State* s = new State;
  return *s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  State& s = state();
  PedigreeTables& ped = *s.ped;
  fuzz::reset_pedigree(ped);

  InputFile file = input_from_string("iway.dat", fuzz::as_text(data, size));
  try {
    read_structure(file, ped);
  } catch (const InputError& e) {
    check(e.message.rfind("iway.dat", 0) == 0, "diagnostic does not start with the file name",
          e.message);
    return 0;
  } catch (const SizeStop& e) {
    check(e.message.find("exceed. Correct and recompile") != std::string::npos,
          "size stop without its message", e.message);
    return 0;
  }
  check(ped.NFAM_READ <= N_FAM && ped.NSTART <= N_WAY && ped.NMEMBER <= N_WAY &&
            ped.NIND <= N_SIZE,
        "a count beyond its limit was accepted");

  for (int32_t i = 1; i <= ped.NIND; ++i) {
    const int32_t code = ped.IND_CODE[i];
    ped.TRAIT[i] = code == 0 ? 8.0f + 0.5f * static_cast<float>(i % 7) : static_cast<float>(code);
  }
  derive_weights(ped);

  std::vector<std::string> errors, warnings;
  const bool ok = validate_pedigree(ped, errors, warnings);
  check(ok == errors.empty(), "validator result disagrees with its error list");
  for (const std::string& e : errors) {
    check(e.rfind("iway.dat", 0) == 0, "validator error does not name iway.dat", e);
  }
  if (!ok) return 0;

  // Skip files whose evaluation would only be slow (thousands of children
  // listed again and again).
  if (fuzz::evaluation_cost(ped) > 2.0e7) return 0;

  static const bool ready = [] {
    fuzz::fixed_model(state().par, state().poly);
    return true;
  }();
  (void)ready;
  ParamTable par = s.par;
  std::string messages;
  OutputFile par_err = output_memory(messages, "par.err");
  LikelihoodEngine engine(ped, s.poly, 1);
  LikelihoodContext ctx{par, s.model, s.poly, ped, *s.work, par_err, 1, &engine};
  double ll = 0.0;
  SAMPLE_LOGLIK(ctx, ll);
  check(ll == ll, "the sample ln LH is not a number");
  return 0;
}
