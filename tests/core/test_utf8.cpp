// UTF-8 conversion: well-formed text, the byte fallback, surrogates and
// round trips.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "core/MoxUtf8.h"

namespace {

std::u16string dec(const std::string& s) {
  std::u16string out;
  moxUtf8Decode(s.data(), s.size(), out);
  return out;
}

std::string enc(const std::u16string& s) {
  std::string out;
  moxUtf8Encode(s.data(), s.size(), out);
  EXPECT_EQ(out.size(), moxUtf8EncodedLength(s.data(), s.size()));
  return out;
}

}  // namespace

TEST(Utf8, DecodesWellFormedText) {
  EXPECT_EQ(dec("abc"), u"abc");
  EXPECT_EQ(dec(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
  EXPECT_EQ(dec("\xc3\xa9\xe2\x82\xac"), u"\u00e9\u20ac");
  EXPECT_EQ(dec("\xf0\x9f\x98\x80"), u"\U0001F600");
  EXPECT_EQ(dec("\xf4\x8f\xbf\xbf"), u"\U0010FFFF");
  std::u16string out = u">";
  moxUtf8Decode("x", 1, out);  // appends
  EXPECT_EQ(out, u">x");
  moxUtf8Decode(nullptr, 5, out);
  EXPECT_EQ(out, u">x");
}

TEST(Utf8, IllFormedBytesBecomeUnitsOfTheSameValue) {
  EXPECT_EQ(dec("\x80"), u"\u0080");
  EXPECT_EQ(dec("a\xffz"), u"a\u00ffz");
  EXPECT_EQ(dec("\xe2\x82"), u"\u00e2\u0082");          // cut off
  EXPECT_EQ(dec("\xe2\x82z"), u"\u00e2\u0082z");        // interrupted
  EXPECT_EQ(dec("\xc0\xaf"), u"\u00c0\u00af");          // overlong
  EXPECT_EQ(dec("\xe0\x80\xaf"), u"\u00e0\u0080\u00af"); // overlong
  EXPECT_EQ(dec("\xf0\x80\x80\xaf"), u"\u00f0\u0080\u0080\u00af");
  EXPECT_EQ(dec("\xf4\x90\x80\x80"), u"\u00f4\u0090\u0080\u0080");  // beyond U+10FFFF
  EXPECT_EQ(dec("\xf8\x88\x80\x80\x80"), u"\u00f8\u0088\u0080\u0080\u0080");
  // A sequence cut off by the given length never reads further.
  const char buf[] = "\xf0\x9f\x98\x80";
  std::u16string out;
  moxUtf8Decode(buf, 2, out);
  EXPECT_EQ(out, u"\u00f0\u009f");
}

TEST(Utf8, SurrogatesUseTheirThreeByteFormWhenUnpaired) {
  EXPECT_EQ(enc(u"\U0001F600"), "\xf0\x9f\x98\x80");
  EXPECT_EQ(enc(std::u16string(1, 0xD800)), "\xed\xa0\x80");
  EXPECT_EQ(enc(std::u16string(1, 0xDFFF)), "\xed\xbf\xbf");
  // Low before high is two unpaired halves, not a pair.
  std::u16string reversed = {0xDC00, 0xD800};
  EXPECT_EQ(enc(reversed), "\xed\xb0\x80\xed\xa0\x80");
  EXPECT_EQ(dec("\xed\xa0\x80"), std::u16string(1, 0xD800));
  std::u16string highThenText = {0xD83D, u'x'};
  EXPECT_EQ(dec(enc(highThenText)), highThenText);
  EXPECT_EQ(moxUtf8EncodedLength(nullptr, 3), 0u);
  EXPECT_EQ(moxStrLen(nullptr), 0u);
  EXPECT_EQ(moxStrLen(u"\U0001F600ab"), 4u);
}

TEST(Utf8, EveryUtf16TextSurvivesARoundTrip) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 2000; ++round) {
    std::u16string s(rng() % 24, u' ');
    for (MoxChar& c : s) {
      uint32_t pick = rng() % 4;
      // Bias towards surrogates and boundaries, where faults hide.
      c = pick == 0 ? static_cast<MoxChar>(0xD800 + rng() % 0x800)
          : pick == 1 ? static_cast<MoxChar>(rng() % 0x100)
                      : static_cast<MoxChar>(rng());
    }
    ASSERT_EQ(dec(enc(s)), s);
  }
}

TEST(Utf8, RandomBytesDecodeToAStableText) {
  std::mt19937 rng(777);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(rng() % 32, '\0');
    for (char& b : bytes) b = static_cast<char>(rng() % 3 == 0 ? 0x80 + rng() % 0x80 : rng());
    std::u16string once = dec(bytes);
    ASSERT_LE(once.size(), bytes.size());
    ASSERT_EQ(dec(enc(once)), once);
  }
}

TEST(Utf8, BoundedDecodeOfTerminatedText) {
  std::u16string out;
  EXPECT_EQ(moxUtf8DecodeZ("h\xc3\xa9llo", 3, out), 3u);
  EXPECT_EQ(out, u"h\u00e9l");
  out.clear();
  // A pair that does not fit whole is left out.
  EXPECT_EQ(moxUtf8DecodeZ("a\xf0\x9f\x98\x80", 2, out), 1u);
  EXPECT_EQ(out, u"a");
  out.clear();
  // A lead byte right before the terminator falls back to its own unit.
  EXPECT_EQ(moxUtf8DecodeZ("\xe2", SIZE_MAX, out), 1u);
  EXPECT_EQ(out, u"\u00e2");
  EXPECT_EQ(moxUtf8DecodeZ(nullptr, 5, out), 0u);
}
