// The library's additions for vectors, strings and formatting, mathematics
// and time, run from scripts.
#include <gtest/gtest.h>

#include <string>

#include "common/TestSupport.h"
#include "core/MoxDictionary.h"
#include "core/MoxString.h"
#include "core/MoxVector.h"
#include "interpreter/MoxInterpreter.h"
#include "stdlib/MoxDefaultFunctions.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

namespace {

// Runs main() of a UTF-8 source; the printed text followed by any error.
std::string run(const std::string& source, bool* ok = nullptr) {
  MoxStringPrinter out;
  MoxVirtualMachine vm(&out);
  const bool ran = vm.compileText(utf16(source).c_str()) && vm.execute(u"main");
  if (ok) *ok = ran;
  return out.a_str();
}

// The same for a body of main with the locals v, s, i, r.
std::string body(const std::string& text, bool* ok = nullptr) {
  return run("main(;v, s, i, r) { " + text + " }", ok);
}

}  // namespace

TEST(AdditionsVectors, GrowShrinkAndIndexErrors) {
  EXPECT_EQ(body("v = [1]; print(vecpush(v, 2, \"x\") == v, vecsize(v), v[2]);"
                 "print(\" \", vecpop(v), vecsize(v));"
                 "vecinsert(v, 0, 0); vecinsert(v, 3, 9); vecinsert(v, 2, 5); print(\" \", strjoin(v, \",\"));"
                 "print(\" \", vecremove(v, 0), vecremove(v, 3), \" \", strjoin(v, \",\"));"),
            "13x x2 0,1,5,2,9 09 1,5,2");
  bool ok = true;
  EXPECT_EQ(body("vecpop([]);", &ok), "empty vector\n");
  EXPECT_FALSE(ok);
  EXPECT_EQ(body("vecinsert([1], 2, 0);"), "invalid index\n");
  EXPECT_EQ(body("vecinsert([1], -1, 0);"), "invalid index\n");
  EXPECT_EQ(body("vecremove([1], 1);"), "invalid index\n");
  EXPECT_EQ(body("vecremove([], 0);"), "invalid index\n");
  EXPECT_EQ(body("vecremove([1], -2147483647 - 1);"), "invalid index\n");
  EXPECT_EQ(body("vecremove([1], 0.0);"), "invalid argument type\n");
  EXPECT_EQ(body("vecpush(\"abc\", 1);"), "invalid argument type\n");
  // A function's code is a vector to read, never one to change.
  EXPECT_EQ(run("f() {} main() { vecpop(f); }"), "invalid argument type\n");
  EXPECT_EQ(body("vecpush();"), "too few arguments\n");
  EXPECT_EQ(body("vecpop([1], 2);"), "too many arguments\n");
  EXPECT_EQ(body("vecinsert([1], 0);"), "too few arguments\n");
}

TEST(AdditionsVectors, SliceConcatFindReverse) {
  EXPECT_EQ(body("v = [0, 1, 2, 3, 4];"
                 "print(strjoin(vecslice(v, 1, 3), \",\"), \"|\", strjoin(vecslice(v, -2), \",\"), \"|\");"
                 "print(strjoin(vecslice(v, -100, 100), \",\"), \"|\", vecsize(vecslice(v, 3, 1)), \"|\");"
                 "print(vecsize(vecslice(v, 2147483647)), vecsize(vecslice(v, -2147483647 - 1, -4)), \"|\");"
                 "r = vecconcat(v, [5], []); print(vecsize(r), r != v, vecsize(vecconcat([])), \"|\");"
                 "print(strjoin(vecreverse(v), \",\"), \"|\", vecsize(vecreverse([])));"),
            "1,2|3,4|0,1,2,3,4|0|01|610|4,3,2,1,0|0");
  // Search by the language's ==: numbers across kinds, strings by text,
  // objects through compare; kinds that == rejects are its error.
  EXPECT_EQ(body("v = [1, 2.0, 3, 2];"
                 "print(vecfind(v, 2), vecfind(v, 2, 2), vecfind(v, 7), vecfind(v, 2, 4), \" \");"
                 "print(vecfind([\"a\", \"b\"], \"b\"), vecfind([], 1));"),
            "13-1-1 1-1");
  EXPECT_EQ(run("class K { n; K(x); compare(o); } K::K(x) { n = x; } K::compare(o) { return n - o; }"
                "main() { print(vecfind(T(new K(1), new K(4)), 4)); }"),
            "1");
  EXPECT_EQ(body("vecfind([1], 1, 2);"), "invalid index\n");
  EXPECT_EQ(body("vecfind([1], 1, -1);"), "invalid index\n");
  EXPECT_EQ(body("vecfind([1, \"a\"], \"a\");"), run("main() { return 1 == \"a\"; }"));
  EXPECT_EQ(body("vecslice([1], \"1\");"), "invalid argument type\n");
  EXPECT_EQ(body("vecconcat([1], 2);"), "invalid argument type\n");
  EXPECT_EQ(body("vecreverse(null);"), "invalid argument type\n");
}

