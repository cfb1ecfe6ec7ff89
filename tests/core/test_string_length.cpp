// Strings: the stored length after every kind of edit, writes through an
// index, texts handed to native code, and search against a naive search.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "core/MoxString.h"
#include "core/MoxVector.h"

namespace {

// The stored length must always be the count up to the terminator.
void expectMeasured(const MoxString& s, const std::u16string& want) {
  EXPECT_EQ(std::u16string(s.c_str()), want);
  EXPECT_EQ(s.length(), want.size());
}

int32_t naiveFind(const std::u16string& hay, const std::u16string& needle, size_t pos) {
  if (hay.empty() || pos >= hay.size()) return -1;
  if (needle.empty()) return int32_t(pos);
  for (size_t i = pos; i + needle.size() <= hay.size(); ++i)
    if (hay.compare(i, needle.size(), needle) == 0) return int32_t(i);
  return -1;
}

}  // namespace

TEST(StringLength, EveryEditKeepsTheLength) {
  MoxString s(u"abc");
  s += u"def";
  expectMeasured(s, u"abcdef");
  s += MoxChar(u'g');
  s += MoxChar(0);  // ignored
  expectMeasured(s, u"abcdefg");
  s += s;  // appends its own text, also once the block has room to spare
  expectMeasured(s, u"abcdefgabcdefg");
  s += s;
  expectMeasured(s, u"abcdefgabcdefgabcdefgabcdefg");
  s.erase(3, 18);
  expectMeasured(s, u"abcabcdefg");
  s.insert(1, MoxString(u"XY"));
  expectMeasured(s, u"aXYbcabcdefg");
  s.insert(0, s);
  expectMeasured(s, u"aXYbcabcdefgaXYbcabcdefg");
  s.insert(24, u'z', 3);
  expectMeasured(s, u"aXYbcabcdefgaXYbcabcdefgzzz");
  s.replace(MoxString(u"XY"), MoxString(u"-"));
  expectMeasured(s, u"a-bcabcdefga-bcabcdefgzzz");
  s.replace(u'z', u'q');
  expectMeasured(s, u"a-bcabcdefga-bcabcdefgqqq");
  s.replace(u'-', MoxChar(0));  // the first zero ends the text
  expectMeasured(s, u"a");
  s.erase(0, -1);
  expectMeasured(s, u"");
  s.insert(0, u'x', 2);
  expectMeasured(s, u"xx");
  s = MoxString(u"moved");
  expectMeasured(s, u"moved");
  MoxString t(std::move(s));
  expectMeasured(t, u"moved");
  expectMeasured(s, u"");
  expectMeasured(t.substr(1, 3), u"ove");
  expectMeasured(t + MoxString(u"!"), u"moved!");
  expectMeasured(MoxString(u"ab", 2, u"cd", 2), u"abcd");
  expectMeasured(MoxString(u"ab", 2, u"", 0), u"ab");
  t.clear();
  expectMeasured(t, u"");
}

TEST(StringLength, RepeatedAppendsKeepTextAndLength) {
  MoxString s;
  std::u16string want;
  for (int i = 0; i < 5000; ++i) {
    MoxChar ch = MoxChar(u'a' + i % 26);
    s += ch;
    want.push_back(ch);
  }
  expectMeasured(s, want);
  MoxString copy(s);  // a copy is exactly sized and independent
  copy += u"!";
  expectMeasured(s, want);
  expectMeasured(copy, want + u"!");
}

TEST(StringLength, WritesThroughTheIndex) {
  MoxString s(u"hello");
  s[1] = u'a';
  expectMeasured(s, u"hallo");
  MoxChar read = s[4];
  EXPECT_EQ(read, u'o');
  s[5] = u'x';  // at the terminator: ignored
  s[99] = u'x';
  expectMeasured(s, u"hallo");
  s[2] = s[1];
  expectMeasured(s, u"haalo");
  s[3] = 0;  // a zero ends the text
  expectMeasured(s, u"haa");
  s += u"p";
  expectMeasured(s, u"haap");
  s[0] = 0;
  expectMeasured(s, u"");
}

