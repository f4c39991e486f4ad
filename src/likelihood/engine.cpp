// The likelihood engine: the fast family loop.  It computes exactly the operations of the plain
// version (likelihood.cpp), each sum in its own accumulator in the same
// order and each product associated the same way, so the results are the
// same bits.  The speed comes from:
//
// - vectors across independent accumulators: the 7 classes of a target (or
//   of a first parent) are 7 lanes that run the same sequence of IEEE
//   operations side by side; no sum is split or reordered;
// - equal inputs giving equal results: parent-genotype pairs with bitwise
//   equal major-gene transmission columns share one child sum;
// - terms skipped when a transmission factor is exactly zero: such a term is
//   (finite x 0) x finite, a signed zero, and adding a signed zero to an
//   accumulator that started at +0 changes nothing (the accumulator is never
//   -0).  The skip is taken only when the other factors of the skipped terms
//   are finite; otherwise every term is computed;
// - work kept across evaluations: each family's roles, cases and first loose
//   individual (planned once, when the engine is built), and the penetrances,
//   computed once per distinct trait value and recomputed only for the
//   genotypes whose mean, spike probability, polygenic effect or variance
//   changed;
// - families evaluated in parallel, each into its own term, the terms added
//   afterwards in increasing family order.
//
// Families with member lists the kernels do not take (fewer than two
// entries, repeated members, a pivot that is neither a parent nor the child
// at position 3, members outside the family) are evaluated by the plain code.

#include "likelihood/engine.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace pedseg {

namespace {

typedef double V4 __attribute__((vector_size(32)));

inline V4 splat(double a) { return V4{a, a, a, a}; }

// One individual's 21 entries: genotype g (0..2) at 8 g, classes in lanes
// 0..6, lane 7 unused.
struct alignas(32) Arr {
  double v[24];
};

// ---------------------------------------------------------------------------
// Structure kept across evaluations.

enum class Case : int32_t { Parent, SingleChild, ChildWithSiblings };

struct NucOp {
  Case kind;
  int32_t target;   // local number
  int32_t other;    // parent case: the other parent
  int32_t F, M;     // child cases: the parents
  bool closing;     // pivot 0
  int32_t kids_begin, kids_end;  // children (parent case) or siblings, in Plan::kids
};

enum Role : uint8_t { ROLE_PEN = 0, ROLE_PEN_PRIOR = 1, ROLE_PRIOR = 2 };

struct FamPlan {
  int32_t f = 0;
  int32_t start = 0;  // PED_START(f)
  int32_t n_f = 0;
  bool evaluated = false;  // weight not 0
  bool regular = false;    // taken by the fast kernels
  bool peel = false;       // has nuclear families
  int32_t i0 = 1;
  int32_t ops_begin = 0, ops_end = 0;
  int32_t roles_begin = 0;
  double cost = 0.0;
};

struct Plan {
  int32_t nfam = 0;
  std::vector<FamPlan> fams;      // index f
  std::vector<NucOp> ops;
  std::vector<int32_t> kids;
  std::vector<uint8_t> roles;
  std::vector<int32_t> order;     // regular evaluated families, largest first
  std::vector<int32_t> irregular; // evaluated families for the plain code
  int32_t max_nf = 0;
  int32_t max_global = 0;
  // Individuals whose penetrances are used: one global number per distinct
  // trait value (ascending), and the others as (global number, the global
  // number whose values they take).
  std::vector<int32_t> value_rep;
  std::vector<std::pair<int32_t, int32_t>> value_copy;
};

// ---------------------------------------------------------------------------
// Quantities of one evaluation, read by every thread.

struct EvalShared {
  double TM[27];
  int32_t colid[3][3];   // [first-parent genotype][second-parent genotype] -> column
  int32_t ncols = 0;
  double colm[9][3];     // distinct columns TM(., a, b)
  bool col_small[9];     // every entry of the column finite with |m| <= 1
  double freq_prior[3][8];
  double freq[3];
  double prior[8];
  bool tp_finite = true;
  bool pen_stale[3] = {true, true, true};  // per major genotype
  bool any_pen_stale = true;
};

// Transmission of classes, laid out for the vector kernels.
struct PolyLayout {
  double TP[343];            // the table these were made from
  V4 TPT[7][7][2];           // [ko][kx][lanes kt]: TP(kx, kt, ko)
  V4 TPV[7][7][2];           // [kF][kM][lanes kc]: TP(kc, kF, kM)
  bool finite = true;
  // TP(kx, ., ko) is zero for every kt when |kx - ko| > 3 (a parent passes
  // at most 3 and at least c - 3 plus alleles of its c).
  bool banded = false;
  bool built = false;
};

// Per-thread scratch, allocated with the threads.
struct Scratch {
  std::vector<Arr> L;  // local numbers 1..max_nf
  alignas(32) V4 prod[9][7][2];  // by transmission column
  alignas(32) double W[3][7][3][7];
};

struct Engine {
  const PedigreeTables* ped = nullptr;
  const PolyTables* poly_tables = nullptr;
  Plan plan;
  PolyLayout poly;
  EvalShared shared;
  std::vector<Arr> pen;  // by global number
  bool pen_valid = false;
  double pen_key[3][4] = {};  // per genotype: mean, spike probability, effect, variance
  std::vector<double> term;
  std::vector<uint8_t> floor_hit;
  std::vector<Scratch> scratch;
  std::unique_ptr<LikWork> plain_work;  // for the families of the plain code
  int32_t plain_families = 0;
  int32_t threads_requested = 0;  // 0: default_threads()
};

// ---------------------------------------------------------------------------
// Thread pool: workers sleep on a condition variable between evaluations
// and the calling thread waits on one at the end, so no thread spins while a
// busy machine could give the core to a thread with work.

class Pool {
 public:
  using Job = void (*)(void* ctx, int32_t thread);

