// Scanner: tokens, literals, comments, lines and error reports.
#include <cstdio>

#include "CompilerTestUtil.h"

namespace {

struct Tok {
  MoxToken token;
  std::string text;  // token text, or the character of TOK_ANY
};

std::vector<Tok> scan(const std::string& src, size_t max = 100) {
  std::u16string s = U(src);
  MoxScanner sc(s.c_str(), u"s.mox");
  std::vector<Tok> out;
  for (size_t i = 0; i < max; ++i) {
    MoxToken t = sc.getToken();
    if (t == TOK_EOF) break;
    std::string text = t == TOK_ANY ? N(sc.getTokenName(t)) : N(sc.getTokenString());
    out.push_back({t, text});
  }
  return out;
}

std::vector<int> kinds(const std::string& src) {
  std::vector<int> k;
  for (const Tok& t : scan(src)) k.push_back(t.token);
  return k;
}

}  // namespace

TEST(Scanner, OperatorsLongestMatch) {
  EXPECT_EQ(kinds("a<<=b"), (std::vector<int>{TOK_IDENT, TOK_SHL_ASSIGN, TOK_IDENT}));
  auto t = scan("a<-b");
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(t[1].text, "<");
  EXPECT_EQ(t[2].text, "-");
  EXPECT_EQ(kinds("x->y"), (std::vector<int>{TOK_IDENT, TOK_ARROW, TOK_IDENT}));
  EXPECT_EQ(kinds("<= == != >= << >> && || ++ -- += -= *= /= %= &= |= ^= ~= <<= >>= => :: ->"),
            (std::vector<int>{20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36,
                              37, 38, 39, 40, 41, 42, 43}));
  EXPECT_EQ(kinds("< > = ! : # ~ ^ % * / & | ( ) { } [ ] ; , . ?").size(), 23u);
  for (const Tok& k : scan("( ) ; ? $")) EXPECT_EQ(k.token, TOK_ANY);
}

TEST(Scanner, KeywordsAndIdentifiers) {
  EXPECT_EQ(kinds("class static if else while return for break continue do new delete nil null"),
            (std::vector<int>{7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 19}));
  EXPECT_EQ(kinds("TRON TROFF TRSTEP"), (std::vector<int>{44, 45, 46}));
  auto t = scan("Null _x1 Tron");
  ASSERT_EQ(t.size(), 3u);
  for (const Tok& k : t) EXPECT_EQ(k.token, TOK_IDENT);
  EXPECT_EQ(t[1].text, "_x1");
  // Identifiers may hold letters beyond ASCII.
  t = scan("größe");
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].text, "größe");
}

TEST(Scanner, Numbers) {
  struct {
    const char* src;
    MoxToken token;
    int32_t l;
    double d;
  } cases[] = {
      {"0x1F", TOK_LONG, 31, 0},      {"017", TOK_LONG, 15, 0},     {"09", TOK_LONG, 0, 0},
      {"10x5", TOK_LONG, 10, 0},      {"1.5e3", TOK_FLOAT, 0, 1500}, {"2.25", TOK_FLOAT, 0, 2.25},
      {"7e-1", TOK_FLOAT, 0, 0.7},    {"0xffffffff", TOK_LONG, 2147483647, 0},
      {"99999999999", TOK_LONG, 2147483647, 0},
  };
  for (auto& c : cases) {
    std::u16string s = U(c.src);
    MoxScanner sc(s.c_str(), u"n");
    EXPECT_EQ(sc.getToken(), c.token) << c.src;
    if (c.token == TOK_LONG) EXPECT_EQ(sc.getLong(), c.l) << c.src;
    else EXPECT_DOUBLE_EQ(sc.getDouble(), c.d) << c.src;
    EXPECT_EQ(sc.getToken(), TOK_EOF) << c.src;
  }
  EXPECT_EQ(kinds("1e+"), (std::vector<int>{TOK_FLOAT}));
  auto t = scan("1.2.3");
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0].token, TOK_FLOAT);
  EXPECT_EQ(t[1].text, ".");
  EXPECT_EQ(t[2].token, TOK_LONG);
  EXPECT_EQ(kinds("-5"), (std::vector<int>{TOK_ANY, TOK_LONG}));
}

