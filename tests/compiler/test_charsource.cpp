// Character sources: UTF-8 decoding of streams and the end marker.
#include <cstdio>
#include <string>

#include "CompilerTestUtil.h"
#include "compiler/MoxCharSource.h"

namespace {

std::u16string drain(MoxCharSource& source) {
  std::u16string out;
  for (MoxChar c = source.next(); c != MOX_EOF_CHAR; c = source.next()) out += c;
  // The end stays the end.
  EXPECT_EQ(source.next(), MOX_EOF_CHAR);
  return out;
}

std::u16string decode(const std::string& bytes) {
  FILE* f = tmpfile();
  fwrite(bytes.data(), 1, bytes.size(), f);
  rewind(f);
  MoxStreamSource source(f, true);
  return drain(source);
}

}  // namespace

TEST(CharSource, StreamDecodesUtf8AndKeepsStrayBytes) {
  EXPECT_EQ(decode("a\xC3\xA9z"), u"a\u00E9z");
  // Beyond U+FFFF: a surrogate pair, high unit first.
  EXPECT_EQ(decode("\xF0\x9F\x98\x80"), std::u16string({0xD83D, 0xDE00}));
  // A cut sequence gives its lead byte alone; the following bytes are
  // decoded anew, so the ASCII character after it is not swallowed.
  EXPECT_EQ(decode("\xE2\x82x"), std::u16string({0xE2, 0x82, 'x'}));
  // Overlong forms and encoded surrogates are not decoded.
  EXPECT_EQ(decode("\xC0\xAF"), std::u16string({0xC0, 0xAF}));
  EXPECT_EQ(decode("\xED\xA0\x80"), std::u16string({0xED, 0xA0, 0x80}));
  // A real U+FFFF would read as the end marker.
  EXPECT_EQ(decode("\xEF\xBF\xBFq"), u"\uFFFDq");
}

TEST(CharSource, TextCopiesAndEndsAtZero) {
  std::u16string text = u"ab\uFFFF";
  MoxTextSource source(text.c_str());
  text[0] = 'x';  // the source keeps its own copy
  EXPECT_EQ(drain(source), u"ab\uFFFD");
  MoxTextSource none(nullptr);
  EXPECT_EQ(none.next(), MOX_EOF_CHAR);
}
