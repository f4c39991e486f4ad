// The models of the table: their names, their parameters from the user's,
// their transmission rules and how they nest.
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
  } else if (!is_free(t, SLOT_POLY_EFFECT)) {
    free_with_step(t, SLOT_POLY_EFFECT);
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