TEST(Scanner, StringLiterals) {
  auto t = scan("\"a\\tb\\\"c\" \"\\q\" \"ab\\0cd\" \"\\65\\0x42\\0103\" \"\\a\\b\\f\\n\\r\\v\"");
  ASSERT_EQ(t.size(), 5u);
  EXPECT_EQ(t[0].text, "a\tb\"c");
  EXPECT_EQ(t[1].text, "q");
  EXPECT_EQ(t[2].text, "ab");
  EXPECT_EQ(t[3].text, "ABC");
  EXPECT_EQ(t[4].text, "\a\b\f\n\r\v");
  // Unterminated at the end of the input: accepted.
  t = scan("\"open");
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].token, TOK_STRING);
  EXPECT_EQ(t[0].text, "open\n");  // the line's end belongs to the string
  // UTF-8 contents arrive as UTF-16, including a character beyond U+FFFF.
  std::u16string s = U("\"é😀\"");
  MoxScanner sc(s.c_str(), u"u");
  EXPECT_EQ(sc.getToken(), TOK_STRING);
  EXPECT_EQ(std::u16string(sc.getTokenString()), U("é😀"));
}

TEST(Scanner, CharacterLiterals) {
  std::u16string s = U("'A' '\\65' '\\n' 'AB' '\\1.5'");
  MoxScanner sc(s.c_str(), u"c");
  EXPECT_EQ(sc.getToken(), TOK_LONG);
  EXPECT_EQ(sc.getLong(), 65);
  EXPECT_EQ(sc.getToken(), TOK_LONG);
  EXPECT_EQ(sc.getLong(), 65);
  EXPECT_EQ(sc.getToken(), TOK_LONG);
  EXPECT_EQ(sc.getLong(), 10);
  EXPECT_EQ(sc.getToken(), TOK_ERROR);
  EXPECT_NE(N(sc.getTokenString()).find("closing single quote expected"), std::string::npos);
  sc.getToken();  // the rest of 'AB': the quote starts another literal
  MoxToken t;
  do {
    t = sc.getToken();
  } while (t != TOK_ERROR && t != TOK_EOF);
  EXPECT_EQ(t, TOK_ERROR);
}

TEST(Scanner, NumberEscapeMustBeInteger) {
  std::u16string s = U("'\\1.5'");
  MoxScanner sc(s.c_str(), u"c");
  EXPECT_EQ(sc.getToken(), TOK_ERROR);
  EXPECT_NE(N(sc.getTokenString()).find("number literal expected"), std::string::npos);
}

TEST(Scanner, Comments) {
  EXPECT_EQ(kinds("a // x\nb /* c */ d /*/ e */ f #! g\nh @ i j\nk /* open"),
            (std::vector<int>{TOK_IDENT, TOK_IDENT, TOK_IDENT, TOK_IDENT, TOK_IDENT, TOK_IDENT}));
  auto t = scan("a // x\nb /* c */ d /*/ e */ f #! g\nh @ i j\nk");
  ASSERT_EQ(t.size(), 6u);
  EXPECT_EQ(t[5].text, "k");
  auto inc = scan("#include");
  ASSERT_EQ(inc.size(), 2u);
  EXPECT_EQ(inc[0].text, "#");
  EXPECT_EQ(inc[1].text, "include");
  EXPECT_EQ(kinds("x // last line without line feed").size(), 1u);
}

TEST(Scanner, PushBackOneToken) {
  std::u16string s = u"a b";
  MoxScanner sc(s.c_str(), u"p");
  EXPECT_EQ(sc.getToken(), TOK_IDENT);
  EXPECT_TRUE(sc.back());
  EXPECT_FALSE(sc.back());
  EXPECT_EQ(sc.getToken(), TOK_IDENT);
  EXPECT_EQ(N(sc.getTokenString()), "a");
  EXPECT_EQ(sc.getToken(), TOK_IDENT);
  EXPECT_EQ(N(sc.getTokenString()), "b");
  EXPECT_EQ(sc.getToken(), TOK_EOF);
  EXPECT_EQ(sc.getToken(), TOK_EOF);
}

TEST(Scanner, TokenNames) {
  std::u16string s = u"+";
  MoxScanner sc(s.c_str(), u"n");
  EXPECT_EQ(N(sc.getTokenName(0)), "<notoken>");
  EXPECT_EQ(N(sc.getTokenName(41)), "=>");
  EXPECT_EQ(N(sc.getTokenName(46)), "TRSTEP");
  EXPECT_EQ(N(sc.getTokenName(48)), "invalid token");
  EXPECT_EQ(N(sc.getTokenName(-1)), "invalid token");
  sc.getToken();
  EXPECT_EQ(N(sc.getTokenName(TOK_ANY)), "+");
}