  ~Pool() { resize(1); }

  int32_t size() const { return static_cast<int32_t>(workers_.size()) + 1; }

  void resize(int32_t n) {
    if (n == size()) return;
    {
      std::lock_guard<std::mutex> lock(mu_);
      stop_ = true;
    }
    start_.notify_all();
    for (std::thread& t : workers_) t.join();
    workers_.clear();
    stop_ = false;
    // A worker waits for the first job after this point, whenever it starts.
    const uint64_t seen = generation_;
    for (int32_t i = 1; i < n; ++i) workers_.emplace_back([this, i, seen] { work(i, seen); });
  }

  // Runs job(ctx, t) on every thread t = 0..size()-1 (0 is the caller) and
  // returns when all have finished.
  void run(Job job, void* ctx) {
    if (workers_.empty()) {
      job(ctx, 0);
      return;
    }
    {
      std::lock_guard<std::mutex> lock(mu_);
      job_ = job;
      ctx_ = ctx;
      running_ = static_cast<int32_t>(workers_.size());
      ++generation_;
    }
    start_.notify_all();
    job(ctx, 0);
    std::unique_lock<std::mutex> lock(mu_);
    done_.wait(lock, [this] { return running_ == 0; });
  }

 private:
  void work(int32_t id, uint64_t seen) {
    for (;;) {
      Job job;
      void* ctx;
      {
        std::unique_lock<std::mutex> lock(mu_);
        start_.wait(lock, [&] { return stop_ || generation_ != seen; });
        if (stop_) return;
        seen = generation_;
        job = job_;
        ctx = ctx_;
      }
      job(ctx, id);
      {
        std::lock_guard<std::mutex> lock(mu_);
        if (--running_ == 0) done_.notify_one();
      }
    }
  }

  std::vector<std::thread> workers_;
  std::mutex mu_;
  std::condition_variable start_, done_;
  Job job_ = nullptr;
  void* ctx_ = nullptr;
  int32_t running_ = 0;
  uint64_t generation_ = 0;
  bool stop_ = false;
};

int32_t default_threads() {
  if (const char* s = std::getenv("OMP_NUM_THREADS")) {
    char* end = nullptr;
    const long v = std::strtol(s, &end, 10);
    if (end != s && v > 0) return static_cast<int32_t>(std::min(v, 256L));
  }
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? static_cast<int32_t>(n) : 1;
}

// ---------------------------------------------------------------------------
// Plan building.

// Fills the plan of family f; false when the fast kernels cannot take it.
bool plan_family(const PedigreeTables& ped, Plan& p, FamPlan& fp, std::vector<int32_t>& flag) {
  const int32_t f = fp.f;
  const int64_t start = ped.PED_START[f];
  const int64_t n_f = static_cast<int64_t>(ped.PED_START[f + 1]) - start;
  if (start < 0 || n_f > N_SIZE || start + n_f > N_SIZE) return false;
  const int64_t j_first = static_cast<int64_t>(ped.PED_NUC[f]) + 1;
  const int64_t j_last = ped.PED_NUC[f + 1];
  if (j_first < 1 || j_last > N_WAY - 3) return false;
  fp.start = static_cast<int32_t>(start);
  fp.n_f = static_cast<int32_t>(n_f);
  fp.peel = j_last >= j_first;
  fp.ops_begin = static_cast<int32_t>(p.ops.size());
  for (int64_t j = j_first; j <= j_last; ++j) {
    const int64_t first = ped.NUC_START[j];
    const int64_t S = static_cast<int64_t>(ped.NUC_START[j + 1]) - first;
    if (first < 0 || S < 2 || first + S > N_WAY) return false;
    const int32_t* m = ped.NUC_MEMBERS + first;
    for (int64_t a = 0; a < S; ++a) {
      if (m[a] < 1 || m[a] > n_f) return false;
      for (int64_t b = 0; b < a; ++b)
        if (m[a] == m[b]) return false;
    }
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
      for (int64_t a = 2; a < S; ++a) p.kids.push_back(m[a]);
    } else {
      if (S < 3 || P != m[2]) return false;
      op.target = P;
      op.kind = S == 3 ? Case::SingleChild : Case::ChildWithSiblings;
      for (int64_t a = 3; a < S; ++a) p.kids.push_back(m[a]);
    }
    op.kids_end = static_cast<int32_t>(p.kids.size());
    fp.cost += 1.0 + static_cast<double>(op.kids_end - op.kids_begin);
    p.ops.push_back(op);
  }
  fp.ops_end = static_cast<int32_t>(p.ops.size());
  fp.cost += static_cast<double>(n_f) * 0.1;

