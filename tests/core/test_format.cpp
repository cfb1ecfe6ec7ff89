// The UTF-16 printf engine: both argument forms, against the C library
// where the two must agree and against fixed texts where this engine has
// its own rules.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "core/MoxFormat.h"
#include "common/TestSupport.h"
#include "core/MoxUtf8.h"

namespace {

// Formats with the va_list form; UTF-8 result for readable failures.
std::string F(const MoxChar* format, ...) {
  std::u16string out;
  va_list args;
  va_start(args, format);
  size_t n = moxVFormat(out, format, args);
  va_end(args);
  EXPECT_EQ(n, out.size());
  return utf8(out);
}

// The same with a narrow format, for comparisons with vsnprintf.
std::string Fn(const char* format, ...) {
  std::u16string wide = utf16(format);
  std::u16string out;
  va_list args;
  va_start(args, format);
  moxVFormat(out, wide.c_str(), args);
  va_end(args);
  return utf8(out);
}

MoxFormatArg I32(int32_t v) {
  MoxFormatArg a;
  a.kind = MoxFormatArg::INT32;
  a.i32 = v;
  return a;
}
MoxFormatArg I64(int64_t v) {
  MoxFormatArg a;
  a.kind = MoxFormatArg::INT64;
  a.i64 = v;
  return a;
}
MoxFormatArg D(double v) {
  MoxFormatArg a;
  a.kind = MoxFormatArg::DOUBLE;
  a.d = v;
  return a;
}
MoxFormatArg T16(const MoxChar* v) {
  MoxFormatArg a;
  a.kind = MoxFormatArg::TEXT16;
  a.text16 = v;
  return a;
}
MoxFormatArg T8(const char* v) {
  MoxFormatArg a;
  a.kind = MoxFormatArg::TEXT8;
  a.text8 = v;
  return a;
}
MoxFormatArg P(const void* v) {
  MoxFormatArg a;
  a.kind = MoxFormatArg::POINTER;
  a.ptr = v;
  return a;
}

// Typed form over a heap copy of exactly argc arguments, so that reading
// past argc is caught by the address sanitizer.
std::string T(const MoxChar* format, std::initializer_list<MoxFormatArg> list) {
  std::unique_ptr<MoxFormatArg[]> args(list.size() ? new MoxFormatArg[list.size()] : nullptr);
  size_t i = 0;
  for (const MoxFormatArg& a : list) args[i++] = a;
  std::u16string out;
  size_t n = moxFormatArgs(out, format, args.get(), list.size());
  EXPECT_EQ(n, out.size());
  return utf8(out);
}

int length(const MoxChar* format, ...) {
  va_list args;
  va_start(args, format);
  int n = moxVFormatLength(format, args);
  va_end(args);
  return n;
}

}  // namespace

TEST(Format, IntegersAgreeWithCLibraryForAllFlagsWidthsAndPrecisions) {
  const char* flags[] = {"", "-", "+", " ", "0", "#", "-+", "+0", "#0", "- ", "-#0"};
  const char* widths[] = {"", "1", "6", "14"};
  const char* precisions[] = {"", ".", ".0", ".3", ".12"};
  const int32_t values[] = {0, 1, -1, 42, -42, INT32_MAX, INT32_MIN};
  for (const char* fl : flags)
    for (const char* w : widths)
      for (const char* pr : precisions)
        for (const char* c = "diouxX"; *c; ++c)
          for (int32_t v : values) {
            char f[32];
            snprintf(f, sizeof f, "%%%s%s%s%c", fl, w, pr, *c);
            ASSERT_EQ(Fn(f, v), fmt(f, v)) << f << " " << v;
            snprintf(f, sizeof f, "%%%s%s%sll%c", fl, w, pr, *c);
            long long big = static_cast<long long>(v) * 1000003LL;
            ASSERT_EQ(Fn(f, big), fmt(f, big)) << f << " " << big;
            snprintf(f, sizeof f, "%%%s%s%sh%c", fl, w, pr, *c);
            ASSERT_EQ(Fn(f, v), fmt(f, v)) << f << " " << v;
          }
}

TEST(Format, IntTextIsWhatPercentLdGives) {
  const int32_t values[] = {0, 7, -7, 10, -10, 99, 1000000, INT32_MAX, INT32_MIN, INT32_MIN + 1};
  for (int32_t v : values) {
    MoxChar text[kMoxIntTextUnits];
    const unsigned n = moxIntText(v, text);
    ASSERT_EQ(utf8(std::u16string(text, n)), F(u"%ld", v)) << v;
  }
}

