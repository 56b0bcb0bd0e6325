#include "upgrd_util/campaign/wave_order.h"

#include <list>
#include <set>
#include <string>

void keep_pairs_apart(std::vector<upgrade_target*>* cards,
                      std::vector<size_t>* waves) {
  if (waves->size() < 2)
    return;
  std::list<upgrade_target*> left(cards->begin(), cards->end());
  std::vector<upgrade_target*> order;
  std::vector<size_t> sizes;
  for (size_t wave = 0; !left.empty(); ++wave) {
    // The waves as given; past them, one wave of what is left, apart.
    size_t size = wave < waves->size() ? (*waves)[wave] : left.size();
    std::set<std::string> pairs;
    size_t taken = 0;
    for (auto card = left.begin(); card != left.end() && taken < size;) {
      const std::string& pair = (*card)->state.pair;
      if (!pair.empty() && !pairs.insert(pair).second) {
        ++card;
        continue;
      }
      order.push_back(*card);
      card = left.erase(card);
      ++taken;
    }
    sizes.push_back(taken);
  }
  *cards = order;
  *waves = sizes;
}
