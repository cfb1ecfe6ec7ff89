// The standard library's calling convention and checks, exercised both
// directly on a hand-made argument window and through running scripts.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "core/MoxDictionary.h"
#include "core/MoxString.h"
#include "core/MoxVector.h"
#include "stdlib/MoxDefaultFunctions.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

namespace {

// Runs main() of a source; returns the printed text plus the error text.
std::string run(const MoxChar* source, bool* ok = nullptr) {
  MoxStringPrinter out;
  MoxVirtualMachine vm(&out);
  bool compiled = vm.compileText(source);
  bool ran = compiled && vm.execute(u"main");
  if (ok) *ok = ran;
  return out.a_str();
}

}  // namespace

TEST(StdlibConvention, ResultGoesIntoTheFunctionSlot) {
  MoxVirtualMachine vm;
  MoxVector stack;
  stack.push_back(MoxValue(MoxDefaultFunctions::Mox_strlen));
  stack.push_back(MoxValue(new MoxString(u"hello"), false));
  ValPtr args = stack.last();
  ASSERT_TRUE(MoxDefaultFunctions::Mox_strlen(&vm, 1, args));
  EXPECT_EQ(args.current(), 0);
  EXPECT_EQ(stack[0].getType(), MVT_INTEGER);
  EXPECT_EQ(static_cast<int32_t>(stack[0]), 5);

  // A function without arguments writes over its own value.
  MoxVector empty;
  empty.push_back(MoxValue(MoxDefaultFunctions::Mox_T));
  ValPtr top = empty.last();
  ASSERT_TRUE(MoxDefaultFunctions::Mox_T(&vm, 0, top));
  EXPECT_EQ(top.current(), 0);
  EXPECT_EQ(empty[0].getType(), MVT_VECTOR);
}

TEST(StdlibConvention, CheckingGroupNeedsAnInterpreter) {
  MoxStringPrinter out;
  MoxVirtualMachine vm(&out);
  MoxVector stack;
  stack.push_back(MoxValue());
  ValPtr args = stack.last();
  EXPECT_FALSE(MoxDefaultFunctions::Mox_rand(nullptr, 0, args));
  EXPECT_STREQ(out.a_str(), "");
  EXPECT_FALSE(MoxDefaultFunctions::Mox_rand(&vm, 0, args));
  EXPECT_STREQ(out.a_str(), "missing interpreter\n");
  // Other functions report their failures the same way instead of crashing.
  out.clear();
  EXPECT_FALSE(MoxDefaultFunctions::Mox_strlen(&vm, 0, args));
  EXPECT_STREQ(out.a_str(), "missing interpreter\n");
}

TEST(StdlibConvention, RegisteringAgainReplacesEveryEntry) {
  MoxVirtualMachine vm;
  vm.symbols()[MoxString(u"stdin")].setValue(MoxValue(1));
  vm.symbols()[MoxString(u"print")].setValue(MoxValue());
  MoxDefaultFunctions::registerFunctions(&vm);
  // The classic 81 names keep their places; the additions follow them.
  std::vector<std::string> names;
  for (MoxDictionaryEntry* e = vm.symbols().getFirst(); e; e = e->getNext())
    names.push_back(utf8(e->getKey()->c_str()));
  ASSERT_GT(names.size(), 81u);
  EXPECT_EQ(names[0], "stdin");
  EXPECT_EQ(names[3], "newvector");
  EXPECT_EQ(names[80], "dictgetvalues");
  EXPECT_EQ(names[81], "vecpush");
  for (size_t i = 81; i < names.size(); ++i)
    EXPECT_EQ(std::find(names.begin(), names.begin() + 81, names[i]), names.begin() + 81) << names[i];
  EXPECT_EQ(vm.symbols().find(MoxString(u"stdin"))->getValue().getType(), MVT_FILE);
  EXPECT_EQ(static_cast<MoxNativeFunction>(vm.symbols().find(MoxString(u"print"))->getValue()),
            MoxDefaultFunctions::Mox_print);
  EXPECT_EQ(static_cast<MoxNativeFunction>(vm.symbols().find(MoxString(u"Vec"))->getValue()),
            MoxDefaultFunctions::Mox_Vec);
}

