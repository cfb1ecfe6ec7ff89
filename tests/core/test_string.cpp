// Strings: editing, search, narrow conversion and both formatting paths.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/MoxBuffer.h"
#include "core/MoxString.h"
#include "core/MoxVector.h"

namespace {

std::u16string text(const MoxString& s) { return std::u16string(s.c_str()); }

// Formats with the script-value constructor over the given values.
std::u16string fmt(const MoxChar* format, MoxVector& args, unsigned int argc) {
  ValPtr p(&args, 0);
  return text(MoxString(format, argc, p));
}
std::u16string fmt(const MoxChar* format, MoxVector& args) {
  return fmt(format, args, args.size());
}

}  // namespace

TEST(String, ConstructionAndEmptyStates) {
  MoxString empty;
  EXPECT_NE(empty.c_str(), nullptr);
  EXPECT_EQ(empty.length(), 0u);
  EXPECT_EQ(MoxString(static_cast<const MoxChar*>(nullptr)).length(), 0u);
  EXPECT_EQ(MoxString(static_cast<const char*>(nullptr)).length(), 0u);
  EXPECT_STREQ(empty.a_str(), "");
  MoxString s(u"abc");
  s.clear();
  EXPECT_EQ(text(s), u"");
  s += u"x";
  EXPECT_EQ(text(s), u"x");
  MoxString copy(empty);
  EXPECT_EQ(copy.length(), 0u);
  EXPECT_EQ(MoxString(u"abcdef", 3u).length(), 3u);
}

TEST(String, AppendAndAssignIncludingAliases) {
  MoxString s(u"ab");
  s += s;
  EXPECT_EQ(text(s), u"abab");
  s = s;
  EXPECT_EQ(text(s), u"abab");
  s += static_cast<const MoxChar*>(nullptr);
  s += MoxChar(u'!');
  s += MoxChar(0);  // a zero unit cannot be part of the text
  EXPECT_EQ(text(s), u"abab!");
  EXPECT_EQ(s.length(), 5u);
  EXPECT_EQ(text(MoxString(u"x") + MoxString(u"y")), u"xy");
  MoxString e;
  e += MoxChar(u'q');
  EXPECT_EQ(text(e), u"q");
}

TEST(String, Utf8RoundTripAndIllFormedInput) {
  MoxString s("h\xC3\xA9llo \xF0\x9F\x98\x80");
  EXPECT_EQ(s.length(), 8u);  // é is one unit, the emoji a surrogate pair
  EXPECT_EQ(s[1], MoxChar(0xE9));
  EXPECT_STREQ(s.a_str(), "h\xC3\xA9llo \xF0\x9F\x98\x80");
  MoxString bad("\xFF\xC3");
  EXPECT_EQ(bad.length(), 2u);
  EXPECT_EQ(bad[0], MoxChar(0xFF));
  // Three bytes per unit: the shared buffer must hold them all.
  MoxString wide;
  for (int i = 0; i < 1000; ++i) wide += MoxChar(0x20AC);
  const char* narrow = wide.a_str();
  EXPECT_EQ(strlen(narrow), 3000u);
  MoxString back(narrow);
  EXPECT_EQ(back.compare(wide), 0);
}

TEST(String, CompareAndFind) {
  EXPECT_LT(MoxString(u"a").compare(MoxString(u"b")), 0);
  EXPECT_GT(MoxString(u"ab").compare(MoxString(u"a")), 0);
  EXPECT_EQ(MoxString().compare(MoxString(u"")), 0);
  EXPECT_LT(MoxString(u"z").compare(MoxString(u"\u00e9")), 0);  // code-unit order
  EXPECT_EQ(MoxString(u"HeLLo").icompare(MoxString(u"hello")), 0);
  EXPECT_TRUE(MoxString(u"a") < MoxString(u"b"));

  MoxString abc(u"abc");
  EXPECT_EQ(abc.find(MoxString(), 0), 0);
  EXPECT_EQ(abc.find(MoxString(u"c"), 3), -1);
  EXPECT_EQ(abc.find(MoxString(u"bc"), 1), 1);
  EXPECT_EQ(abc.find(MoxString(u"abcd"), 0), -1);
  EXPECT_EQ(abc.find(u'c', 0), 2);
  EXPECT_EQ(abc.find(u'a', 1), -1);
  EXPECT_EQ(MoxString().find(MoxString(), 0), -1);
  EXPECT_EQ(MoxString().find(u'a', 0), -1);
}

TEST(String, SubstrAndEraseClamp) {
  MoxString s(u"abcdef");
  EXPECT_EQ(text(s.substr(2, -1)), u"cdef");
  EXPECT_EQ(text(s.substr(6, 1)), u"");
  EXPECT_EQ(text(s.substr(1, 0)), u"");
  EXPECT_EQ(text(s.substr(4, 100)), u"ef");
  MoxString a(u"abc");
  a.erase(1, 100);
  EXPECT_EQ(text(a), u"a");
  a.erase(5, 1);
  a.erase(0, 0);
  EXPECT_EQ(text(a), u"a");
  MoxString b(u"abc");
  b.erase(0, -1);
  EXPECT_EQ(b.length(), 0u);
  EXPECT_EQ(text(b), u"");
  MoxString c(u"abcde");
  c.erase(1, 2);
  EXPECT_EQ(text(c), u"ade");
}