  // Roles, as the set-up passes leave them.
  fp.roles_begin = static_cast<int32_t>(p.roles.size());
  for (int64_t d = 1; d <= n_f; ++d) flag[d] = 0;
  p.roles.resize(p.roles.size() + static_cast<size_t>(n_f), ROLE_PRIOR);
  uint8_t* role = p.roles.data() + fp.roles_begin;  // role[d - 1], d = 1..n_f
  for (int64_t j = j_first; j <= j_last; ++j) {
    const int32_t* m = ped.NUC_MEMBERS + ped.NUC_START[j];
    const int64_t S = ped.NUC_START[j + 1] - ped.NUC_START[j];
    for (int64_t a = 2; a < S; ++a) {
      flag[m[a]] = 1;
      role[m[a] - 1] = ROLE_PEN;
    }
  }
  for (int64_t j = j_first; j <= j_last; ++j) {
    const int32_t* m = ped.NUC_MEMBERS + ped.NUC_START[j];
    for (int a = 0; a < 2; ++a) {
      if (flag[m[a]] == 1) continue;
      flag[m[a]] = 1;
      role[m[a] - 1] = ROLE_PEN_PRIOR;
    }
  }
  for (int64_t d = 1; d <= n_f; ++d) {
    if (flag[d] == 1) continue;
    role[d - 1] = trait_above_missing(ped.TRAIT[start + d]) ? ROLE_PEN_PRIOR : ROLE_PRIOR;
  }

  // First individual in no list (searched only for families with lists).
  fp.i0 = 1;
  if (fp.peel) {
    fp.i0 = static_cast<int32_t>(n_f) + 1;
    for (int64_t i = 1; i <= n_f; ++i) {
      if (flag[i] != 1) {  // flagged exactly when listed
        fp.i0 = static_cast<int32_t>(i);
        break;
      }
    }
  }
  return true;
}

