// The search as pedseg reports it: progress blocks in max.dat, the current
// ln LH on the console, and the lines of a search that fails in par.err.
#pragma once

#include <cstdint>

#include "params/params.h"
#include "search/search.h"
#include "textio/textio.h"

namespace pedseg {

// Where the reports go.
struct SearchOutputs {
  OutputFile& max_dat;
  OutputFile& console;
  OutputFile& par_err;
};

// DIRECT_SEARCH with the reports: after every iteration that does not end
// the search, its progress block (max.dat) and CUR_LH (console); "MAXIMUM
// NOT FOUND" at the iteration limit and the refusal of too many parameters
// (par.err).
SearchResults search_with_reports(int32_t N, const SearchSettings& settings,
                                  const Objective& objective, ParamTable& par,
                                  SearchOutputs& out);

// The 14-line progress block of one iteration: the counters, the ln LH shown
// and the values and steps of all 20 slots of the table.
void write_progress_block(OutputFile& max_dat, int32_t ITER_COUNT, int32_t EVAL_COUNT,
                          double shown_lh, const ParamTable& par);

}  // namespace pedseg