TEST(String, Insert) {
  MoxString s(u"abc");
  s.insert(3, MoxString(u"xy"));
  EXPECT_EQ(text(s), u"abcxy");
  MoxString t(u"abc");
  t.insert(4, MoxString(u"xy"));
  EXPECT_EQ(text(t), u"abc");
  t.insert(1, u'x', 2);
  EXPECT_EQ(text(t), u"axxbc");
  MoxString u(u"abc");
  u.insert(3, u'x', 2);
  EXPECT_EQ(text(u), u"abcxx");
  u.insert(0, u'x', 0);
  u.insert(9, u'x', 1);
  EXPECT_EQ(text(u), u"abcxx");
  MoxString self(u"ab");
  self.insert(1, self);
  EXPECT_EQ(text(self), u"aabb");
  MoxString e;
  e.insert(0, MoxString(u"z"));
  EXPECT_EQ(text(e), u"z");
}

TEST(String, ReplaceNeverRescans) {
  MoxString s(u"aXa");
  s.replace(MoxString(u"a"), MoxString(u"aa"));
  EXPECT_EQ(text(s), u"aaXaa");
  MoxString t(u"aaa");
  t.replace(MoxString(u"a"), MoxString());
  EXPECT_EQ(t.length(), 0u);
  MoxString u(u"abab");
  u.replace(MoxString(), MoxString(u"x"));
  EXPECT_EQ(text(u), u"abab");
  u.replace(MoxString(u"ab"), MoxString(u"b"));
  EXPECT_EQ(text(u), u"bb");
  MoxString v(u"aabaa");
  v.replace(MoxString(u"aa"), MoxString(u"a"));
  EXPECT_EQ(text(v), u"aba");
  v.replace(u'a', u'z');
  EXPECT_EQ(text(v), u"zbz");
}

TEST(String, VarargsFormat) {
  EXPECT_EQ(text(MoxString::format(u"%d-%s", 12, u"ab")), u"12-ab");
  EXPECT_EQ(MoxString::format(nullptr).length(), 0u);
  EXPECT_EQ(text(MoxString::format(u"%5.1f|", 2.26)), u"  2.3|");
}

TEST(String, FormattingConstructorPieces) {
  MoxVector one;
  one.push_back(MoxValue(int32_t(5)));
  EXPECT_EQ(fmt(u"x=%d y=%d", one), u"x=5 y=");
  EXPECT_EQ(fmt(u"abc", one), u"abc");
  EXPECT_EQ(fmt(u"%5", one), u"5");
  EXPECT_EQ(fmt(u"%q", one), u"q");
  EXPECT_EQ(fmt(u"abc", one, 0), u"");
  EXPECT_EQ(fmt(u"%%d!", one), u"5!");  // a run of '%' is one separator
  EXPECT_EQ(fmt(u"%+-d", one), u"+-d");  // two flags make the piece literal
  EXPECT_EQ(fmt(u"%*d", one), u"*d");
  EXPECT_EQ(fmt(u"%", one), u"");
  EXPECT_EQ(fmt(u"a%", one), u"a");
  EXPECT_EQ(fmt(u"", one), u"");
  EXPECT_EQ(fmt(nullptr, one), u"");
  // Literal pieces do not use arguments; the conversion after them does.
  EXPECT_EQ(fmt(u"%q %d.", one), u"q 5.");

  MoxVector d;
  d.push_back(MoxValue(3.14159));
  EXPECT_EQ(fmt(u"%5.2f!", d), u" 3.14!");
  MoxVector f;
  f.push_back(MoxValue(1.5f));
  EXPECT_EQ(fmt(u"%.1f", f), u"1.5");
  MoxVector big;
  big.push_back(MoxValue(int32_t(-7)));
  EXPECT_EQ(fmt(u"[%I64d] [%lld]", big), u"[-7] [");
  EXPECT_EQ(fmt(u"%ld%Nd", big), u"-7");
}

TEST(String, FormattingConstructorKindsNeverBecomeAddresses) {
  MoxVector args;
  args.push_back(MoxValue(new MoxString(u"hi"), false));
  args.push_back(MoxValue(int32_t(42)));
  args.push_back(MoxValue());
  args.push_back(MoxValue(new MoxString(u"ref"), false));
  EXPECT_EQ(fmt(u"%s %s %s %d", args), u"hi 42 0 ref");
  MoxString* s = args[3];
  MoxVector refArg;
  refArg.push_back(MoxValue(s, true));
  EXPECT_EQ(fmt(u"<%5s>", refArg), u"<  ref>");
  MoxVector nullStr;
  nullStr.push_back(MoxValue(static_cast<MoxString*>(nullptr), false));
  EXPECT_EQ(fmt(u"[%s]", nullStr), u"[]");

  // A full character buffer has no terminator; only its units are read.
  MoxCharBuffer* cb = new MoxCharBuffer(3);
  cb->push_back(u'a');
  cb->push_back(u'b');
  cb->push_back(u'c');
  MoxVector cbArg;
  cbArg.push_back(MoxValue(cb, false));
  EXPECT_EQ(fmt(u"%s.", cbArg), u"abc.");

  // Arguments are read only inside the caller's vector.
  MoxVector few;
  few.push_back(MoxValue(int32_t(1)));
  ValPtr p(&few, 0);
  EXPECT_EQ(text(MoxString(u"%d %d %d", 3, p)), u"1 0 0");
}