void build_plan(const PedigreeTables& ped, Engine& e) {
  Plan& p = e.plan;
  p = Plan{};
  const int32_t nfam = ped.PED_START[0];
  p.nfam = nfam;
  const size_t nf = static_cast<size_t>(nfam) + 2;

  std::vector<int32_t> flag(N_SIZE + 1, 0);
  p.fams.assign(nf, FamPlan{});
  for (int32_t f = 1; f <= nfam; ++f) {
    FamPlan& fp = p.fams[f];
    fp.f = f;
    fp.evaluated = ped.PED_WEIGHT[f] != 0.0;
    if (!fp.evaluated) continue;
    if (static_cast<int64_t>(ped.PED_START[f + 1]) - ped.PED_START[f] <= 0) {
      fp.regular = true;  // term 0, nothing to set up
      continue;
    }
    const size_t ops = p.ops.size(), kids = p.kids.size(), roles = p.roles.size();
    fp.regular = plan_family(ped, p, fp, flag);
    if (!fp.regular) {
      p.ops.resize(ops);
      p.kids.resize(kids);
      p.roles.resize(roles);
      fp.cost = 0.0;
      p.irregular.push_back(f);
      continue;
    }
    p.order.push_back(f);
    p.max_nf = std::max(p.max_nf, fp.n_f);
    p.max_global = std::max(p.max_global, fp.start + fp.n_f);
  }
  std::stable_sort(p.order.begin(), p.order.end(),
                   [&p](int32_t a, int32_t b) { return p.fams[a].cost > p.fams[b].cost; });

  // The penetrance depends on the individual only through the trait value,
  // so equal values (bitwise) share one computation.
  std::vector<std::pair<uint32_t, int32_t>> values;  // (bits, global number)
  for (int32_t f : p.order) {
    const FamPlan& fp = p.fams[f];
    const uint8_t* role = p.roles.data() + fp.roles_begin;
    for (int32_t d = 1; d <= fp.n_f; ++d) {
      if (role[d - 1] == ROLE_PRIOR) continue;
      uint32_t b;
      std::memcpy(&b, &ped.TRAIT[fp.start + d], sizeof b);
      values.push_back({b, fp.start + d});
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

  e.pen.assign(static_cast<size_t>(p.max_global) + 1, Arr{});
  e.pen_valid = false;
  e.term.assign(nf, 0.0);
  e.floor_hit.assign(nf, 0);
}

void build_poly(const PolyTables& poly, PolyLayout& L) {
  std::memcpy(L.TP, poly.TRANS_POLY, sizeof L.TP);
  L.finite = true;
  for (double v : L.TP)
    if (!std::isfinite(v)) L.finite = false;
  for (int a = 0; a < 7; ++a)
    for (int b = 0; b < 7; ++b)
      for (int h = 0; h < 2; ++h) {
        V4 t{}, v{};
        for (int l = 0; l < 4; ++l) {
          const int c = 4 * h + l;
          // TPT[ko=a][kx=b] lane kt=c: TP(kx, kt, ko); TPV[kF=a][kM=b] lane kc=c: TP(kc, kF, kM)
          t[l] = c < 7 ? L.TP[b + 7 * c + 49 * a] : 0.0;
          v[l] = c < 7 ? L.TP[c + 7 * a + 49 * b] : 0.0;
        }
        L.TPT[a][b][h] = t;
        L.TPV[a][b][h] = v;
      }
  L.banded = true;
  for (int ko = 0; ko < 7; ++ko)
    for (int kx = 0; kx < 7; ++kx)
      if (kx - ko > 3 || ko - kx > 3)
        for (int kt = 0; kt < 7; ++kt)
          if (L.TP[kx + 7 * kt + 49 * ko] != 0.0) L.banded = false;
  L.built = true;
}

void prepare_shared(const ModelQuantities& model, const PolyTables& poly, Engine& e) {
  EvalShared& s = e.shared;
  std::memcpy(s.TM, model.TRANS_MAJOR, sizeof s.TM);
  s.ncols = 0;
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b) {
      const double* col = s.TM + 3 * a + 9 * b;
      int c = 0;
      while (c < s.ncols && std::memcmp(s.colm[c], col, sizeof s.colm[c]) != 0) ++c;
      if (c == s.ncols) {
        std::memcpy(s.colm[c], col, sizeof s.colm[c]);
        s.col_small[c] = true;
        for (int g = 0; g < 3; ++g) s.col_small[c] &= std::fabs(col[g]) <= 1.0;
        ++s.ncols;
      }
      s.colid[a][b] = c;
    }
  for (int g = 0; g < 3; ++g) s.freq[g] = model.GEN_FREQ[g + 1];
  for (int k = 0; k < 8; ++k) s.prior[k] = k < 7 ? poly.POLY_PRIOR[k + 1] : 0.0;
  for (int g = 0; g < 3; ++g)
    for (int k = 0; k < 8; ++k) s.freq_prior[g][k] = s.freq[g] * s.prior[k];
  s.tp_finite = e.poly.finite;

  // The penetrances of genotype g depend on its mean and spike probability,
  // the polygenic effect and the variance; a move of one mean or one spike
  // probability recomputes one genotype's values.
  s.any_pen_stale = false;
  for (int g = 0; g < 3; ++g) {
    const double key[4] = {model.GEN_MEAN[g + 1], model.SPIKE_PROB[g + 1], model.POLY_EFFECT,
                           model.RES_VAR};
    s.pen_stale[g] = !e.pen_valid || std::memcmp(key, e.pen_key[g], sizeof key) != 0;
    s.any_pen_stale |= s.pen_stale[g];
    std::memcpy(e.pen_key[g], key, sizeof key);
  }
}

// ---------------------------------------------------------------------------
// Kernels.  Array entry (g, k) of an individual is v[8 g + k], g and k from 0.

inline bool all_finite(const double* a) {
  bool ok = true;
  for (int g = 0; g < 3; ++g)
    for (int k = 0; k < 7; ++k) ok &= std::isfinite(a[8 * g + k]);
  return ok;
}

inline double trans(const EvalShared& s, int c, int a, int b) { return s.TM[c + 3 * a + 9 * b]; }

// Child sums of child x for one major-gene column m = TM(., a, b), every
// class kt of the parent in the second index (lanes) and every class ko of
// the parent in the third:  sum over gx (outer) and kx (inner) of
// (L(x, gx, kx) x m(gx)) x TP(kx, kt, ko); each sum multiplies prod[ko][kt].
//
// With `skip` (L(x) finite), terms whose m(gx) is zero are left out; with
// `Banded` as well (every L(x, gx, kx) x m(gx) finite, the class table
// banded), so are the terms of the zero rows |kx - ko| > 3.
template <bool Banded>
inline void child_sums(const double* Lx, const double* m, bool skip, const PolyLayout& P,
                       V4 (&prod)[7][2]) {
  V4 acc[7][2];
#pragma GCC unroll 7
  for (int ko = 0; ko < 7; ++ko) acc[ko][0] = acc[ko][1] = V4{};
  for (int gx = 0; gx < 3; ++gx) {
    if (skip && m[gx] == 0.0) continue;
#pragma GCC unroll 7
    for (int kx = 0; kx < 7; ++kx) {
      const V4 a = splat(Lx[8 * gx + kx] * m[gx]);
      const int lo = Banded ? std::max(0, kx - 3) : 0;
      const int hi = Banded ? std::min(6, kx + 3) : 6;
#pragma GCC unroll 7
      for (int ko = lo; ko <= hi; ++ko) {
        acc[ko][0] += a * P.TPT[ko][kx][0];
        acc[ko][1] += a * P.TPT[ko][kx][1];
      }
    }
  }
  for (int ko = 0; ko < 7; ++ko) {
    prod[ko][0] = prod[ko][0] * acc[ko][0];
    prod[ko][1] = prod[ko][1] * acc[ko][1];
  }
}

// prod[colid[a][b]][ko][kt] = product from 1 over the listed individuals of
// their child sums for the parent states (a, kt) in the second index and
// (b, ko) in the third.  Pairs (a, b) with equal columns have equal products
// (the same operations on the same values), so one per column is formed.
void product_of_child_sums(const int32_t* xs, int32_t n, const Arr* L, const EvalShared& s,
                           const PolyLayout& P, Scratch& sc) {
  const V4 one = splat(1.0);
  for (int c = 0; c < s.ncols; ++c)
    for (int ko = 0; ko < 7; ++ko) sc.prod[c][ko][0] = sc.prod[c][ko][1] = one;
  for (int32_t i = 0; i < n; ++i) {
    const double* Lx = L[xs[i]].v;
    const bool skip = s.tp_finite && all_finite(Lx);
    for (int c = 0; c < s.ncols; ++c) {
      if (skip && P.banded && s.col_small[c]) {
        child_sums<true>(Lx, s.colm[c], skip, P, sc.prod[c]);
      } else {
        child_sums<false>(Lx, s.colm[c], skip, P, sc.prod[c]);
      }
    }
  }
}

// Parent target t, other parent o, children xs.
void peel_parent(double* Lt, const double* Lo, const int32_t* xs, int32_t n, const Arr* L,
                 const EvalShared& s, const PolyLayout& P, Scratch& sc) {
  product_of_child_sums(xs, n, L, s, P, sc);
  for (int gt = 0; gt < 3; ++gt) {
    V4 acc0{}, acc1{};
    for (int go = 0; go < 3; ++go) {
      const V4(&pr)[7][2] = sc.prod[s.colid[gt][go]];
      for (int ko = 0; ko < 7; ++ko) {
        const V4 l = splat(Lo[8 * go + ko]);
        acc0 += l * pr[ko][0];
        acc1 += l * pr[ko][1];
      }
    }
    for (int kt = 0; kt < 7; ++kt) {
      const double A = kt < 4 ? acc0[kt] : acc1[kt - 4];
      Lt[8 * gt + kt] = A * Lt[8 * gt + kt];
    }
  }
}

// Both child cases: for every target state (gc, kc),
//   sum over gF, kF, gM, kM (kM innermost) of ((W x TM(gc,gF,gM)) x TP(kc,kF,kM)) [x L(F,gF,kF)]
// with W = sc.W, then the sum multiplies the target's entry.  The three
// target genotypes run side by side (separate accumulators).
template <bool WithF>
void child_target(double* Lc, const double* LF, const EvalShared& s, const PolyLayout& P,
                  Scratch& sc) {
  bool finite = s.tp_finite;
  for (int gF = 0; gF < 3; ++gF)
    for (int kF = 0; kF < 7; ++kF)
      for (int gM = 0; gM < 3; ++gM)
        for (int kM = 0; kM < 7; ++kM) finite &= std::isfinite(sc.W[gF][kF][gM][kM]);
  if (WithF) finite &= all_finite(LF);

  V4 acc[3][2];
  for (int gc = 0; gc < 3; ++gc) acc[gc][0] = acc[gc][1] = V4{};
  for (int gF = 0; gF < 3; ++gF)
    for (int kF = 0; kF < 7; ++kF) {
      const V4 lf = splat(WithF ? LF[8 * gF + kF] : 1.0);
      for (int gM = 0; gM < 3; ++gM) {
        const double t0 = trans(s, 0, gF, gM), t1 = trans(s, 1, gF, gM), t2 = trans(s, 2, gF, gM);
        const bool on0 = !finite || t0 != 0.0, on1 = !finite || t1 != 0.0,
                   on2 = !finite || t2 != 0.0;
        const double* w = sc.W[gF][kF][gM];
        for (int kM = 0; kM < 7; ++kM) {
          const V4* tp = P.TPV[kF][kM];
          if (on0) {
            const V4 a = splat(w[kM] * t0);
            if (WithF) {
              acc[0][0] += (a * tp[0]) * lf;
              acc[0][1] += (a * tp[1]) * lf;
            } else {
              acc[0][0] += a * tp[0];
              acc[0][1] += a * tp[1];
            }
          }
          if (on1) {
            const V4 a = splat(w[kM] * t1);
            if (WithF) {
              acc[1][0] += (a * tp[0]) * lf;
              acc[1][1] += (a * tp[1]) * lf;
            } else {
              acc[1][0] += a * tp[0];
              acc[1][1] += a * tp[1];
            }
          }
          if (on2) {
            const V4 a = splat(w[kM] * t2);
            if (WithF) {
              acc[2][0] += (a * tp[0]) * lf;
              acc[2][1] += (a * tp[1]) * lf;
            } else {
              acc[2][0] += a * tp[0];
              acc[2][1] += a * tp[1];
            }
          }
        }
      }
    }
  for (int gc = 0; gc < 3; ++gc)
    for (int kc = 0; kc < 7; ++kc) {
      const double B = kc < 4 ? acc[gc][0][kc] : acc[gc][1][kc - 4];
      Lc[8 * gc + kc] = B * Lc[8 * gc + kc];
    }
}

// Single child c of F and M: W = L(M) x L(F).
void peel_single_child(double* Lc, const double* LF, const double* LM, const EvalShared& s,
                       const PolyLayout& P, Scratch& sc) {
  for (int gF = 0; gF < 3; ++gF)
    for (int kF = 0; kF < 7; ++kF)
      for (int gM = 0; gM < 3; ++gM)
        for (int kM = 0; kM < 7; ++kM)
          sc.W[gF][kF][gM][kM] = LM[8 * gM + kM] * LF[8 * gF + kF];
  child_target<false>(Lc, LF, s, P, sc);
}

// Child P with siblings xs: W = L(M) x (product of the siblings' sums), and
// each term ends with x L(F).
void peel_child_with_siblings(double* Lc, const double* LF, const double* LM, const int32_t* xs,
                              int32_t n, const Arr* L, const EvalShared& s, const PolyLayout& P,
                              Scratch& sc) {
  product_of_child_sums(xs, n, L, s, P, sc);
  for (int gF = 0; gF < 3; ++gF)
    for (int kF = 0; kF < 7; ++kF)
      for (int gM = 0; gM < 3; ++gM)
        for (int kM = 0; kM < 7; ++kM) {
          const V4& v = sc.prod[s.colid[gF][gM]][kM][kF / 4];
          sc.W[gF][kF][gM][kM] = LM[8 * gM + kM] * v[kF % 4];
        }
  child_target<true>(Lc, LF, s, P, sc);
}

inline double sum21(const double* a) {
  double s = 0.0;
  for (int g = 0; g < 3; ++g)
    for (int k = 0; k < 7; ++k) s += a[8 * g + k];
  return s;
}

// The term of one regular family.
void family_term(const FamPlan& fp, Engine& e, Scratch& sc, double& T, bool& floor_hit) {
  const Plan& p = e.plan;
  const EvalShared& s = e.shared;
  const PolyLayout& P = e.poly;
  floor_hit = false;
  T = 0.0;
  if (fp.n_f <= 0) return;

  const uint8_t* role = p.roles.data() + fp.roles_begin;  // role[d - 1]
  // Set-up.
  Arr* L = sc.L.data();
  for (int32_t d = 1; d <= fp.n_f; ++d) {
    double* out = L[d].v;
    const double* pen = e.pen[static_cast<size_t>(fp.start + d)].v;
    switch (role[d - 1]) {
      case ROLE_PEN:
        for (int g = 0; g < 3; ++g)
          for (int k = 0; k < 7; ++k) out[8 * g + k] = pen[8 * g + k];
        break;
      case ROLE_PEN_PRIOR:
        for (int g = 0; g < 3; ++g)
          for (int k = 0; k < 7; ++k) out[8 * g + k] = pen[8 * g + k] * s.freq[g] * s.prior[k];
        break;
      default:
        for (int g = 0; g < 3; ++g)
          for (int k = 0; k < 7; ++k) out[8 * g + k] = s.freq_prior[g][k];
        break;
    }
  }

  // Peeling.
  if (fp.peel) {
    double scale_sum = 0.0, closing_sum = 0.0;
    for (int32_t o = fp.ops_begin; o < fp.ops_end; ++o) {
      const NucOp& op = p.ops[o];
      const int32_t* xs = p.kids.data() + op.kids_begin;
      const int32_t n = op.kids_end - op.kids_begin;
      double* Lt = L[op.target].v;
      switch (op.kind) {
        case Case::Parent:
          peel_parent(Lt, L[op.other].v, xs, n, L, s, P, sc);
          break;
        case Case::SingleChild:
          peel_single_child(Lt, L[op.F].v, L[op.M].v, s, P, sc);
          break;
        case Case::ChildWithSiblings:
          peel_child_with_siblings(Lt, L[op.F].v, L[op.M].v, xs, n, L, s, P, sc);
          break;
      }
      const double sum = sum21(Lt);
      scale_sum = scale_sum + std::log(sum);
      const double r = 1.0 / sum;
      for (int g = 0; g < 3; ++g)
        for (int k = 0; k < 7; ++k) Lt[8 * g + k] = Lt[8 * g + k] * r;
      const double s2 = sum21(Lt);
      if (op.closing) closing_sum = closing_sum + std::log(s2);
    }
    T = closing_sum + scale_sum;
  }

  // Loose individuals.
  for (int32_t i = fp.i0; i <= fp.n_f; ++i) {
    const double S = sum21(L[i].v);
    if (S <= LIK_FLOOR) {
      floor_hit = true;
      return;
    }
    T = T + std::log(S);
  }
}

struct LoopCtx {
  const PedigreeTables* ped;
  const ModelQuantities* model;
  Engine* e;
  std::atomic<int32_t> next{0};
};

// Penetrances of the distinct trait values, in chunks, for the genotypes
// whose quantities moved.  The operations are those of PENETRANCE (the
// tests compare against it), with the factors that do not depend on the
// trait value formed once: the class means, 1 - SPIKE_PROB(g) and the
// square root.
void penetrance_loop(void* raw, int32_t) {
  LoopCtx& c = *static_cast<LoopCtx*>(raw);
  Engine& e = *c.e;
  const ModelQuantities& model = *c.model;
  const EvalShared& s = e.shared;
  const int32_t n = static_cast<int32_t>(e.plan.value_rep.size());
  const double var = model.RES_VAR;
  const double root = std::sqrt(var * TWO_PI_S);
  double mean[3][7], keep[3];
  for (int g = 0; g < 3; ++g) {
    keep[g] = 1.0 - model.SPIKE_PROB[g + 1];
    for (int k = 0; k < 7; ++k)
      mean[g][k] = static_cast<double>(k + 1 - 4) * model.POLY_EFFECT + model.GEN_MEAN[g + 1];
  }
  constexpr int32_t chunk = 256;
  for (;;) {
    const int32_t first = c.next.fetch_add(chunk, std::memory_order_relaxed);
    if (first >= n) break;
    const int32_t last = std::min(n, first + chunk);
    for (int32_t u = first; u < last; ++u) {
      const int32_t i = e.plan.value_rep[static_cast<size_t>(u)];
      const float y = c.ped->TRAIT[i];
      double* v = e.pen[static_cast<size_t>(i)].v;
      for (int g = 0; g < 3; ++g) {
        if (!s.pen_stale[g]) continue;
        double* out = v + 8 * g;
        if (trait_missing(y)) {
          for (int k = 0; k < 7; ++k) out[k] = 1.0;
        } else if (trait_in_spike(y)) {
          for (int k = 0; k < 7; ++k) out[k] = model.SPIKE_PROB[g + 1];
        } else if (var <= 0.0) {
          for (int k = 0; k < 7; ++k) out[k] = 0.0;
        } else {
          double q[7];
          for (int k = 0; k < 7; ++k) {
            const double d = static_cast<double>(y) - mean[g][k];
            q[k] = -((d * d / var) * 0.5);
          }
          for (int k = 0; k < 7; ++k) q[k] = std::exp(q[k]);
          for (int k = 0; k < 7; ++k) out[k] = (q[k] * keep[g]) / root;
        }
      }
    }
  }
}

void family_loop(void* raw, int32_t thread) {
  LoopCtx& c = *static_cast<LoopCtx*>(raw);
  Engine& e = *c.e;
  Scratch& sc = e.scratch[static_cast<size_t>(thread)];
  const int32_t n = static_cast<int32_t>(e.plan.order.size());
  for (;;) {
    const int32_t i = c.next.fetch_add(1, std::memory_order_relaxed);
    if (i >= n) break;
    const int32_t f = e.plan.order[static_cast<size_t>(i)];
    double T = 0.0;
    bool hit = false;
    family_term(e.plan.fams[f], e, sc, T, hit);
    e.term[f] = T;
    e.floor_hit[f] = hit ? 1 : 0;
  }
}

}  // namespace

