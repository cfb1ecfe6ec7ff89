// Dictionaries: iteration order, entry ownership and the consistency of the
// lookup index through erase, clear, direct deletion and re-insertion, on
// both sides of the size at which the index appears.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/MoxDictionary.h"
#include "core/MoxString.h"

namespace {

std::vector<std::u16string> keys(const MoxDictionary& d) {
  std::vector<std::u16string> out;
  for (MoxDictionaryEntry* e = d.getFirst(); e; e = e->getNext())
    out.push_back(e->getKey()->c_str());
  return out;
}

std::u16string key(int i) {
  MoxString s = MoxString::format(u"k%06d", i);
  return s.c_str();
}

// Walks the list and checks that it agrees with count(), with each entry's
// dictionary field, with find() and, for a sorted dictionary, with order.
void expectConsistent(const MoxDictionary& d) {
  unsigned int n = 0;
  MoxDictionaryEntry* prev = nullptr;
  for (MoxDictionaryEntry* e = d.getFirst(); e; e = e->getNext()) {
    ++n;
    EXPECT_EQ(e->getDictionary(), &d);
    EXPECT_EQ(d.find(*e->getKey()), e);
    if (prev && d.isSorted()) {
      EXPECT_LT(prev->getKey()->compare(*e->getKey()), 0);
    }
    prev = e;
  }
  EXPECT_EQ(n, d.count());
}

}  // namespace

TEST(Dictionary, OrderUnsortedAndSorted) {
  MoxDictionary u(false), s(true);
  for (const MoxChar* k : {u"b", u"a", u"c"}) {
    u[MoxString(k)];
    s[MoxString(k)];
  }
  EXPECT_EQ(keys(u), (std::vector<std::u16string>{u"b", u"a", u"c"}));
  EXPECT_EQ(keys(s), (std::vector<std::u16string>{u"a", u"b", u"c"}));
  EXPECT_EQ(s.find(MoxString(u"0")), nullptr);
  EXPECT_EQ(s.find(MoxString(u"bb")), nullptr);
}

TEST(Dictionary, LookupAndCreate) {
  MoxDictionary d;
  MoxDictionaryEntry& a = d[MoxString(u"a")];
  EXPECT_EQ(a.getSymbolType(), SYM_UNDEFINED);
  EXPECT_EQ(a.getValue().type(), MVT_NULL);
  EXPECT_EQ(&d[MoxString(u"a")], &a);
  EXPECT_EQ(d.count(), 1u);
  EXPECT_EQ(d[static_cast<MoxString*>(nullptr)], nullptr);
  EXPECT_EQ(d.count(), 1u);

  MoxString* k = new MoxString(u"own");
  MoxValue keep(k, false);
  MoxDictionaryEntry* e = d[k];
  EXPECT_EQ(e->getKey(), k);  // the key object itself
  EXPECT_EQ(k->getRefCnt(), 2);
  MoxString copyKey(u"copied");
  EXPECT_NE(d[copyKey].getKey(), &copyKey);
  d.clear();
  EXPECT_EQ(k->getRefCnt(), 1);
  EXPECT_EQ(d.count(), 0u);
  EXPECT_EQ(d.getFirst(), nullptr);
}

TEST(Dictionary, EntryAssignmentKeepsKeyOfLinkedEntry) {
  MoxDictionary d;
  MoxDictionaryEntry& in = d[MoxString(u"in")];
  MoxDictionaryEntry free(new MoxString(u"free"), MoxValue(int32_t(7)), SYM_VARIABLE);
  in = free;
  EXPECT_EQ(MoxString(u"in").compare(*in.getKey()), 0);
  EXPECT_EQ(in.getValue().asInt(), 7);
  EXPECT_EQ(in.getSymbolType(), SYM_VARIABLE);
  MoxDictionaryEntry other(nullptr, MoxValue(), SYM_UNDEFINED);
  other = in;
  EXPECT_EQ(other.getKey(), in.getKey());
  EXPECT_EQ(other.getDictionary(), nullptr);
  MoxDictionaryEntry copy(in);
  EXPECT_EQ(copy.getDictionary(), nullptr);
  EXPECT_EQ(copy.getNext(), nullptr);
  EXPECT_EQ(d.find(MoxString(u"in")), &in);
}

TEST(Dictionary, ClearReleasesValues) {
  MoxString* s = new MoxString(u"v");
  s->addRef();
  {
    MoxDictionary d(true);
    d[MoxString(u"x")].setValue(MoxValue(s, false));
    EXPECT_EQ(s->getRefCnt(), 2);
    d.clear();
    EXPECT_EQ(s->getRefCnt(), 1);
    d[MoxString(u"x")] = MoxValue(s, false);
  }
  EXPECT_EQ(s->release(), 0);
}

class DictionarySizes : public ::testing::TestWithParam<std::tuple<bool, int>> {};