TEST(AdditionsVectors, SortOrdersStablyAndKeepsElementsOnFailure) {
  EXPECT_EQ(body("v = T(3, 1.5, -2, 10, 1); vecsort(v); print(strjoin(v, \" \"), \"|\");"
                 "v = [\"pear\", \"Apple\", \"fig\"]; print(strjoin(vecsort(v), \" \"), \"|\");"
                 "print(vecsize(vecsort([])));"),
            "-2 1 1.500000 3 10|Apple fig pear|0");
  // A comparison function: any number; equal keys keep their order.
  EXPECT_EQ(run("byLen(a, b) { return strlen(a) - strlen(b); }"
                "desc(a, b) { return b - a + 0.5 - 0.5; }"
                "main(;v, i) { v = [\"ccc\", \"a\", \"bb\", \"b\", \"aa\", \"c\"]; vecsort(v, byLen);"
                "print(strjoin(v, \" \"), \"|\"); v = []; for (i = 0; i < 100; i++) vecpush(v, i % 7);"
                "vecsort(v, desc); print(v[0], v[99]); }"),
            "a b c bb aa ccc|60");
  // Mixed kinds fail as the comparison does; a failing comparison function
  // fails the sort and the vector still holds every element.
  bool ok = true;
  EXPECT_EQ(body("vecsort([\"a\", 1]);", &ok), run("main() { return 1 < \"a\"; }"));
  EXPECT_FALSE(ok);
  {
    MoxStringPrinter out;
    MoxVirtualMachine vm(&out);
    ASSERT_TRUE(vm.compileText(u"bad(a, b) { n++; if (n > 60) return a / 0; return a - b; }"
                               u"main(;i) { n = 0; g = newvector(); for (i = 0; i < 50; i++) vecpush(g, 49 - i); vecsort(g, bad); }"));
    EXPECT_FALSE(vm.execute(u"main"));
    EXPECT_EQ(std::string(out.a_str()), run("main() { return 1 / 0; }"));
    MoxVector* g = static_cast<MoxVector*>(vm.symbols().find(MoxString(u"g"))->getValue());
    ASSERT_NE(g, nullptr);
    ASSERT_EQ(g->size(), 50u);
    int seen[50] = {0};
    for (unsigned i = 0; i < 50; ++i) {
      const int32_t x = (*g)[i].asInt();
      ASSERT_TRUE(x >= 0 && x < 50);
      ++seen[x];
    }
    for (int k : seen) EXPECT_EQ(k, 1);
  }
  EXPECT_EQ(run("str(a, b) { return \"x\"; } main() { vecsort([2, 1], str); }"), "invalid argument type\n");
  EXPECT_EQ(body("vecsort([2, 1], 5);"), "invalid argument type\n");
  // Native functions, static methods and classes answering calls serve too.
  EXPECT_EQ(run("class S { static down(a, b); } S::down(a, b) { return b - a; }"
                "main(;v, w) { v = T(1, 3, 2); vecsort(v, S::down); w = T(\"b\", \"C\", \"a\"); vecsort(w, stricmp);"
                " print(strjoin(v, \",\"), \" \", strjoin(w, \",\")); }"),
            "3,2,1 a,b,C");
  EXPECT_EQ(run("class By { By(); OP_CALL(a, b); } By::By() {} By::OP_CALL(a, b) { return a - b; }"
                "main(;v) { v = [3, 1, 2]; vecsort(v, new By()); print(strjoin(v, \"\")); }"),
            "123");
}

TEST(AdditionsVectors, SortsAMillionIntegersQuickly) {
  // The sort alone is timed, by the script's own clock.
  EXPECT_EQ(run("main(;v, i, x, t, ok) { v = newvector(1000000); x = 12345;"
                " for (i = 0; i < 1000000; i++) { x = x * 1103515245 + 12345; v[i] = x; }"
                " t = clock(); vecsort(v); t = clock() - t; ok = 1;"
                " for (i = 1; i < 1000000; i++) if (v[i - 1] > v[i]) ok = 0;"
                " print(ok, vecsize(v), \" \", t < 3.0); }"),
            "11000000 1");
}