struct LikelihoodEngine::State {
  Engine e;
  Pool pool;

  // Threads and their work arrays for the requested count (never more than
  // the families the kernels take, never fewer than 1).
  void size_threads() {
    const int32_t want = std::max<int32_t>(
        1, std::min<int32_t>(e.threads_requested > 0 ? e.threads_requested : default_threads(),
                             static_cast<int32_t>(e.plan.order.size())));
    pool.resize(want);
    if (e.scratch.size() < static_cast<size_t>(want)) e.scratch.resize(static_cast<size_t>(want));
    for (int32_t t = 0; t < want; ++t) {
      Scratch& sc = e.scratch[static_cast<size_t>(t)];
      if (sc.L.size() < static_cast<size_t>(e.plan.max_nf) + 1)
        sc.L.assign(static_cast<size_t>(e.plan.max_nf) + 1, Arr{});
    }
  }
};

LikelihoodEngine::LikelihoodEngine(const PedigreeTables& ped, const PolyTables& poly,
                                   int32_t threads)
    : state_(std::make_unique<State>()) {
  const int32_t nfam = ped.PED_START[0];
  if (nfam < 0 || nfam > N_FAM || poly.NCLASS != 7) {
    throw std::invalid_argument("LikelihoodEngine: NFAM outside 0 to 604 or NCLASS not 7");
  }
  Engine& e = state_->e;
  e.ped = &ped;
  e.poly_tables = &poly;
  e.threads_requested = std::max(0, threads);
  build_plan(ped, e);
  build_poly(poly, e.poly);
  if (!e.plan.irregular.empty()) e.plain_work = std::make_unique<LikWork>();
  state_->size_threads();
}

