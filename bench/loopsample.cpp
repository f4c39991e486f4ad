// Writes a sample of first-cousin pedigrees, cut at one cousin, into a
// folder: par.inp, iway.dat, trait.dat and loops.dat.
//
//   loopsample DIR [FAMILIES] [SEED]
//
// Each family (default 300): grandparents with 2 to 4 children; a son and a
// daughter married (each other child with probability one half), every
// couple with 1 to 4 children; a child of the son married to a child of the
// daughter, with 1 to 4 children.  The second cousin is cut: a copy (a
// founder with a missing trait) stands for her as the parent of the
// marriage's children.  Without loops.dat the same files describe the same
// families with the cousin marriage removed (the copy a spouse from
// outside).  Traits are simulated under a Mendelian major gene (q = 0.3,
// means 11, 9, 7.5, residual variance 3), 5% missing.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

struct Person {
  int father = 0, mother = 0;  // local numbers, 0 for a founder
  int genotype = 0;            // 1..3
};

struct List {
  std::vector<int> members;  // first parent, second parent, children
  int pivot = 0;
};

struct Family {
  std::vector<Person> people;  // local number - 1; the copy last
  std::vector<List> lists;     // in peeling order
  int person = 0, copy = 0;    // the cut
};

Family make_family(std::mt19937& rng) {
  auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  Family fam;
  auto add = [&fam](int father, int mother) {
    fam.people.push_back({father, mother, 0});
    return static_cast<int>(fam.people.size());
  };
  const int g1 = add(0, 0), g2 = add(0, 0);
  std::vector<int> children;
  const int nchildren = pick(2, 4);
  for (int i = 0; i < nchildren; ++i) children.push_back(add(g1, g2));
  // Couples of the children: (husband, wife, their children); child 0 is the
  // son, child 1 the daughter.
  struct Couple {
    int husband, wife, child_of_grandparents;
    std::vector<int> kids;
  };
  std::vector<Couple> couples;
  for (int i = 0; i < nchildren; ++i) {
    if (i >= 2 && pick(0, 1) == 0) continue;
    const int spouse = add(0, 0);
    const bool husband = i == 0 || (i >= 2 && pick(0, 1) == 0);
    couples.push_back({husband ? children[i] : spouse, husband ? spouse : children[i], i, {}});
  }
  for (Couple& c : couples) {
    const int n = pick(1, 4);
    for (int k = 0; k < n; ++k) c.kids.push_back(add(c.husband, c.wife));
  }
  const int cousin1 = couples[0].kids[0], cousin2 = couples[1].kids[0];
  std::vector<int> last;
  const int nlast = pick(1, 4);
  for (int k = 0; k < nlast; ++k) last.push_back(add(cousin1, cousin2));
  fam.person = cousin2;
  fam.copy = add(0, 0);

  // Peeling order: the marriage onto the first cousin, the couples onto the
  // grandparents' child, then the grandparents (closing).
  List marriage{{cousin1, fam.copy}, cousin1};
  marriage.members.insert(marriage.members.end(), last.begin(), last.end());
  fam.lists.push_back(marriage);
  for (const Couple& c : couples) {
    List l{{c.husband, c.wife}, children[c.child_of_grandparents]};
    l.members.insert(l.members.end(), c.kids.begin(), c.kids.end());
    fam.lists.push_back(l);
  }
  List top{{g1, g2}, 0};
  top.members.insert(top.members.end(), children.begin(), children.end());
  fam.lists.push_back(top);

  // Genotypes: founders in Hardy-Weinberg proportions, children by Mendel;
  // the copy is the cousin.
  const double q = 0.3;
  std::uniform_real_distribution<double> u(0.0, 1.0);
  auto allele = [&](int g) { return g == 1 ? 0 : g == 3 ? 1 : (u(rng) < 0.5 ? 0 : 1); };
  for (size_t i = 0; i < fam.people.size(); ++i) {
    Person& p = fam.people[i];
    if (static_cast<int>(i) + 1 == fam.copy) {
      p.genotype = fam.people[cousin2 - 1].genotype;
    } else if (p.father == 0) {
      const double r = u(rng);
      p.genotype = r < q * q ? 1 : r < q * q + 2 * q * (1 - q) ? 2 : 3;
    } else {
      p.genotype = 1 + allele(fam.people[p.father - 1].genotype) +
                   allele(fam.people[p.mother - 1].genotype);
    }
  }
  return fam;
}

