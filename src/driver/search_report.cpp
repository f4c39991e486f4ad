// The search's reports in pedseg's files.
#include "driver/search_report.h"

namespace pedseg {

namespace {

constexpr const char* FMT_PROGRESS_COUNTS =
    "(1X,'number of iterations =',I4,                         \t/' number of functions =',I6,                                      /1X, 'ln LH =',E20.8)";
constexpr const char* FMT_PROGRESS_TITLES =
    "(8X,'parameter',7X,'step',15X,'parameter',7X,'step')";
constexpr const char* FMT_PROGRESS_SLOTS = "(1X,I2,1X,2E15.6,3X,I2,1X,2E15.6)";
constexpr const char* FMT_NOT_FOUND = "(1X,'MAXIMUM NOT FOUND')";
constexpr const char* FMT_TOO_MANY = "(' Number of estimated param.>30')";
// The table has 20 slots: a larger N would reach outside it.
constexpr const char* FMT_OUTSIDE_TABLE = "(' Number of estimated param.>20')";

}  // namespace

void write_progress_block(OutputFile& max_dat, int32_t ITER_COUNT, int32_t EVAL_COUNT,
                          double shown_lh, const ParamTable& par) {
  write_formatted(max_dat, FMT_PROGRESS_COUNTS,
                  {fmt_int(ITER_COUNT), fmt_int(EVAL_COUNT), fmt_real(shown_lh)});
  write_formatted(max_dat, FMT_PROGRESS_TITLES, {});
  for (int j = 1; j <= 10; ++j) {
    write_formatted(max_dat, FMT_PROGRESS_SLOTS,
                    {fmt_int(j), fmt_real(par.PAR_VAL[j]), fmt_real(par.PAR_STEP[j]),
                     fmt_int(j + 10), fmt_real(par.PAR_VAL[j + 10]),
                     fmt_real(par.PAR_STEP[j + 10])});
  }
}

SearchResults search_with_reports(int32_t N, const SearchSettings& settings,
                                  const Objective& objective, ParamTable& par,
                                  SearchOutputs& out) {
  const ProgressCallback report = [&out](const SearchProgress& p) {
    write_progress_block(out.max_dat, p.ITER_COUNT, p.EVAL_COUNT, p.shown_lh, p.par);
    write_free(out.console, {fmt_real(p.CUR_LH)});
  };
  const SearchResults results = DIRECT_SEARCH(N, settings, objective, par, report);
  switch (results.outcome) {
    case SearchOutcome::IterationLimit:
      write_formatted(out.par_err, FMT_NOT_FOUND, {});
      break;
    case SearchOutcome::TooManyParameters:
      write_formatted(out.par_err, N > SEARCH_BASE_CAPACITY ? FMT_TOO_MANY : FMT_OUTSIDE_TABLE,
                      {});
      break;
    default:
      break;
  }
  return results;
}

}  // namespace pedseg
