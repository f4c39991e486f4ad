// The parameters of an analysis: the model's slots, then any number of
// further named parameters, every entry with the same attributes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "params/params.h"

namespace pedseg {

// An entry's part in a fit: searched (free), held at its value (fixed),
// taking the value of another entry as par.inp links it (linked) or as the
// model's definition links it (constrained).  AtBound is a free entry whose
// estimate lies next to a bound; only an analysis at an estimate says so.
enum class ParamStatus { Free, Fixed, Linked, Constrained, AtBound };
const char* status_name(ParamStatus status);

// Entries 1..size() in parallel arrays (element 0 unused): entry i of the
// slots is slot i, a link is an entry number, and a search moves the arrays
// in place (search_view).  Entries 1..NPAR_USED are the slots.
struct ParamVector {
  std::vector<std::string> name{""};
  std::vector<double> value{0.0}, step{0.0}, low{0.0}, high{0.0};
  // As PAR_EST: 0 holds the entry; any other value searches it, and a search
  // counts the free entries as the sum of the flags.
  std::vector<int32_t> est{0};
  // The entry whose value this one takes; its own number when not linked.
  std::vector<int32_t> link{0};
  // The link is the model's definition rather than par.inp's.
  std::vector<uint8_t> by_model{0};

  int32_t size() const { return static_cast<int32_t>(value.size()) - 1; }
};

// The slots of `par` as entries 1..NPAR_USED named by PARAM_NAME, links as
// par.inp gives them.
ParamVector slot_params(const ParamTable& par);

// Appends an entry of its own (not linked); returns its number.
int32_t add_param(ParamVector& v, const std::string& name, double value, double step, double low,
                  double high, int32_t est);

// Free, Fixed, Linked or Constrained.
ParamStatus param_status(const ParamVector& v, int32_t i);
inline bool is_free(const ParamVector& v, int32_t i) { return v.est[i] != 0 && v.link[i] == i; }

// What a model's definition does to an entry: holds it at `value`, frees it
// (both unlink it), or links it to `target` (constrained unless par.inp
// already links it there).
void fix_param(ParamVector& v, int32_t i, double value);
void free_param(ParamVector& v, int32_t i);
void link_param(ParamVector& v, int32_t i, int32_t target);

// The slots of `v` into `par` (NPAR = NPAR_USED), and back what the mapping
// changes in them (values and flags).
void slots_to_table(const ParamVector& v, ParamTable& par);
void slots_from_table(const ParamTable& par, ParamVector& v);

}  // namespace pedseg