// Writes the items of one record, 20 to a line.
void record(std::ofstream& out, const std::vector<long>& items) {
  for (size_t i = 0; i < items.size(); ++i)
    out << items[i] << (i + 1 == items.size() || i % 20 == 19 ? "\n" : " ");
  if (items.empty()) out << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: loopsample DIR [FAMILIES] [SEED]\n");
    return 1;
  }
  const std::string dir = argv[1];
  const int nfam = argc >= 3 ? std::atoi(argv[2]) : 300;
  std::mt19937 rng(argc >= 4 ? static_cast<unsigned>(std::atoi(argv[3])) : 7u);
  if (nfam < 1 || nfam > 604) {
    std::fprintf(stderr, "loopsample: FAMILIES must be 1 to 604\n");
    return 1;
  }
  std::vector<Family> fams;
  for (int f = 0; f < nfam; ++f) fams.push_back(make_family(rng));

  std::vector<long> ped_start = {nfam, 0}, ped_nuc = {0, 0}, nuc_start = {0}, members, pivots;
  std::ofstream traits(dir + "/trait.dat"), loops(dir + "/loops.dat");
  loops << "# family person copy (global numbers)\n";
  const double mean[4] = {0.0, 11.0, 9.0, 7.5};
  std::normal_distribution<double> residual(0.0, std::sqrt(3.0));
  std::uniform_real_distribution<double> u(0.0, 1.0);
  long ind = 0, nuc = 0;
  for (int f = 0; f < nfam; ++f) {
    const Family& fam = fams[f];
    for (size_t i = 0; i < fam.people.size(); ++i) {
      const bool missing = static_cast<int>(i) + 1 == fam.copy || u(rng) < 0.05;
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.4f", mean[fam.people[i].genotype] + residual(rng));
      traits << (missing ? std::string("-999") : std::string(buf)) << "\n";
    }
    loops << f + 1 << " " << ind + fam.person << " " << ind + fam.copy << "\n";
    for (const List& l : fam.lists) {
      nuc_start.push_back(static_cast<long>(members.size()));
      members.insert(members.end(), l.members.begin(), l.members.end());
      pivots.push_back(l.pivot);
      ++nuc;
    }
    ind += static_cast<long>(fam.people.size());
    ped_start.push_back(ind);
    ped_nuc.push_back(nuc);
  }
  nuc_start.push_back(static_cast<long>(members.size()));
  ped_start.insert(ped_start.begin(), nfam);
  std::vector<long> codes;
  for (long i = 1; i <= ind; ++i) codes.push_back(i);
  std::ofstream iway(dir + "/iway.dat");
  record(iway, ped_start);
  record(iway, ped_nuc);
  nuc_start.insert(nuc_start.begin(), static_cast<long>(nuc_start.size()));  // NSTART
  record(iway, nuc_start);
  members.insert(members.begin(), static_cast<long>(members.size()));
  record(iway, members);
  record(iway, pivots);
  codes.insert(codes.begin(), ind);
  record(iway, codes);

  std::ofstream par(dir + "/par.inp");
  par << "trait.dat\n"
         "1 1 0.3 0.05 0.0 1.0\n2 0 0.0 0.02 0.0 1.0\n3 0 0.0 0.02 0.0 1.0\n"
         "4 0 0.0 0.02 0.0 1.0\n5 1 11.0 0.5 -10.0 30.0\n6 1 9.0 0.5 -10.0 30.0\n"
         "7 1 7.5 0.5 -10.0 30.0\n8 0 1.0 0.0 0.0 1.0\n9 0 0.5 0.0 0.0 1.0\n"
         "10 0 0.0 0.0 0.0 1.0\n11 1 0.2 0.1 -2.0 2.0\n12 1 3.0 0.3 0.01 30.0\n";
  std::printf("%d families, %ld individuals (%d copies) in %s\n", nfam, ind, nfam, dir.c_str());
  return 0;
}