TEST(StdlibScripts, CountAndTypeErrors) {
  bool ok = true;
  EXPECT_EQ(run(u"main() { return strlen(); }", &ok), "too few arguments\n");
  EXPECT_FALSE(ok);
  EXPECT_EQ(run(u"main() { return strlen(\"a\", \"b\"); }", &ok), "too many arguments\n");
  EXPECT_EQ(run(u"main() { return time(1); }", &ok), "too many arguments\n");
  EXPECT_EQ(run(u"main() { return strlen(5); }", &ok), "invalid argument type\n");
  EXPECT_EQ(run(u"main() { return fread(newbuffer(1), 1.5, stdin); }"), "invalid argument type (int expected)\n");
  EXPECT_EQ(run(u"main() { return fread(newbuffer(1), 5); }"), "invalid argument type (FILE expected)\n");
  EXPECT_EQ(run(u"main() { return gettypename(12.0); }"), "invalid argument type\n");
  EXPECT_EQ(run(u"main() { return dynamic_cast(5, 1); }"), "first argument is not a class\n");
  EXPECT_EQ(run(u"main() { return strinsert(newstring(\"a\"), -1, \"x\"); }"), "invalid insertion position\n");
  EXPECT_EQ(run(u"main() { return strfind(\"a\", 0); }"), "invalid argument - string or character expected\n");
  EXPECT_EQ(run(u"main() { return arg(3); }"), "invalid index\n");
  EXPECT_EQ(run(u"main() { return addr(null); }"), "argument is NULL\n");
  EXPECT_EQ(run(u"main() { return newbuffer([1]); }"), "invalid value type\n");
  EXPECT_EQ(run(u"main() { return newcbuffer([1]); }"), "invalid argument type\n");
}

TEST(StdlibScripts, PrintFormatsEachKind) {
  EXPECT_EQ(run(u"main() { print(5, \"ab\", 1.5, float(2)); }"), "5ab1.5000002.000000");
  std::string vec = run(u"main() { print([1]); }");
  EXPECT_EQ(vec.rfind("(MVT_VECTOR:", 0), 0u);
  EXPECT_EQ(vec.back(), ')');
}

TEST(StdlibScripts, ConversionsAndStrings) {
  EXPECT_EQ(run(u"main() { print(int(\"0x1F\"), int(\"017\"), int(\"abc\"), int(-2.9)); }"), "31150-2");
  EXPECT_EQ(run(u"main() { print(string(1e40) == \"\"); }"), "0");  // large numbers are not cut into garbage
  EXPECT_EQ(run(u"main(;s) { s = newstring(\"hello\"); strerase(s, 1, 2); print(s, strlen(s)); }"), "hlo3");
  EXPECT_EQ(run(u"main(;v) { v = strsplit(\"a,,b\", \",;\"); print(vecsize(v), v[0], v[1]); }"), "2ab");
  // Separators at both ends, a word that is the whole text, no separators.
  EXPECT_EQ(run(u"main(;v) { v = strsplit(\";ab,,cd;\", \",;\"); print(vecsize(v), v[0], v[1], \" \","
                u" strsplit(\"xyz\", \",\")[0], vecsize(strsplit(\"xyz\", \"\"))); }"),
            "2abcd xyz1");
  // Separators past ASCII (U+00E9, U+4E00) beside ASCII ones; units that
  // share the low bits of an ASCII separator ('A' + 0x80) do not cut.
  EXPECT_EQ(run(u"main(;v) { v = strsplit(\"x\u00e9y\u4e00\u00c1z w\", \"\u00e9\u4e00 \"); print(vecsize(v), \" \","
                u" strlen(v[2]), \" \", v[3]); }"),
            "4 2 w");
  EXPECT_EQ(run(u"main() { print(abs(-2147483647 - 1), \" \", abs(-5)); }"), "-2147483648 5");
}