TEST_P(DictionarySizes, EraseClearAndReinsertStayConsistent) {
  bool sorted = std::get<0>(GetParam());
  int n = std::get<1>(GetParam());
  MoxDictionary d(sorted);
  // Insert in a scrambled order so sorted placement is exercised.
  for (int i = 0; i < n; ++i) d[MoxString(key((i * 7) % n).c_str())].setValue(MoxValue(int32_t(i)));
  EXPECT_EQ(d.count(), unsigned(n));
  expectConsistent(d);
  if (!sorted && n > 0) {
    EXPECT_EQ(keys(d).front(), key(0));
  }

  // Erase the middle by key, the head by entry and the tail by entry.
  if (n >= 5) {
    std::vector<std::u16string> before = keys(d);
    EXPECT_TRUE(d.erase(MoxString(before[2].c_str())));
    EXPECT_FALSE(d.erase(MoxString(before[2].c_str())));
    before.erase(before.begin() + 2);
    EXPECT_EQ(keys(d), before);
    EXPECT_TRUE(d.erase(d.getFirst()));
    MoxDictionaryEntry* tail = d.getFirst();
    while (tail->getNext()) tail = tail->getNext();
    EXPECT_TRUE(d.erase(tail));
    EXPECT_EQ(d.count(), unsigned(n - 3));
    expectConsistent(d);

    // An entry deleted directly unlinks itself and leaves the index.
    MoxDictionaryEntry* second = d.getFirst()->getNext();
    std::u16string secondKey = second->getKey()->c_str();
    delete second;
    EXPECT_EQ(d.find(MoxString(secondKey.c_str())), nullptr);
    EXPECT_EQ(d.count(), unsigned(n - 4));
    expectConsistent(d);

    // Re-inserting erased keys gives fresh entries at the right places.
    d[MoxString(secondKey.c_str())];
    d[MoxString(before[2].c_str())];
    expectConsistent(d);
    if (!sorted) {
      EXPECT_EQ(keys(d).back(), before[2]);
    }
  }

  MoxDictionary other;
  MoxDictionaryEntry& foreign = other[MoxString(u"k000000")];
  EXPECT_FALSE(d.erase(&foreign));
  EXPECT_FALSE(d.erase(nullptr));

  d.clear();
  EXPECT_EQ(d.count(), 0u);
  EXPECT_EQ(d.find(MoxString(key(1).c_str())), nullptr);
  for (int i = n - 1; i >= 0; --i) d[MoxString(key(i).c_str())];
  EXPECT_EQ(d.count(), unsigned(n));
  expectConsistent(d);
  if (sorted && n > 0) {
    EXPECT_EQ(keys(d).front(), key(0));
  }
}

INSTANTIATE_TEST_SUITE_P(BothKindsAroundTheIndexSize, DictionarySizes,
                         ::testing::Combine(::testing::Bool(),
                                            ::testing::Values(0, 1, 5, 8, 9, 10, 40, 2000)));

TEST(Dictionary, EditedKeyStringDoesNotCorruptTheIndex) {
  MoxDictionary d(true);
  std::vector<MoxString*> ks;
  for (int i = 0; i < 20; ++i) {
    MoxString* k = new MoxString(key(i).c_str());
    d[k];
  }
  // A key object edited in place (a script string used as a key and then
  // changed) must not make later operations touch freed memory.
  MoxString* edited = d.find(MoxString(key(5).c_str()))->getKey();
  *edited += u"-changed";
  d[MoxString(key(5).c_str())];
  EXPECT_TRUE(d.erase(MoxString(key(6).c_str())));
  d.clear();
  EXPECT_EQ(d.count(), 0u);
}

TEST(Dictionary, ManyKeysAreFoundQuickly) {
  MoxDictionary u(false), s(true);
  const int n = 50000;
  for (int i = 0; i < n; ++i) {
    MoxString k(key(i).c_str());
    u[k].setValue(MoxValue(int32_t(i)));
    s[k].setValue(MoxValue(int32_t(i)));
  }
  for (int i = 0; i < n; i += 7) {
    MoxString k(key(i).c_str());
    ASSERT_NE(u.find(k), nullptr);
    EXPECT_EQ(u.find(k)->getValue().asInt(), i);
    EXPECT_EQ(s.find(k)->getValue().asInt(), i);
  }
  for (int i = 0; i < n; i += 2) {
    MoxString k(key(i).c_str());
    EXPECT_TRUE(u.erase(k));
    EXPECT_TRUE(s.erase(k));
  }
  EXPECT_EQ(u.count(), unsigned(n / 2));
  EXPECT_EQ(keys(u).front(), key(1));
  EXPECT_EQ(keys(s).back(), key(n - 1));
}

TEST(Dictionary, KeysEditedInPlaceKeepOrderAndIndexSound) {
  for (bool sorted : {false, true}) {
    MoxDictionary d(sorted);
    for (int i = 0; i < 40; ++i) d[MoxString(key(i).c_str())].setValue(MoxValue(int32_t(i)));
    // Copied keys belong to the dictionary, but a script that gets one back
    // can still edit it: past its length, to nothing, to another key.
    MoxDictionaryEntry* grown = d.find(MoxString(key(3).c_str()));
    *grown->getKey() += u"-and-a-longer-tail";
    MoxDictionaryEntry* emptied = d.find(MoxString(key(4).c_str()));
    emptied->getKey()->clear();
    MoxDictionaryEntry* renamed = d.find(MoxString(key(5).c_str()));
    *renamed->getKey() = MoxString(key(6).c_str());
    MoxDictionaryEntry& again = d[MoxString(key(3).c_str())];
    EXPECT_NE(&again, grown);
    again.setValue(MoxValue(int32_t(-3)));
    EXPECT_TRUE(d.erase(grown));
    EXPECT_TRUE(d.erase(emptied));
    EXPECT_TRUE(d.erase(renamed));
    EXPECT_EQ(d.find(MoxString(key(3).c_str())), &again);
    EXPECT_EQ(d.find(MoxString(key(6).c_str()))->getValue().asInt(), 6);
    // New keys next to the re-made one still land in order.
    d[MoxString((key(3) + u"0").c_str())];
    d[MoxString(key(5).c_str())];
    d[MoxString(key(4).c_str())];
    expectConsistent(d);
    EXPECT_EQ(d.count(), 41u);
  }
}