TEST(Format, FloatsAgreeWithCLibrary) {
  const char* specs[] = {"%f", "%e", "%E", "%g", "%G", "%a", "%A", "%F", "%5.2f", "%-12.3e",
                         "%+g", "% .0f", "%#.0f", "%012.4f", "%#g", "%.15g", "%10.3a"};
  const double values[] = {0.0, -0.0, 1.5, -3.14159, 1e300, 1e-300, 123456.789, 0.1,
                           HUGE_VAL, -HUGE_VAL};
  for (const char* s : specs)
    for (double v : values) ASSERT_EQ(Fn(s, v), fmt(s, v)) << s << " " << v;
  // Long output goes past the engine's stack buffer.
  EXPECT_EQ(Fn("%.600f", 1.0), fmt("%.600f", 1.0));
  EXPECT_EQ(Fn("%Lf", 2.5), "2.500000");  // "L" takes a double
}

TEST(Format, SizePrefixes) {
  // "l" is 32 bits: the argument after a %ld must still be found.
  EXPECT_EQ(F(u"%ld %d %lu", static_cast<int32_t>(-5), 7, static_cast<uint32_t>(4000000000u)),
            "-5 7 4000000000");
  EXPECT_EQ(F(u"%lx|%lX", -1, 255), "ffffffff|FF");
  EXPECT_EQ(F(u"%lld %I64d %I64x %d", -1LL, 1LL << 40, 1ULL << 63, 9),
            "-1 1099511627776 8000000000000000 9");
  EXPECT_EQ(F(u"%I32d %I32u", -3, -3), "-3 4294967293");
  EXPECT_EQ(F(u"%hd %hu %hhd", 70000, -1, 300), "4464 65535 44");
  EXPECT_EQ(F(u"%Id", static_cast<long long>(1) << 33), "8589934592");  // pointer-sized
}

TEST(Format, TextAndCharacters) {
  EXPECT_EQ(F(u"[%s]", u"h\u00e9llo"), "[h\u00e9llo]");
  EXPECT_EQ(F(u"[%S]", "h\xc3\xa9llo"), "[h\u00e9llo]");
  EXPECT_EQ(F(u"[%hs|%ls|%ws]", "n", u"w", u"w"), "[n|w|w]");
  EXPECT_EQ(F(u"[%5s|%-5s|%.2s|%*.*s]", u"ab", u"ab", u"abc", 4, 1, u"xyz"), "[   ab|ab   |ab|   x]");
  // Width and precision count UTF-16 units, also for narrow text.
  EXPECT_EQ(F(u"[%3s]", u"\u00e9"), "[  \u00e9]");
  EXPECT_EQ(F(u"[%4S]", "\xf0\x9f\x98\x80"), "[  \U0001F600]");
  // A pair is never split by the precision of narrow text.
  EXPECT_EQ(F(u"[%.1S]", "\xf0\x9f\x98\x80"), "[]");
  EXPECT_EQ(F(u"[%s|%.3s|%S]", static_cast<const MoxChar*>(nullptr), static_cast<const MoxChar*>(nullptr),
              static_cast<const char*>(nullptr)),
            "[(null)|(nu|(null)]");
  EXPECT_EQ(F(u"%c%C%3c%-3c|%lc%hc", u'\u00e9', 'B', 'x', 'y', 0x263A, 0x41), "\u00e9B  xy  |\u263a" "A");
  // A precision needs no terminator within it.
  const MoxChar unterminated[3] = {u'a', u'b', u'c'};
  EXPECT_EQ(F(u"%.3s", unterminated), "abc");
  const char narrowUnterminated[2] = {'x', 'y'};
  EXPECT_EQ(F(u"%.2S", narrowUnterminated), "xy");
}

TEST(Format, PercentUnknownLettersAndCutOffSpecifications) {
  EXPECT_EQ(F(u"100%% %5%|"), "100% %|");
  // An unknown letter is printed and takes no argument.
  EXPECT_EQ(F(u"%q%d %5k%s", 5, u"t"), "q5 kt");
  EXPECT_EQ(F(u"end%"), "end%");
  EXPECT_EQ(F(u"end%-08.3l"), "end%-08.3l");
  // %n writes nothing but keeps the arguments in step.
  int sink = 99;
  EXPECT_EQ(F(u"a%nb%d", &sink, 3), "ab3");
  EXPECT_EQ(sink, 99);
  std::u16string out = u"keep";
  EXPECT_EQ(moxVFormat(out, nullptr, nullptr), 0u);
  EXPECT_EQ(out, u"keep");
}

