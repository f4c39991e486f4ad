// The models of the table: their names, their parameters from the user's,
// their transmission rules and how they nest.
#include <algorithm>
#include <cmath>

#include "models/models.h"

namespace pedseg {

namespace {

constexpr const char* MODEL_NAMES[MODEL_COUNT] = {"sporadic", "polygenic",     "major",
                                                  "mixed",    "environmental", "general"};
// The step of a parameter a model frees while par.inp gives it none, as a
// share of its range.
constexpr double FREED_STEP_SHARE = 0.05;

bool no_gene(ModelKind k) { return k == ModelKind::Sporadic || k == ModelKind::Polygenic; }

// The user's values as a group: entry `head` keeps them, `members` take its
// value.  A head linked into its own group would make a cycle: it becomes
// its own parameter, free when any entry of the group was.
void make_group(ParamVector& t, int32_t head, std::initializer_list<int32_t> members) {
  bool any_free = t.est[head] != 0;
  bool head_in_group = false;
  for (int32_t m : members) {
    any_free = any_free || t.est[m] != 0;
    head_in_group = head_in_group || t.link[head] == m;
  }
  if (head_in_group) {
    t.link[head] = head;
    t.est[head] = any_free ? 1 : 0;
  }
  for (int32_t m : members) link_param(t, m, head);
}

void free_with_step(ParamVector& t, int32_t i) {
  free_param(t, i);
  if (t.step[i] == 0.0) t.step[i] = FREED_STEP_SHARE * (t.high[i] - t.low[i]);
}

// The polygenic effect's sign is not identified (classes k and 8 - k swap):
// its magnitude is estimated, within the magnitudes par.inp's bounds allow.
void magnitude_only(ParamVector& t, int32_t i) {
  const double lo = t.low[i], hi = t.high[i];
  t.low[i] = lo <= 0.0 && hi >= 0.0 ? 0.0 : std::min(std::fabs(lo), std::fabs(hi));
  t.high[i] = std::max(std::fabs(lo), std::fabs(hi));
  t.value[i] = std::fabs(t.value[i]);
}

// The partner of each slot under the relabelling of the genotypes, and
// whether its value becomes 1 minus the partner's (q and the taus) rather
// than the partner's.
int32_t mirror_slot(int32_t i) {
  switch (i) {
    case SLOT_SPIKE1: return SLOT_SPIKE3;
    case SLOT_SPIKE3: return SLOT_SPIKE1;
    case SLOT_MEAN1: return SLOT_MEAN3;
    case SLOT_MEAN3: return SLOT_MEAN1;
    case SLOT_TAU1: return SLOT_TAU3;
    case SLOT_TAU3: return SLOT_TAU1;
    default: return i;
  }
}
bool mirror_complements(int32_t i) {
  return i == SLOT_Q || i == SLOT_TAU1 || i == SLOT_TAU2 || i == SLOT_TAU3;
}

}  // namespace

const char* model_name(ModelKind kind) { return MODEL_NAMES[static_cast<int>(kind)]; }

std::optional<ModelKind> model_from_name(const std::string& name) {
  for (ModelKind k : ALL_MODELS)
    if (name == model_name(k)) return k;
  return std::nullopt;
}

ParamVector model_params(ModelKind kind, const ParamVector& user) {
  ParamVector t = user;
  if (no_gene(kind)) {
    t.est[SLOT_Q] = 0;  // q has no effect without a gene: held at its start
    make_group(t, SLOT_SPIKE1, {SLOT_SPIKE2, SLOT_SPIKE3});
    make_group(t, SLOT_MEAN1, {SLOT_MEAN2, SLOT_MEAN3});
  }
  // The polygenic effect defines the models that have one: freed there even
  // when par.inp holds it, so that the models without it are nested.
  if (kind == ModelKind::Sporadic || kind == ModelKind::Major) {
    fix_param(t, SLOT_POLY_EFFECT, 0.0);
  } else {
    if (!is_free(t, SLOT_POLY_EFFECT)) free_with_step(t, SLOT_POLY_EFFECT);
    magnitude_only(t, SLOT_POLY_EFFECT);
  }
  for (int32_t g = 1; g <= 3; ++g) {
    if (kind == ModelKind::Environmental) {
      link_param(t, tau_slot(g), SLOT_Q);
    } else if (kind == ModelKind::General) {
      free_with_step(t, tau_slot(g));
    } else {
      fix_param(t, tau_slot(g), MENDELIAN_TAU[g]);
    }
  }
  return t;
}

bool has_gene(ModelKind kind) { return !no_gene(kind); }

bool mirror_point(const ParamVector& t, ParamVector& m) {
  if (t.size() < NPAR_USED) return false;
  m = t;
  for (int32_t i = 1; i <= t.size(); ++i) {
    const int32_t j = i <= NPAR_USED ? mirror_slot(i) : i;
    const bool own = t.link[i] == i;
    if (own != (t.link[j] == j) || (t.est[i] != 0) != (t.est[j] != 0)) return false;
    if (!own) {
      const int32_t target = t.link[i];
      if (target < 1 || target > t.size() || target > NPAR_USED) return false;
      if (t.link[j] != mirror_slot(target) || mirror_complements(i) != mirror_complements(target))
        return false;
    }
    const bool complement = i <= NPAR_USED && mirror_complements(i);
    const double v = complement ? 1.0 - t.value[j] : t.value[j];
    if (own && t.est[i] == 0 && v != t.value[i]) return false;  // a fixed value
    if (own && t.est[i] != 0 && !(v > t.low[i] && v < t.high[i])) return false;
    m.value[i] = v;
  }
  return true;
}

bool label_genotypes(ParamVector& point) {
  if (point.size() < NPAR_USED || !(point.value[SLOT_MEAN1] < point.value[SLOT_MEAN3])) return true;
  ParamVector m;
  if (!mirror_point(point, m)) return false;
  point = m;
  return true;
}

TransRule model_rule(ModelKind kind) {
  if (kind == ModelKind::Environmental) return TransRule::TausEqualQ;
  if (kind == ModelKind::General) return TransRule::Taus;
  return TransRule::Mapping;
}

std::vector<ModelKind> nested_in(ModelKind kind) {
  using K = ModelKind;
  switch (kind) {
    case K::Sporadic: return {};
    case K::Polygenic: return {K::Sporadic};
    case K::Major: return {K::Sporadic};
    case K::Mixed: return {K::Sporadic, K::Polygenic, K::Major};
    case K::Environmental: return {K::Sporadic, K::Polygenic};
    case K::General: return {K::Sporadic, K::Polygenic, K::Major, K::Mixed, K::Environmental};
  }
  return {};
}

std::optional<ModelKind> test_model(ModelKind kind) {
  using K = ModelKind;
  switch (kind) {
    case K::Sporadic: return K::Polygenic;
    case K::Polygenic: return K::Mixed;
    case K::Major: return K::Mixed;
    case K::Mixed: return K::General;
    case K::Environmental: return K::General;
    case K::General: return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace pedseg
