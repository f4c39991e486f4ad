#include "likelihood/plan.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "params/codes.h"

namespace pedseg {

namespace {

// The peeling cases of family f; false when the fast kernels cannot take
// its lists (fewer than two entries, repeated members, a pivot neither a
// parent nor the child at position 3).
bool plan_family(const PedigreeTables& ped, const FamilyLayout& fam, Plan& p, FamPlan& fp) {
  fp.ops_begin = static_cast<int32_t>(p.ops.size());
  for (int32_t j = fam.nuc_first; j <= fam.nuc_last; ++j) {
    const int32_t S = ped.NUC_START[j + 1] - ped.NUC_START[j];
    const int32_t* m = ped.NUC_MEMBERS + ped.NUC_START[j];
    if (S < 2) return false;
    for (int32_t a = 0; a < S; ++a)
      for (int32_t b = 0; b < a; ++b)
        if (m[a] == m[b]) return false;
    const int32_t F = m[0], M = m[1], P = ped.NUC_PIVOT[j];
    NucOp op{};
    op.closing = P == 0;
    op.F = F;
    op.M = M;
    op.kids_begin = static_cast<int32_t>(p.kids.size());
    if (P == 0 || P == F || P == M) {
      op.kind = Case::Parent;
      op.target = P == M ? M : F;
      op.other = P == M ? F : M;
      for (int32_t a = 2; a < S; ++a) p.kids.push_back(m[a]);
    } else {
      if (S < 3 || P != m[2]) return false;
      op.target = P;
      op.kind = S == 3 ? Case::SingleChild : Case::ChildWithSiblings;
      for (int32_t a = 3; a < S; ++a) p.kids.push_back(m[a]);
    }
    op.kids_end = static_cast<int32_t>(p.kids.size());
    fp.cost += 1.0 + static_cast<double>(op.kids_end - op.kids_begin);
    p.ops.push_back(op);
  }
  fp.ops_end = static_cast<int32_t>(p.ops.size());
  fp.cost += static_cast<double>(fam.size) * 0.1;
  return true;
}

// Peeling::SumOutUnmeasured on family f's ops, in place (the last in
// p.ops): a member informs when it is analysed or an op kept so far peeled
// something that informs into it.  Children who do not inform leave their
// lists; a parent op with nothing that informs beyond its target is dropped
// (never a closing one); a child op left without siblings becomes a single
// child's.
void sum_out_unmeasured(const FamilyLayout& fam, const TraitView& view, FamPlan& fp, Plan& p) {
  if (fp.ops_end == fp.ops_begin) return;
  std::vector<uint8_t> informs(static_cast<size_t>(fam.size) + 1, 0);
  for (int32_t d = 1; d <= fam.size; ++d)
    informs[d] = view.use[static_cast<size_t>(fam.start + d)] != TraitUse::Missing;
  const std::vector<NucOp> ops(p.ops.begin() + fp.ops_begin, p.ops.end());
  const int32_t kids0 = ops.front().kids_begin;
  const std::vector<int32_t> kids(p.kids.begin() + kids0, p.kids.end());
  p.ops.resize(static_cast<size_t>(fp.ops_begin));
  p.kids.resize(static_cast<size_t>(kids0));
  fp.cost = static_cast<double>(fam.size) * 0.1;
  for (NucOp op : ops) {
    bool beyond = op.kind == Case::Parent ? informs[op.other] != 0
                                          : informs[op.F] != 0 || informs[op.M] != 0;
    const int32_t begin = static_cast<int32_t>(p.kids.size());
    for (int32_t e = op.kids_begin; e < op.kids_end; ++e) {
      const int32_t x = kids[static_cast<size_t>(e - kids0)];
      if (informs[x] == 0) continue;
      p.kids.push_back(x);
      beyond = true;
    }
    if (op.kind == Case::Parent && !op.closing && !beyond) {
      p.kids.resize(static_cast<size_t>(begin));
      continue;
    }
    op.kids_begin = begin;
    op.kids_end = static_cast<int32_t>(p.kids.size());
    if (op.kind == Case::ChildWithSiblings && op.kids_end == begin) op.kind = Case::SingleChild;
    informs[op.target] = informs[op.target] != 0 || beyond;
    fp.cost += 1.0 + static_cast<double>(op.kids_end - op.kids_begin);
    p.ops.push_back(op);
  }
  fp.ops_end = static_cast<int32_t>(p.ops.size());
}

// The loop plan of family f, whose ops are in place; false when a
// state-dependent op reads an array that a later op peeled once per
// evaluation would still change (lists out of peeling order), which the
// shared work cannot reproduce.
bool plan_loops(const FamilyLayout& fam, const FamPlan& fp, Plan& p, LoopPlan& lp) {
  std::vector<uint8_t> changes(static_cast<size_t>(fam.size) + 1, 0);
  for (size_t i = 0; i < fam.breakers.size(); ++i) {
    const LoopBreaker& b = fam.breakers[i];
    lp.breakers.push_back(b.person);
    changes[b.person] = 1;
    for (int32_t c : b.copies) {
      lp.copies.push_back({c, static_cast<int32_t>(i)});
      changes[c] = 1;
    }
    lp.states *= 21;
  }
  const auto members = [&p](const NucOp& op) {
    std::vector<int32_t> m = {op.kind == Case::Parent ? op.other : op.F,
                              op.kind == Case::Parent ? op.target : op.M};
    if (op.kind != Case::Parent) m.push_back(op.target);
    m.insert(m.end(), p.kids.begin() + op.kids_begin, p.kids.begin() + op.kids_end);
    return m;
  };
  if (fp.ops_end > fp.ops_begin) {
    lp.kids_first = p.ops[fp.ops_begin].kids_begin;
    lp.kid_slot.assign(static_cast<size_t>(p.ops[fp.ops_end - 1].kids_end - lp.kids_first), -1);
  }
  for (int32_t o = fp.ops_begin; o < fp.ops_end; ++o) {
    const NucOp& op = p.ops[o];
    bool dep = false;
    for (int32_t m : members(op)) dep = dep || changes[m];
    lp.per_state.push_back(dep ? 1 : 0);
    if (!dep) continue;
    for (int32_t e = op.kids_begin; e < op.kids_end; ++e)
      if (!changes[p.kids[e]]) lp.kid_slot[e - lp.kids_first] = lp.slots++;
    changes[op.target] = 1;
    for (int32_t m : members(op)) {
      if (m == op.target || changes[m]) continue;
      for (int32_t later = o + 1; later < fp.ops_end; ++later)
        if (p.ops[later].target == m) return false;
    }
  }
  for (int32_t d = 1; d <= fam.size; ++d)
    if (changes[d]) lp.restored.push_back(d);
  return true;
}

}  // namespace

Plan build_plan(const PedigreeTables& ped) { return build_plan(ped, build_layout(ped)); }

Plan build_plan(const PedigreeTables& ped, const PedigreeLayout& given, const TraitView* view,
                Peeling peeling) {
  if (peeling == Peeling::SumOutUnmeasured && view == nullptr)
    throw std::invalid_argument("build_plan: summing out the unmeasured needs a view");
  Plan p;
  p.layout = given;
  const int32_t nfam = p.layout.nfam();
  if (view != nullptr)
    for (int32_t f = 1; f <= nfam; ++f) {
      FamilyLayout& fam = p.layout.fams[static_cast<size_t>(f)];
      fam.evaluated = fam.evaluated && family_analysed(*view, fam.start, fam.size);
    }
  const PedigreeLayout& layout = p.layout;
  const auto measured = [&](int32_t global) {
    return view != nullptr ? view->use[static_cast<size_t>(global)] != TraitUse::Missing
                           : trait_above_missing(ped.TRAIT[global]);
  };

  // The set-up under the traits: a loose individual with a missing trait
  // gets the prior alone.
  p.setup.resize(layout.roles.size());
  for (int32_t f = 1; f <= nfam; ++f) {
    SetUp* setup = p.setup.data() + layout[f].roles_begin;
    for (int32_t d = 1; d <= layout[f].size; ++d) {
      const Role role = layout.role(f, d);
      setup[d - 1] = role == Role::Child    ? SET_PEN
                     : role == Role::Parent ? SET_PEN_PRIOR
                     : measured(layout[f].start + d) ? SET_PEN_PRIOR
                                                     : SET_PRIOR;
    }
  }

  p.fams.assign(static_cast<size_t>(nfam) + 2, FamPlan{});
  for (int32_t f = 1; f <= nfam; ++f) {
    const FamilyLayout& fam = layout[f];
    FamPlan& fp = p.fams[f];
    if (!fam.evaluated || fam.size <= 0) continue;  // size 0: term 0
    const size_t ops = p.ops.size(), kids = p.kids.size();
    LoopPlan lp;
    if (!plan_family(ped, fam, p, fp) || (fam.has_loops() && !plan_loops(fam, fp, p, lp))) {
      p.ops.resize(ops);
      p.kids.resize(kids);
      fp = FamPlan{};
      p.irregular.push_back(f);
      continue;
    }
    if (peeling == Peeling::SumOutUnmeasured && !fam.has_loops())
      sum_out_unmeasured(fam, *view, fp, p);
    if (fam.has_loops()) {
      fp.loop = static_cast<int32_t>(p.loops.size());
      fp.cost *= static_cast<double>(lp.states);
      p.max_states = std::max(p.max_states, lp.states);
      p.max_ops = std::max(p.max_ops, fp.ops_end - fp.ops_begin);
      p.max_slots = std::max(p.max_slots, lp.slots);
      p.loops.push_back(std::move(lp));
    }
    p.order.push_back(f);
    p.max_nf = std::max(p.max_nf, fam.size);
    p.max_global = std::max(p.max_global, fam.start + fam.size);
  }
  std::stable_sort(p.order.begin(), p.order.end(),
                   [&p](int32_t a, int32_t b) { return p.fams[a].cost > p.fams[b].cost; });

  // The penetrance depends on the individual only through the trait value
  // and its use, so equal values (bitwise) of one use share one computation;
  // under a view with covariates every individual has its own (its position
  // breaks the ties).
  const bool by_value = view == nullptr || view->by_value;
  std::vector<std::pair<uint64_t, int32_t>> values;  // (use and bits, or position; global number)
  for (int32_t f : p.order) {
    const SetUp* setup = p.setup_of(f);
    for (int32_t d = 1; d <= layout[f].size; ++d) {
      if (setup[d - 1] == SET_PRIOR) continue;
      const int32_t i = layout[f].start + d;
      const bool unmeasured = view != nullptr && view->use[static_cast<size_t>(i)] == TraitUse::Missing;
      uint64_t key = (uint64_t{1} << 40) + values.size();
      if (unmeasured) {
        key = 0;  // penetrance 1 whatever the value and shift
      } else if (by_value) {
        uint32_t b = 0;
        std::memcpy(&b, &ped.TRAIT[i], sizeof b);
        const uint64_t use =
            view != nullptr ? static_cast<uint64_t>(view->use[static_cast<size_t>(i)]) : 0;
        key = (use << 32) | b;
      }
      values.push_back({key, i});
    }
  }
  std::sort(values.begin(), values.end());
  for (size_t a = 0, first = 0; a < values.size(); ++a) {
    if (a == 0 || values[a].first != values[a - 1].first) {
      first = a;
      p.value_rep.push_back(values[a].second);
    } else {
      p.value_copy.push_back({values[a].second, values[first].second});
    }
  }
  std::sort(p.value_rep.begin(), p.value_rep.end());
  return p;
}

}  // namespace pedseg