TEST(AdditionsStrings, JoinTrimCaseAffixes) {
  EXPECT_EQ(body("print(strjoin([\"a\", 1, 2.5], \"--\"), \"|\", strjoin([], \",\"), \"|\");"
                 "print(\"[\", strtrim(\" \\t x y \\n\"), \"][\", strtrim(\"xxhixy\", \"xy\"), \"][\", strtrim(\"\"), \"]\");"
                 "print(strlower(\"AbC ÀÉÎ Ωσ\"), \" \", strupper(\"straße ärger ω\"), \" \");"
                 "print(strstarts(\"hello\", \"he\"), strstarts(\"he\", \"hello\"), strends(\"hello\", \"llo\"),"
                 " strends(\"hello\", \"\"), strends(\"\", \"x\"));"),
            "a--1--2.500000||[x y][hi][]abc àéî ωσ STRAßE ÄRGER Ω 10110");
  EXPECT_EQ(run("class P { P(); toString(); } P::P() {} P::toString() { return \"p\"; }"
                "main() { print(strjoin(T(new P(), 1), \"+\")); }"),
            "p+1");
  EXPECT_EQ(body("strjoin([null], \",\");"), "invalid argument type\n");
  EXPECT_EQ(body("strjoin(\"ab\", \",\");"), "invalid argument type\n");
  EXPECT_EQ(body("strtrim(\"a\", 1);"), "invalid argument type\n");
  EXPECT_EQ(body("strupper(1);"), "invalid argument type\n");
  EXPECT_EQ(body("strstarts(\"a\");"), "too few arguments\n");
}

TEST(AdditionsStrings, RepeatAndSplitAll) {
  EXPECT_EQ(body("print(strrepeat(\"ab\", 3), \"|\", strrepeat(\"ab\", 0), \"|\", strrepeat(\"\", 2000000000), \"|\");"
                 "v = strsplitall(\"a, b,, c, \", \", \"); print(vecsize(v), \"[\", strjoin(v, \"][\"), \"]\");"
                 "print(vecsize(strsplitall(\"\", \"x\")), vecsize(strsplitall(\"abc\", \"abc\")));"),
            "ababab|||4[a][b,][c][]12");
  // Longer than one chunk of work (65536 units), which ends inside a copy.
  EXPECT_EQ(body("s = strrepeat(\"abcdefghij\", 10000); bad = 0;"
                 "for (i = 0; i < strlen(s); i++) if (s[i] != 'a' + i % 10) bad++;"
                 "print(strlen(s), \" \", bad, \" \", substr(s, 65530, 12));"),
            "100000 0 abcdefghijab");
  EXPECT_EQ(body("strrepeat(\"a\", -1);"), "invalid argument\n");
  EXPECT_EQ(body("strrepeat(\"abc\", 2000000000);"), "not enough memory\n");
  EXPECT_EQ(body("strrepeat(\"a\", \"2\");"), "invalid argument type\n");
  EXPECT_EQ(body("strsplitall(\"abc\", \"\");"), "invalid argument\n");
}

TEST(AdditionsStrings, FormatFollowsPrintf) {
  EXPECT_EQ(body("print(format(\"%d|%5d|%-5d|%05d|%+d|%x|%X|%o|%u|%%|%c\", 42, 42, 42, 42, 42, 255, 255, 8, -1, 'A'));"),
            "42|   42|42   |00042|+42|ff|FF|10|4294967295|%|A");
  EXPECT_EQ(body("print(format(\"%.2f|%8.3e|%g|%G|%*d|%-*d|%.*f|%ld|%i\", 3.14159, 1234.5, 0.0001, 1e20,"
                 " 4, 7, -3, 7, 1, 2.25, 5, 6));"),
            "3.14|1.234e+03|0.0001|1E+20|   7|7  |2.2|5|6");
  EXPECT_EQ(run("class P { P(); toString(); } P::P() {} P::toString() { return \"pt\"; }"
                "main() { print(format(\"[%s|%4s|%-3s|%.1s|%s|%s]\", \"ab\", 1, 2.5, \"xyz\", new P(), 7)); }"),
            "[ab|   1|2.500000|x|pt|7]");
  EXPECT_EQ(body("print(format(\"%f\", 2), format(\"\"), format(\"%c\", 0x1F600) == \"😀\");"), "2.0000001");
  EXPECT_EQ(body("format(\"%d %s\", 1);"), "missing argument for %s\n");
  EXPECT_EQ(body("format(\"%*d\", 5);"), "missing argument for %*d\n");
  EXPECT_EQ(body("format(\"%d\", 1.5);"), "invalid argument type for %d\n");
  EXPECT_EQ(body("format(\"%5.1f\", \"x\");"), "invalid argument type for %5.1f\n");
  EXPECT_EQ(body("format(\"%q\", 1);"), "invalid argument\n");
  EXPECT_EQ(body("format(\"abc%\");"), "invalid argument\n");
  EXPECT_EQ(body("format(\"%*d\", 2147483647, 1);"), "not enough memory\n");
  EXPECT_EQ(body("format(\"%.2000000000f\", 1.0);"), "not enough memory\n");
  EXPECT_EQ(body("format(1);"), "invalid argument type\n");
  EXPECT_EQ(body("format();"), "too few arguments\n");
}