TEST(StringLength, TextHandedToNativeCodeIsMeasured) {
  MoxString s(u"native");
  MoxChar* p = s.exposeText();
  ASSERT_NE(p, nullptr);
  p[3] = 0;  // written behind the string's back
  expectMeasured(s, u"nat");
  p[3] = u'i';
  expectMeasured(s, u"native");
  s += u"!";
  p = s.exposeText();
  p[0] = u'N';
  expectMeasured(s, u"Native!");
  MoxString copy(s);  // the copy is an ordinary string again
  expectMeasured(copy, u"Native!");
  EXPECT_EQ(MoxString().exposeText(), nullptr);
}

TEST(StringLength, OneBlockStringsEditMoveAndDieLikeOthers) {
  // Edits inside the text the string was made with, then past it.
  MoxValue owner(MoxString::create(u"key", 3, u"123", 3));
  MoxString& s = *static_cast<MoxString*>(owner);
  expectMeasured(s, u"key123");
  s.erase(0, 3);
  s += u"45";
  expectMeasured(s, u"12345");
  s += s;
  expectMeasured(s, u"1234512345");
  s.erase(0, -1);
  s.insert(0, u'x', 2);
  expectMeasured(s, u"xx");
  MoxString* assigned = MoxString::create(u"abc", 3);
  *assigned = s;
  expectMeasured(*assigned, u"xx");
  assigned->release();

  // Moving out of one copies the text, which stays part of its block.
  MoxString* from = MoxString::create(u"moved", 5);
  MoxString taken(std::move(*from));
  expectMeasured(taken, u"moved");
  expectMeasured(*from, u"");
  *from += u"again";
  expectMeasured(*from, u"again");
  MoxString* other = MoxString::create(u"other", 5);
  taken = std::move(*other);
  expectMeasured(taken, u"other");
  expectMeasured(*other, u"");
  *other = std::move(taken);
  expectMeasured(*other, u"other");
  delete from;
  delete other;

  MoxString* native = MoxString::create(u"native", 6);
  native->exposeText()[3] = 0;
  expectMeasured(*native, u"nat");
  native->clear();
  expectMeasured(*native, u"");
  delete native;
  MoxString* empty = MoxString::create(nullptr, 0);
  expectMeasured(*empty, u"");
  delete empty;

  // A dead one's block goes with its last uncounted holder.
  MoxValue counted(MoxString::create(u"dead", 4));
  MoxValue uncounted(static_cast<MoxString*>(counted), true);
  counted.dispose();
  EXPECT_TRUE(uncounted.isDeadRef());
  uncounted.dispose();
}

TEST(StringLength, SearchAgreesWithNaiveSearch) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 3000; ++round) {
    // Small alphabets give many repeated prefixes and partial matches.
    const int alphabet = 1 + int(rng() % 3);
    std::u16string hay, needle;
    for (size_t n = rng() % 60; n > 0; --n) hay.push_back(MoxChar(u'a' + rng() % alphabet));
    for (size_t n = rng() % 14; n > 0; --n) needle.push_back(MoxChar(u'a' + rng() % alphabet));
    const size_t pos = rng() % (hay.size() + 2);
    MoxString h(hay.c_str()), nd(needle.c_str());
    ASSERT_EQ(h.find(nd, unsigned(pos)), naiveFind(hay, needle, pos)) << round;

    // replace must agree with a left-to-right naive replacement.
    if (needle.empty()) continue;
    std::u16string want;
    for (size_t i = 0; i < hay.size();) {
      if (hay.compare(i, needle.size(), needle) == 0 && i + needle.size() <= hay.size()) {
        want += u"<>";
        i += needle.size();
      } else {
        want.push_back(hay[i++]);
      }
    }
    h.replace(nd, MoxString(u"<>"));
    expectMeasured(h, want);
  }
}

TEST(StringLength, LongNeedleWithRepeatedPrefixes) {
  std::u16string hay(20000, u'a');
  std::u16string needle(3000, u'a');
  needle.push_back(u'b');
  MoxString h(hay.c_str()), n(needle.c_str());
  EXPECT_EQ(h.find(n, 0), -1);
  hay += u"b";
  MoxString h2(hay.c_str());
  EXPECT_EQ(h2.find(n, 5), int32_t(hay.size() - needle.size()));
}
