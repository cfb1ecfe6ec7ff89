// Inserts 100,000 distinct keys into an unsorted and a sorted dictionary,
// finds every one of them, and prints the time each phase took.
#include <chrono>
#include <cstdio>
#include <vector>

#include "core/MoxDictionary.h"
#include "core/MoxString.h"

namespace {

double msSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

bool run(bool sorted, const std::vector<MoxString>& keys) {
  MoxDictionary dict(sorted);
  auto start = std::chrono::steady_clock::now();
  for (size_t i = 0; i < keys.size(); ++i) dict[keys[i]].setValue(MoxValue(int32_t(i)));
  double insertMs = msSince(start);
  start = std::chrono::steady_clock::now();
  size_t found = 0;
  for (size_t i = 0; i < keys.size(); ++i) {
    MoxDictionaryEntry* e = dict.find(keys[i]);
    if (e && e->getValue().asInt() == int32_t(i)) ++found;
  }
  double findMs = msSince(start);
  printf("%-8s insert %zu keys: %8.1f ms   find all: %8.1f ms   found %zu\n",
         sorted ? "sorted" : "unsorted", keys.size(), insertMs, findMs, found);
  return found == keys.size() && dict.count() == keys.size();
}

}  // namespace

int main() {
  const int n = 100000;
  std::vector<MoxString> keys;
  keys.reserve(n);
  // Scrambled order, so a sorted dictionary inserts all over its range.
  for (int i = 0; i < n; ++i)
    keys.push_back(MoxString::format(u"key_%d", int((uint64_t(i) * 7919u) % 1000003u)));
  bool ok = run(false, keys) && run(true, keys);
  return ok ? 0 : 1;
}