TEST(Format, StarWidthAndPrecision) {
  EXPECT_EQ(F(u"[%*d|%-*d|%*d]", 4, 7, 4, 7, -4, 7), "[   7|7   |7   ]");
  EXPECT_EQ(F(u"[%.*f|%.*f]", 1, 2.25, -1, 2.5), "[2.2|2.500000]");
  EXPECT_EQ(F(u"[%*.*d]", 6, 3, 5), "[   005]");
}

TEST(Format, PointerAndEnormousFields) {
  EXPECT_EQ(F(u"%p", reinterpret_cast<void*>(0x1234)), "0000000000001234");
  EXPECT_EQ(F(u"[%18p]", reinterpret_cast<void*>(0xABC)), "[  0000000000000ABC]");
  // Huge fields are clamped instead of exhausting memory.
  int n = length(u"%2147483647d%.2147483647f", 1, 1.0);
  EXPECT_GT(n, 0);
  EXPECT_LT(n, 4000000);
}

TEST(Format, AppendsAndMeasures) {
  std::u16string out = u">";
  EXPECT_EQ(moxFormatArgs(out, u"%d", nullptr, 0), 0u);
  EXPECT_EQ(out, u">");
  EXPECT_EQ(length(u"%s=%d", u"abc", 12345), 9);
  EXPECT_EQ(length(u"%S", "\xf0\x9f\x98\x80"), 2);
  EXPECT_EQ(length(nullptr), -1);
  EXPECT_EQ(length(u""), 0);
}

TEST(Format, LengthDoesNotConsumeTheCallersArguments) {
  // The printers measure and then format with the same va_list.
  struct Twice {
    static std::string run(const MoxChar* format, ...) {
      va_list args;
      va_start(args, format);
      int n = moxVFormatLength(format, args);
      std::u16string out;
      moxVFormat(out, format, args);
      va_end(args);
      EXPECT_EQ(static_cast<size_t>(n), out.size());
      return utf8(out);
    }
  };
  EXPECT_EQ(Twice::run(u"%d-%s", 12, u"ab"), "12-ab");
}

TEST(Format, TypedFormNeverReadsPastItsArguments) {
  EXPECT_EQ(T(u"x=%d y=%d", {I32(5)}), "x=5 y=");
  EXPECT_EQ(T(u"%s|%d|%f|%c|%p|", {}), "|||||");
  EXPECT_EQ(T(u"%*d", {I32(3)}), "");  // the star took the only argument
  EXPECT_EQ(T(u"%*d|%.*f", {I32(4), I32(7), I32(1), D(2.25)}), "   7|2.2");
  EXPECT_EQ(T(u"%5.2f!", {D(3.14159)}), " 3.14!");
  EXPECT_EQ(T(u"%s and %S", {T16(u"w\u00e9"), T8("n\xc3\xa9")}), "w\u00e9 and n\u00e9");
  EXPECT_EQ(T(u"%lld %llx %x %llu", {I32(-1), I32(-1), I32(-1), I64(-1)}),
            "-1 ffffffffffffffff ffffffff 18446744073709551615");
  EXPECT_EQ(T(u"%d %hd", {I64(1LL << 40), I64(70000)}), "1099511627776 4464");
  EXPECT_EQ(T(u"%q%d", {I32(8)}), "q8");
  EXPECT_EQ(T(nullptr, {I32(1)}), "");
}

TEST(Format, TypedFormPrintsMismatchedKindsAsWhatTheyAre) {
  // Text letters with numbers print the numbers.
  EXPECT_EQ(T(u"[%s|%5S|%-4s|%.1s]", {I32(-12), I64(7), D(2.5), D(0.25)}), "[-12|    7|2.5 |0.25]");
  // A pointer for a text letter is never read through.
  EXPECT_EQ(T(u"%s", {P(reinterpret_cast<const void*>(0x10))}), "0000000000000010");
  // Numeric letters with text print the text.
  EXPECT_EQ(T(u"[%d|%5x|%.1f|%c]", {T16(u"ab"), T16(u"cd"), T8("ef"), T16(u"gh")}), "[ab|   cd|ef|gh]");
  EXPECT_EQ(T(u"%d", {T16(nullptr)}), "(null)");
  // Numbers across the integer and floating letters convert.
  EXPECT_EQ(T(u"%d|%x|%5.2f|%e|%c", {D(3.7), D(-1.0), I32(3), I64(2), D(65.0)}),
            "3|ffffffffffffffff| 3.00|2.000000e+00|A");
  EXPECT_EQ(T(u"%d %d %d", {D(1e300), D(-1e300), D(std::nan(""))}),
            "9223372036854775807 -9223372036854775808 0");
  EXPECT_EQ(T(u"%u", {P(reinterpret_cast<const void*>(0x20))}), "32");
  EXPECT_EQ(T(u"%p", {I32(0x40)}), "0000000000000040");
}
