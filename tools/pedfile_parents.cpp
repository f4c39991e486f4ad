// Resolving the parents of a pedigree file, with the additions of
// --fix-parents.

#include <unordered_map>
#include <utility>

#include "pedgraph.h"

namespace pedseg::tools {

// ---- parents ------------------------------------------------------------
void PedChecker::resolve_parents() {
  // Where each id stands first, over all families, to point at a parent
  // given in the wrong family.
  std::unordered_map<std::string, std::pair<std::string, int>> anywhere;
  for (const auto& fam : data.families)
    for (const auto& p : fam.people) anywhere.try_emplace(p.id, fam.id, p.line);

  for (auto& fam : data.families) {
    std::unordered_map<std::string, int> index;
    for (size_t i = 0; i < fam.people.size(); ++i)
      index.emplace(fam.people[i].id, static_cast<int>(i));
    // Every id the family mentions, so that a dummy's name is new.
    std::unordered_map<std::string, int> mentioned;
    for (const auto& p : fam.people) {
      mentioned.emplace(p.id, 0);
      mentioned.emplace(p.father_id, 0);
      mentioned.emplace(p.mother_id, 0);
    }
    std::unordered_map<std::string, int> added_role;  // id -> 1 father, 2 mother
    std::unordered_map<int, int> dummy_for;           // known parent -> dummy
    int dummies = 0;
    const size_t original = fam.people.size();

    auto add_person = [&](PedPerson q) {
      fam.people.push_back(std::move(q));
      int idx = static_cast<int>(fam.people.size()) - 1;
      index.emplace(fam.people.back().id, idx);
      return idx;
    };

    for (size_t i = 0; i < original; ++i) {
      // Copies: add_person may move the vector.
      const std::string self = fam.people[i].id;
      const std::string fid = fam.people[i].father_id;
      const std::string mid = fam.people[i].mother_id;
      const int line = fam.people[i].line;
      const bool fk = fid != "0";
      const bool mk = mid != "0";
      if (!fk && !mk) continue;
      if (fk && mk && fid == mid) {
        problem(line, fam.id, self, "the same person " + fid + " is given as father and mother");
        continue;
      }
      bool failed = false;
      auto resolve = [&](const std::string& pid, int role) -> int {
        const char* what = role == 1 ? "father" : "mother";
        auto it = index.find(pid);
        if (it != index.end()) {
          auto ar = added_role.find(pid);
          if (ar != added_role.end() && ar->second != role) {
            problem(line, fam.id, self,
                    std::string(what) + " " + pid +
                        " has no line of their own and is also given as " +
                        (role == 1 ? "mother" : "father") + " of another individual");
            failed = true;
            return -1;
          }
          return it->second;
        }
        auto other = anywhere.find(pid);
        if (other != anywhere.end()) {
          problem(line, fam.id, self,
                  std::string(what) + " " + pid + " is not in family " + fam.id +
                      " (an individual " + pid + " is in family " + other->second.first +
                      ", line " + std::to_string(other->second.second) + ")");
          failed = true;
          return -1;
        }
        if (!opt.fix_parents) {
          problem(line, fam.id, self,
                  std::string(what) + " " + pid + " is not in the family (no line of their own)");
          failed = true;
          return -1;
        }
        PedPerson q;
        q.id = pid;
        q.sex = role;
        q.line = line;
        q.added = true;
        added_role.emplace(pid, role);
        note(fam.id, "family " + fam.id + ": added " + what + " " + pid +
                         " (no line of their own; first needed on line " +
                         std::to_string(line) + ") as an unmeasured founder");
        return add_person(std::move(q));
      };
      int fa = fk ? resolve(fid, 1) : -1;
      int mo = mk ? resolve(mid, 2) : -1;
      if (failed) continue;
      if (fk != mk) {
        if (!opt.fix_parents) {
          problem(line, fam.id, self,
                  fk ? "only the father is known (mother is 0): give both parents or neither"
                     : "only the mother is known (father is 0): give both parents or neither");
          continue;
        }
        int known = fk ? fa : mo;
        auto d = dummy_for.find(known);
        int dummy;
        if (d != dummy_for.end()) {
          dummy = d->second;
        } else {
          std::string name;
          do {
            name = "dummy_" + std::to_string(++dummies);
          } while (mentioned.count(name));
          PedPerson q;
          q.id = name;
          q.sex = fk ? 2 : 1;
          q.line = line;
          q.added = true;
          dummy = add_person(std::move(q));
          dummy_for.emplace(known, dummy);
          note(fam.id, "family " + fam.id + ": added dummy " + (fk ? "mother " : "father ") +
                           name + " as the unknown second parent of the children of " +
                           fam.people[known].id + " (first needed on line " +
                           std::to_string(line) + ")");
        }
        if (fk) mo = dummy;
        else fa = dummy;
      }
      fam.people[i].father = fa;
      fam.people[i].mother = mo;
    }
  }
}

}  // namespace pedseg::tools