LikelihoodEngine::~LikelihoodEngine() = default;

int32_t LikelihoodEngine::threads() const { return state_->pool.size(); }

void LikelihoodEngine::set_threads(int32_t threads) {
  state_->e.threads_requested = std::max(0, threads);
  state_->size_threads();
}

double LikelihoodEngine::family_term(int32_t f) const {
  const Engine& e = state_->e;
  if (f < 0 || static_cast<size_t>(f) >= e.term.size()) return 0.0;
  return e.term[static_cast<size_t>(f)];
}
bool LikelihoodEngine::family_floor(int32_t f) const {
  const Engine& e = state_->e;
  if (f < 0 || static_cast<size_t>(f) >= e.floor_hit.size()) return false;
  return e.floor_hit[static_cast<size_t>(f)] != 0;
}
int32_t LikelihoodEngine::plain_families() const { return state_->e.plain_families; }

double LikelihoodEngine::sample_loglik(ParamTable& par, ModelQuantities& model) {
  double MODEL_STATUS = 1.0;
  SET_MODEL_SEARCH(par, model, MODEL_STATUS);
  if (MODEL_STATUS <= LH_SENTINEL) return LH_SENTINEL;
  return families_loglik(model);
}

double LikelihoodEngine::families_loglik(const ModelQuantities& model) {
  Engine& e = state_->e;
  Pool& pool = state_->pool;
  const PedigreeTables& ped = *e.ped;
  const PolyTables& poly = *e.poly_tables;
  prepare_shared(model, poly, e);

  if (e.shared.any_pen_stale) {
    LoopCtx pctx;
    pctx.ped = &ped;
    pctx.model = &model;
    pctx.e = &e;
    pool.run(&penetrance_loop, &pctx);
    for (const auto& [i, from] : e.plan.value_copy) e.pen[static_cast<size_t>(i)] = e.pen[static_cast<size_t>(from)];
    e.pen_valid = true;
  }
  LoopCtx ctx;
  ctx.ped = &ped;
  ctx.model = &model;
  ctx.e = &e;
  pool.run(&family_loop, &ctx);

  // Families the kernels do not take.
  e.plain_families = static_cast<int32_t>(e.plan.irregular.size());
  for (int32_t f : e.plan.irregular) {
    double T = 0.0;
    bool hit = false;
    FAMILY_TERM_PLAIN(f, ped, model, poly, *e.plain_work, T, hit);
    e.term[f] = T;
    e.floor_hit[f] = hit ? 1 : 0;
  }

  // The terms in increasing family order, as the plain loop adds them.
  double LL = 0.0;
  for (int32_t f = 1; f <= e.plan.nfam; ++f) {
    if (!e.plan.fams[f].evaluated) continue;
    if (e.floor_hit[f]) return LH_SENTINEL;
    LL = LL + e.term[f];
  }
  if (!std::isfinite(LL)) LL = LH_SENTINEL;
  return LL;
}

}  // namespace pedseg