TEST(AdditionsMath, RoundingExtremesAndFunctions) {
  EXPECT_EQ(body("print(floor(-2.5), \" \", ceil(-2.5), \" \", round(-2.5), \" \", round(2.5), \" \", trunc(-2.7), \" \","
                 " floor(7), \" \", gettypename(gettype(floor(1.5))), \" \", floor(1e12), \" \","
                 " gettypename(gettype(round(-3e9))));"),
            "-3 -2 -3 3 -2 7 MVT_INTEGER 1000000000000.000000 MVT_DOUBLE");
  EXPECT_EQ(body("print(min(3, 1.5, 2), \" \", max(3, 3.0), \" \", gettypename(gettype(max(3.0, 3))), \" \","
                 " min(-1), \" \", max(2147483647, -2147483647 - 1));"),
            "1.500000 3 MVT_DOUBLE -1 2147483647");
  EXPECT_EQ(body("print(atan2(1, 1) * 4 == pi(), \" \", fmod(7.5, 2), \" \", hypot(3, 4), \" \","
                 " isnan(fmod(1, 0)), isnan(1), isnan(0.5));"),
            "1 1.500000 5.000000 100");
  EXPECT_EQ(body("min();"), "too few arguments\n");
  EXPECT_EQ(body("max(1, \"2\");"), "invalid argument type\n");
  EXPECT_EQ(body("floor(null);"), "invalid argument type\n");
  EXPECT_EQ(body("pi(1);"), "too many arguments\n");
  EXPECT_EQ(body("hypot(1);"), "too few arguments\n");
  EXPECT_EQ(body("isnan(\"x\");"), "invalid argument type\n");
}

TEST(AdditionsMath, RandIntStaysInRange) {
  EXPECT_EQ(body("r = 1; for (i = 0; i < 2000; i++) { s = randint(-3, 3); if (s < -3 || s > 3) r = 0; }"
                 "print(r, randint(5, 5), \" \");"
                 "r = 0; for (i = 0; i < 200; i++) r = r | (1 << randint(0, 4)); print(r, \" \");"
                 "s = randint(-2147483647 - 1, 2147483647); print(gettypename(gettype(s)));"),
            "15 31 MVT_INTEGER");
  EXPECT_EQ(body("randint(2, 1);"), "invalid argument\n");
  EXPECT_EQ(body("randint(1, 2.0);"), "invalid argument type\n");
  // srand repeats a sequence.
  EXPECT_EQ(body("srand(7); a = randint(0, 1000000); b = randint(0, 1000000);"
                 "srand(7); print(a == randint(0, 1000000), b == randint(0, 1000000));"),
            "11");
}

TEST(AdditionsTime, StrftimeAndClock) {
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  EXPECT_EQ(body("print(strftime(\"%Y-%m-%d %H:%M:%S|%j|\", 86400 * 365 + 3661), strftime(\"\", 0), \"|\","
                 " strftime(\"%%é\", 0));"),
            "1971-01-01 01:01:01|001||%é");
  EXPECT_EQ(body("r = clock(); s = clock(); print(gettypename(gettype(r)), \" \", s >= r);"), "MVT_DOUBLE 1");
  EXPECT_EQ(body("strftime(\"%Y\");"), "too few arguments\n");
  EXPECT_EQ(body("strftime(1, 0);"), "invalid argument type\n");
  EXPECT_EQ(body("strftime(\"%Y\", 1.5);"), "invalid argument type\n");
  EXPECT_EQ(body("clock(1);"), "too many arguments\n");
}

TEST(AdditionsRegistration, ScriptFunctionsOfTheSameNameWin) {
  EXPECT_EQ(run("vecpush(v, x) { return \"mine\"; } main() { print(vecpush([], 1), \" \", strupper(\"a\")); }"),
            "mine A");
}
