// The parameter vector of the analyses.
#include "params/param_vector.h"

namespace pedseg {

const char* status_name(ParamStatus s) {
  switch (s) {
    case ParamStatus::Free: return "free";
    case ParamStatus::Fixed: return "fixed";
    case ParamStatus::Linked: return "linked";
    case ParamStatus::Constrained: return "constrained";
    case ParamStatus::AtBound: return "at_bound";
  }
  return "";
}

ParamVector slot_params(const ParamTable& par) {
  ParamVector v;
  for (int32_t i = 1; i <= NPAR_USED; ++i) {
    add_param(v, PARAM_NAME[i], par.PAR_VAL[i], par.PAR_STEP[i], par.PAR_LOW[i], par.PAR_HIGH[i],
              par.PAR_EST[i]);
    v.link[i] = par.PAR_LINK[i];
  }
  return v;
}

int32_t add_param(ParamVector& v, const std::string& name, double value, double step, double low,
                  double high, int32_t est) {
  v.name.push_back(name);
  v.value.push_back(value);
  v.step.push_back(step);
  v.low.push_back(low);
  v.high.push_back(high);
  v.est.push_back(est);
  v.link.push_back(v.size());
  v.by_model.push_back(0);
  return v.size();
}

ParamStatus param_status(const ParamVector& v, int32_t i) {
  if (v.link[i] != i) return v.by_model[i] ? ParamStatus::Constrained : ParamStatus::Linked;
  return v.est[i] == 0 ? ParamStatus::Fixed : ParamStatus::Free;
}

void fix_param(ParamVector& v, int32_t i, double value) {
  v.value[i] = value;
  v.est[i] = 0;
  v.link[i] = i;
  v.by_model[i] = 0;
}

void free_param(ParamVector& v, int32_t i) {
  v.est[i] = 1;
  v.link[i] = i;
  v.by_model[i] = 0;
}

void link_param(ParamVector& v, int32_t i, int32_t target) {
  v.by_model[i] = v.by_model[i] || v.link[i] != target;
  v.link[i] = target;
  v.est[i] = 0;
}

void slots_to_table(const ParamVector& v, ParamTable& par) {
  par.NPAR = NPAR_USED;
  for (int32_t i = 1; i <= NPAR_USED; ++i) {
    par.PAR_LINK[i] = v.link[i];
    par.PAR_EST[i] = v.est[i];
    par.PAR_VAL[i] = v.value[i];
    par.PAR_STEP[i] = v.step[i];
    par.PAR_LOW[i] = v.low[i];
    par.PAR_HIGH[i] = v.high[i];
  }
}

void slots_from_table(const ParamTable& par, ParamVector& v) {
  for (int32_t i = 1; i <= NPAR_USED; ++i) {
    v.value[i] = par.PAR_VAL[i];
    v.est[i] = par.PAR_EST[i];
  }
}

}  // namespace pedseg