TEST(StdlibScripts, ClosedStreamsAreNullStreams) {
  std::string path = std::string(::testing::TempDir()) + "mox_stdlib_stream.txt";
  std::u16string wpath(path.begin(), path.end());
  std::u16string src = u"main(;f, b) { f = fopen(\"" + wpath +
                       u"\", \"wt\"); fputs(\"ab\\ncd\", f); fclose(f);"
                       u"print(fclose(f), \" \", feof(f), \" \");"
                       u"f = fopen(\"" + wpath + u"\", \"r\"); print(fgets(f), \"|\", fgets(f), \"|\", feof(f), \" \");"
                       u"fclose(f); b = newbuffer(\"xyz\"); f = fopen(\"" + wpath + u"\", \"w\");"
                       u"print(fwrite(b, 4, 3, f)); fclose(f); }";
  EXPECT_EQ(run(src.c_str()), "-1 1 ab|cd|1 1");
  remove(path.c_str());
}

TEST(StdlibScripts, LongOperationsAnswerToTheBudgetAndFormatsToMemory) {
  MoxStringPrinter out;
  MoxVirtualMachine vm(&out);
  auto run = [&](const std::u16string& body, bool* ok = nullptr) {
    out.clear();
    bool ran = vm.compileText((u"main() { " + body + u" }").c_str()) && vm.execute(u"main", 0, nullptr, false, &out);
    if (ok) *ok = ran;
    return std::string(out.a_str());
  };
  // Fills, formats and splits charge their work: a budget far below it stops
  // them early instead of after the whole work.
  std::u16string wide = u"return newstring(\"", values;
  for (int i = 0; i < 40; ++i) {
    wide += u"%1000000d";
    values += u", 1";
  }
  wide += u"\"" + values + u");";
  vm.setInstructionLimit(100000);
  const std::u16string heavy[] = {
      u"return newstring(100000000, 65);", u"return newbuffer(100000000, 1);",
      u"return newcbuffer(100000000, 66);", u"return newvector(50000000);", wide,
      u"return strsplit(newstring(20000000, 65), \",\");",
  };
  for (const std::u16string& body : heavy) EXPECT_EQ(run(body), "instruction limit exceeded\n") << utf8(body);
  // Short calls pay little: the same budget runs many of them.
  bool ok = false;
  EXPECT_EQ(run(u"for (i = 0; i < 200; i++) s = newstring(\"%5d|%-4s|\", i, newstring(3, 97)); print(s);", &ok),
            "  199|aaa |");
  EXPECT_TRUE(ok);
  vm.setInstructionLimit(0);
  // A field beyond what the engine gives, or a text beyond the memory bound,
  // is refused instead of coming out cut.
  EXPECT_EQ(run(u"return newstring(\"%2000000000d\", 1);"), "not enough memory\n");
  EXPECT_EQ(run(u"return newstring(\"x%.2000000000f\", 1.5);"), "not enough memory\n");
  EXPECT_EQ(run(u"return newstring(\"%-99999999999999999999d\", 1);"), "not enough memory\n");
  EXPECT_EQ(run(u"print(newstring(\"%.2000000000s|%3.1s\", \"abc\", \"xy\"));"), "abc|  x");
  EXPECT_EQ(run(u"print(strlen(newstring(\"%1000000d\", 1)));"), "1000000");
  vm.setMemoryLimit(1u << 20);
  EXPECT_EQ(run(u"return newstring(\"%600000d\", 1);"), "not enough memory\n");
  EXPECT_EQ(run(u"s = newstring(1000, 97); return strreplace(s, \"a\", newstring(1000, 98));"),
            "not enough memory\n");
  vm.setMemoryLimit(0);
  EXPECT_EQ(run(u"s = newstring(\"abab\"); strreplace(s, \"b\", \"xyz\"); print(s);"), "axyzaxyz");
}