TEST(Scanner, ErrorReportFormat) {
  std::u16string s = u"one\ntwo\nab 'xy+ z\n";
  MoxScanner sc(s.c_str(), u"a.mox");
  MoxToken t;
  do {
    t = sc.getToken();
  } while (t != TOK_ERROR && t != TOK_EOF);
  ASSERT_EQ(t, TOK_ERROR);
  EXPECT_EQ(N(sc.getTokenString()),
            "--> closing single quote expected \nin a.mox line 3 pos 6 \nab 'xy+ z\n\n");
  // Scanning goes on after the offending characters.
  EXPECT_NE(sc.getToken(), TOK_ERROR);
}

TEST(Scanner, ColumnsCountUtf16Units) {
  std::u16string s = U("é😀 'ab'");
  MoxScanner sc(s.c_str(), u"u");
  MoxToken t;
  do {
    t = sc.getToken();
  } while (t != TOK_ERROR && t != TOK_EOF);
  ASSERT_EQ(t, TOK_ERROR);
  // é is one unit, the emoji two, then blank, quote, a, b.
  EXPECT_EQ(sc.getPosition(), 7u);
}

TEST(Scanner, StreamDecodesUtf8WithByteFallback) {
  FILE* f = tmpfile();
  ASSERT_NE(f, nullptr);
  // "é" in UTF-8, then a lone 0xE9 byte (Latin-1 é), then a cut sequence.
  const char bytes[] = "\"\xC3\xA9\xE9\xE2\x82\" x\r\ny";
  fwrite(bytes, 1, sizeof(bytes) - 1, f);
  rewind(f);
  {
    MoxScanner sc(f, u"f");
    EXPECT_EQ(sc.getToken(), TOK_STRING);
    EXPECT_EQ(std::u16string(sc.getTokenString()), (std::u16string{0xE9, 0xE9, 0xE2, 0x82}));
    EXPECT_EQ(sc.getToken(), TOK_IDENT);  // the carriage return is white space
    EXPECT_EQ(sc.getToken(), TOK_IDENT);
    EXPECT_EQ(sc.getLineNumber(), 2);
    EXPECT_EQ(sc.getToken(), TOK_EOF);
  }
  // The caller's stream is still open.
  EXPECT_EQ(fseek(f, 0, SEEK_SET), 0);
  fclose(f);
}

TEST(Scanner, NulEndsTheLine) {
  // The zero ends the line: " b" is skipped, "a" and "c" stay apart.
  FILE* f = tmpfile();
  const char bytes[] = {'a', 0, ' ', 'b', '\n', 'c'};
  fwrite(bytes, 1, sizeof(bytes), f);
  rewind(f);
  MoxScanner sc(f, u"f");
  EXPECT_EQ(sc.getToken(), TOK_IDENT);
  EXPECT_EQ(N(sc.getTokenString()), "a");
  EXPECT_EQ(sc.getToken(), TOK_IDENT);
  EXPECT_EQ(N(sc.getTokenString()), "c");
  EXPECT_EQ(sc.getLineNumber(), 2);
  EXPECT_EQ(sc.getToken(), TOK_EOF);
  fclose(f);
}

TEST(Scanner, NestedScannersReadFirst) {
  std::u16string outer = u"a b";
  MoxScanner sc(outer.c_str(), u"outer");
  EXPECT_EQ(sc.getToken(), TOK_IDENT);
  sc.push(u"x\ny", u"inner");
  EXPECT_EQ(sc.depth(), 2u);
  EXPECT_EQ(sc.getToken(), TOK_IDENT);
  EXPECT_EQ(N(sc.getTokenString()), "x");
  EXPECT_EQ(N(sc.getName()), "inner");
  EXPECT_EQ(sc.getToken(), TOK_IDENT);
  EXPECT_EQ(sc.getLineNumber(), 2);
  EXPECT_EQ(sc.getToken(), TOK_IDENT);
  EXPECT_EQ(N(sc.getTokenString()), "b");
  EXPECT_EQ(N(sc.getName()), "outer");
  EXPECT_EQ(sc.depth(), 1u);
  EXPECT_EQ(sc.getLineNumber(), 1);
}

TEST(Scanner, BinaryGarbageTerminates) {
  std::string junk;
  for (int i = 0; i < 5000; ++i) junk += char((i * 7919 + 13) & 0xFF);
  FILE* f = tmpfile();
  fwrite(junk.data(), 1, junk.size(), f);
  rewind(f);
  MoxScanner sc(f, u"junk");
  int n = 0;
  while (sc.getToken() != TOK_EOF && n < 100000) ++n;
  EXPECT_LT(n, 100000);
  fclose(f);
}
