// Whole files, JSON, protected calls and exit(), run through scripts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "core/MoxString.h"
#include "core/MoxVector.h"
#include "stdlib/MoxDefaultFunctions.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

namespace {

// A machine with one compiled source; runs a function with string arguments.
struct Machine {
  MoxStringPrinter out;
  MoxVirtualMachine vm{&out};
  bool compiled = false;

  explicit Machine(const std::string& source) { compiled = vm.compileText(utf16(source).c_str()); }

  bool run(const char* name, const std::vector<std::u16string>& args = {}) {
    std::vector<const MoxChar*> argv;
    for (const std::u16string& a : args) argv.push_back(a.c_str());
    out.clear();
    return compiled && vm.execute(utf16(name).c_str(), int(argv.size()),
                                  argv.empty() ? nullptr : argv.data());
  }
  std::string printed() const { return out.a_str(); }
  std::string resultText() const {
    const MoxValue& r = vm.getResult();
    if (r.getType() != MVT_STRING) return "<not a string>";
    return utf8(static_cast<MoxString*>(r.getRef())->c_str());
  }
};

const char kJsonHelpers[] =
    "dec(s; r) {\n"
    "  r = pcall(jsondecode, s);\n"
    "  if (r[0]) return \"ok \" + jsonencode(r[1]);\n"
    "  return \"err \" + r[1];\n"
    "}\n"
    "nest(n, open, close; s, i) {\n"
    "  s = \"\";\n"
    "  for (i = 0; i < n; i++) s = s + open;\n"
    "  for (i = 0; i < n; i++) s = s + close;\n"
    "  return s;\n"
    "}\n"
    "decnest(n; r) { r = pcall(jsondecode, nest(int(n), \"[\", \"]\")); return r[0] ? \"ok\" : r[1]; }\n"
    "enc(v; r) { r = pcall(jsonencode, v); return r[0] ? \"ok \" + r[1] : \"err \" + r[1]; }\n";

}  // namespace

TEST(AdditionsFiles, ReadWriteListRenameRemove) {
  TempDir dir("files");
  ASSERT_FALSE(dir.path().empty());
  dir.write("old.txt", "old contents");
  dir.write("crlf.txt", "one\r\ntwo\n\nthree\r");
  // A zero byte cannot be part of a string: such a file is no text.
  dir.write("zero.bin", std::string("a\0b", 3));
  Machine m(
      "files(d; v, s) {\n"
      "  print(writefile(d + \"/a.txt\", \"h\xC3\xA9llo \xF0\x9F\x98\x80\\nline2\\n\"), \"\\n\");\n"
      "  s = readfile(d + \"/a.txt\");\n"
      "  print(strlen(s), \" \", s);\n"
      "  v = readlines(d + \"/crlf.txt\");\n"
      "  print(vecsize(v), \":\", v[0], \"|\", v[1], \"|\", v[2], \"|\", strlen(v[3]), \"\\n\");\n"
      "  print(vecsize(readlines(d + \"/a.txt\")), \"\\n\");\n"
      "  print(readfile(d + \"/missing\") == null, readlines(d + \"/missing\") == null,\n"
      "        readfile(d) == null, listdir(d + \"/missing\") == null,\n"
      "        readfile(d + \"/zero.bin\") == null, \"\\n\");\n"
      "  print(fileexists(d + \"/a.txt\"), fileexists(d + \"/missing\"), \"\\n\");\n"
      "  print(renamefile(d + \"/a.txt\", d + \"/b.txt\"), renamefile(d + \"/a.txt\", d + \"/c.txt\"), \"\\n\");\n"
      "  print(writefile(d + \"/sub\", \"x\"), \"\\n\");\n"
      "  v = listdir(d);\n"
      "  print(vecsize(v), \" \", v[0], \" \", v[1], \" \", v[2], \" \", v[3], \" \", v[4], \"\\n\");\n"
      "  print(writefile(d + \"/old.txt\", \"\"), strlen(readfile(d + \"/old.txt\")), \"\\n\");\n"
      "  print(writefile(d + \"/no/such/dir.txt\", \"x\"), \"\\n\");\n"
      "  print(removefile(d + \"/b.txt\"), removefile(d + \"/b.txt\"), removefile(d + \"/sub\"), \"\\n\");\n"
      "  return 0;\n"
      "}\n"
      "bad(; r) { r = pcall(readfile, 5); print(r[1], \"\\n\"); r = pcall(writefile, \"x\");\n"
      "  print(r[1], \"\\n\"); r = pcall(listdir, \"a\", \"b\"); print(r[1], \"\\n\"); return 0; }\n");
  ASSERT_TRUE(m.compiled);
  dir.write("sub/inner.txt", "");
  ASSERT_TRUE(m.run("files", {utf16(dir.path())})) << m.printed();
  EXPECT_EQ(m.printed(),
            "1\n"
            "15 h\xC3\xA9llo \xF0\x9F\x98\x80\nline2\n"
            "4:one|two||6\n"
            "2\n"
            "11111\n"
            "10\n"
            "10\n"
            // A folder cannot be replaced by a file: the write fails and
            // the folder stays.
            "0\n"
            "5 b.txt crlf.txt old.txt sub zero.bin\n"
            "10\n"
            "0\n"
            "100\n");
  EXPECT_TRUE(dir.exists("sub/inner.txt"));
  // Nothing of the failed replacements is left behind.
  Machine list("main(d) { print(vecsize(listdir(d)), \"\\n\"); return 0; }");
  ASSERT_TRUE(list.run("main", {utf16(dir.path())}));
  EXPECT_EQ(list.printed(), "4\n");

  ASSERT_TRUE(m.run("bad"));
  EXPECT_EQ(m.printed(), "invalid argument type\ntoo few arguments\ntoo many arguments\n");

  // Every one of them obeys the files capability.
  m.vm.setCapabilities(MOX_CAP_ALL & ~MOX_CAP_FILES);
  for (const char* call : {"readfile(d)", "readlines(d)", "writefile(d, \"x\")", "fileexists(d)",
                           "removefile(d)", "renamefile(d, d)", "listdir(d)"}) {
    Machine off((std::string("main(d) { ") + call + "; return 0; }").c_str());
    off.vm.setCapabilities(MOX_CAP_ALL & ~MOX_CAP_FILES);
    EXPECT_FALSE(off.run("main", {utf16(dir.path())})) << call;
    EXPECT_EQ(off.printed().rfind("file access is disabled\n", 0), 0u) << call << off.printed();
  }
  EXPECT_TRUE(dir.exists("old.txt"));
}

TEST(AdditionsJson, DecodesExactlyTheRfcGrammar) {
  Machine m(kJsonHelpers);
  ASSERT_TRUE(m.compiled);
  struct Case {
    std::u16string text;
    const char* expected;  // "ok <encoding>" or the start of "err ..."
  };
  const Case cases[] = {
      {u"null", "ok null"},
      {u"true", "ok 1"},
      {u"false", "ok 0"},
      {u"0", "ok 0"},
      {u"-0", "ok 0"},
      {u"-0.0", "ok -0.0"},
      {u"1.5e3", "ok 1500.0"},
      {u"1E-2", "ok 0.01"},
      {u"2147483647", "ok 2147483647"},
      {u"-2147483648", "ok -2147483648"},
      {u"2147483648", "ok 2147483648.0"},
      {u"-2147483649", "ok -2147483649.0"},
      {u"123456789012345678901234567890", "ok 1.2345678901234568e+29"},
      {u" \t\r\n[1 , 2\n]\n ", "ok [1,2]"},
      {u"\"\\u00e9\\ud83d\\ude00\"", "ok \"\xC3\xA9\xF0\x9F\x98\x80\""},
      {u"\"\\\"\\\\\\/\\b\\f\\n\\r\\t\\u001f\"", "ok \"\\\"\\\\/\\b\\f\\n\\r\\t\\u001f\""},
      {u"[\"ab\\\\u0000\", \"ab\\u0000\"]", "err invalid JSON at line 1, column 18: strings cannot hold U+0000"},
      {u"1.0e-7", "ok 1e-07"},
      {u"\"\u00e9\U0001F600\"", "ok \"\xC3\xA9\xF0\x9F\x98\x80\""},
      {u"{\"z\":1,\"a\":[true,{}],\"m\":\"\"}", "ok {\"z\":1,\"a\":[1,{}],\"m\":\"\"}"},
      {u"{\"a\":1,\"a\":2}", "ok {\"a\":2}"},
      {u"[[[]],[]]", "ok [[[]],[]]"},
      {u"", "err invalid JSON at line 1, column 1: "},
      {u"   ", "err invalid JSON at line 1, column 4: "},
      {u"01", "err invalid JSON at line 1, column 2: "},
      {u"-", "err invalid JSON"},
      {u"1.", "err invalid JSON"},
      {u".5", "err invalid JSON at line 1, column 1: "},
      {u"+1", "err invalid JSON at line 1, column 1: "},
      {u"1e", "err invalid JSON"},
      {u"0x10", "err invalid JSON at line 1, column 2: "},
      {u"NaN", "err invalid JSON"},
      {u"Infinity", "err invalid JSON"},
      {u"1e400", "err invalid JSON at line 1, column 5: number overflow"},
      {u"[1,]", "err invalid JSON at line 1, column 4: "},
      {u"{\"a\":1,}", "err invalid JSON at line 1, column 8: "},
      {u"{a:1}", "err invalid JSON at line 1, column 2: "},
      {u"['a']", "err invalid JSON at line 1, column 2: "},
      {u"\"abc", "err invalid JSON"},
      {u"\"a\tb\"", "err invalid JSON at line 1, column 3: "},
      {u"\"\\x\"", "err invalid JSON"},
      {u"\"\\ud800\"", "err invalid JSON"},
      {u"\"\\udc00\"", "err invalid JSON"},
      {u"\"\\ud800\\u0041\"", "err invalid JSON"},
      {std::u16string(u"\"a") + char16_t(0xD800) + u"\"", "err invalid JSON"},
      {u"[1 2]", "err invalid JSON at line 1, column 4: "},
      {u"{\"a\" 1}", "err invalid JSON at line 1, column 6: "},
      {u"1 2", "err invalid JSON at line 1, column 3: "},
      {u"[1]x", "err invalid JSON at line 1, column 4: "},
      {u"tru", "err invalid JSON"},
      {u"// c\n1", "err invalid JSON at line 1, column 1: "},
      {u"[1,\n  2,\n  ]", "err invalid JSON at line 3, column 3: "},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(m.run("dec", {c.text})) << utf8(c.text) << "\n" << m.printed();
    const std::string got = m.resultText();
    const std::string want = c.expected;
    if (want.compare(0, 3, "ok ") == 0)
      EXPECT_EQ(got, want) << utf8(c.text);
    else
      EXPECT_EQ(got.compare(0, want.size(), want), 0) << utf8(c.text) << " gave " << got;
  }
  // The reason quotes what was read last, cut short when that is long.
  ASSERT_TRUE(m.run("dec", {u"\"" + std::u16string(5000, u'a') + u"\\x\""}));
  EXPECT_EQ(m.resultText().rfind("err invalid JSON at line 1, column 5003: ", 0), 0u) << m.resultText();
  EXPECT_LT(m.resultText().size(), 400u);
  // Nesting is bounded: 200 levels are fine, the bracket that opens the
  // 201st is reported.
  ASSERT_TRUE(m.run("decnest", {u"200"}));
  EXPECT_EQ(m.resultText(), "ok");
  ASSERT_TRUE(m.run("decnest", {u"100000"}));
  EXPECT_EQ(m.resultText(), "invalid JSON at line 1, column 201: nesting deeper than 200");
  // Wrong arguments are errors of their own.
  Machine bad("main() { jsondecode(5); return 0; }");
  EXPECT_FALSE(bad.run("main"));
  EXPECT_EQ(bad.printed().rfind("invalid argument type\n", 0), 0u);
}

TEST(AdditionsJson, EncodesEveryKindItCanHold) {
  Machine m(std::string(kJsonHelpers) +
            "class P { x; P(); }\n"
            "P::P() { x = 1; }\n"
            "kinds(; d, v, s) {\n"
            "  d = newdict(); d[\"b\"] = 2; d[\"a\"] = newvector(); d[\"c\"] = newdict();\n"
            "  v = Vec(1, -7, 2.5, 0.1, 1e300, -0.0, 3.0, null, \"q\\\"\\\\\\n\\t\\1/\", d);\n"
            "  print(jsonencode(v), \"\\n\");\n"
            "  print(jsonencode(d, 2), \"\\n\");\n"
            "  print(jsonencode(Vec(Vec(1, 2)), 1), \"\\n\");\n"
            "  s = \"x\"; s[0] = 55296;\n"
            "  print(jsonencode(s), \" \", jsonencode(\"\xF0\x9F\x98\x80\"), \"\\n\");\n"
            "  print(enc(new P()), \"\\n\", enc(Vec(1, newbuffer(2))), \"\\n\", enc(stdout), \"\\n\");\n"
            "  print(enc(strlen), \"\\n\", enc(log(-1.0)), \"\\n\", enc(exp(1000.0)), \"\\n\");\n"
            "  v = Vec(0); v[0] = v;\n"
            "  print(enc(v), \"\\n\");\n"
            "  v[0] = null;\n"
            "  print(dec(jsonencode(jsondecode(\"[1,{\\\"k\\\":[2.5,\\\"s\\\"]}]\"), 3)), \"\\n\");\n"
            "  v = pcall(jsonencode, 1, -1); print(v[1], \"\\n\");\n"
            "  v = pcall(jsonencode, 1, \"2\"); print(v[1], \"\\n\");\n"
            "  return 0;\n"
            "}\n");
  ASSERT_TRUE(m.compiled);
  ASSERT_TRUE(m.run("kinds")) << m.printed();
  EXPECT_EQ(m.printed(),
            "[1,-7,2.5,0.1,1e+300,-0.0,3.0,null,\"q\\\"\\\\\\n\\t\\u0001/\",{\"b\":2,\"a\":[],\"c\":{}}]\n"
            "{\n  \"b\": 2,\n  \"a\": [],\n  \"c\": {}\n}\n"
            "[\n [\n  1,\n  2\n ]\n]\n"
            "\"\\ud800\" \"\xF0\x9F\x98\x80\"\n"
            "err cannot encode MVT_OBJECT as JSON\n"
            "err cannot encode MVT_BUFFER as JSON\n"
            "err cannot encode MVT_FILE as JSON\n"
            "err cannot encode MVT_CODE as JSON\n"
            "err cannot encode NaN as JSON\n"
            "err cannot encode Infinity as JSON\n"
            "err cannot encode nesting deeper than 200 as JSON\n"
            "ok [1,{\"k\":[2.5,\"s\"]}]\n"
            "invalid argument\n"
            "invalid argument type\n");
}

TEST(AdditionsProtected, CatchesRunTimeFailuresAndRestoresTheMachine) {
  Machine m(
      "class D { name; D(n); ~D(); }\n"
      "D::D(n) { name = n; }\n"
      "D::~D() { print(\"~\", name, \"\\n\"); if (name == \"bad\") return 1 / 0; return 0; }\n"
      "class F { k; F(); OP_CALL(a); }\n"
      "F::F() { k = 10; }\n"
      "F::OP_CALL(a) { return k + a; }\n"
      "fails(x; d) { d = new D(\"bad\"); return x[3]; }\n"
      "add(a, b; d) { d = new D(\"ok\"); return a + b; }\n"
      "deep(n) { return deep(n + 1); }\n"
      "main(; r) {\n"
      "  r = pcall(add, 2, 3); print(r[0], \" \", r[1], \"\\n\");\n"
      "  r = pcall(new F(), 5); print(r[0], \" \", r[1], \"\\n\");\n"
      "  r = pcall(strlen, \"abc\"); print(r[0], \" \", r[1], \"\\n\");\n"
      "  r = pcall(fails, 1); print(r[0], \" [\", r[1], \"]\\n\");\n"
      "  r = pcall(pcall, fails, 1); print(r[0], \" \", r[1][0], \"\\n\");\n"
      "  r = pcall(strlen, 1, 2); print(r[0], \" [\", r[1], \"]\\n\");\n"
      "  r = pcall(deep, 0); print(r[0], \" [\", r[1], \"]\\n\");\n"
      "  r = pcall(5);\n"
      "  return 0;\n"
      "}\n"
      "later(; r) { r = pcall(fails, 1); print(r[0], \"\\n\"); return null[1]; }\n");
  ASSERT_TRUE(m.compiled);
  EXPECT_FALSE(m.run("main"));
  // The destructor's failure while the failed call unwound is part of
  // what was caught, and the run went on.
  EXPECT_EQ(m.printed(),
            "~ok\n1 5\n"
            "1 15\n"
            "1 3\n"
            "~bad\n0 [invalid value type MVT_INTEGER, MVT_OBJECT expected\ndivide 0 error]\n"
            "~bad\n1 0\n"
            "0 [too many arguments]\n"
            "0 [call depth limit exceeded]\n"
            "invalid argument type\n");
  // A later failure that nothing catches reports only itself.
  ASSERT_FALSE(m.run("later"));
  EXPECT_EQ(m.printed(), "~bad\n0\ninvalid value type MVT_NULL, MVT_OBJECT expected\n");
  const std::string trace = utf8(m.vm.getErrorTrace());
  EXPECT_NE(trace.find("in later"), std::string::npos) << trace;
  EXPECT_EQ(trace.find("fails"), std::string::npos) << trace;
  EXPECT_EQ(trace.find("~D"), std::string::npos) << trace;
}

namespace {

bool interruptNow(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  vm->interrupt();
  args -= argc;
  args->dispose();
  return true;
}

}  // namespace

TEST(AdditionsProtected, LimitsInterruptsAndExitAreNotCaught) {
  const char* source =
      "spin(; i) { i = 0; while (1) i++; }\n"
      "grow(; s) { s = \"xxxxxxxxxxxxxxxx\"; while (1) s = s + s; }\n"
      "stop(; i) { i = 0; interruptNow(); while (1) i++; }\n"
      "leave() { exit(4); }\n"
      "guard(what; r) { r = pcall(what); print(\"caught \", r[1], \"\\n\"); return 1; }\n"
      "budget() { return guard(spin); }\n"
      "memory() { return guard(grow); }\n"
      "interrupted() { return guard(stop); }\n"
      "ends() { return guard(leave); }\n"
      "fine(; r) { r = pcall(strlen, \"ab\"); return r[1]; }\n";
  Machine m("");
  m.vm.registerNativeFunction(u"interruptNow", interruptNow);
  m.compiled = m.vm.compileText(utf16(source).c_str());
  ASSERT_TRUE(m.compiled);

  m.vm.setInstructionLimit(100000);
  EXPECT_FALSE(m.run("budget"));
  EXPECT_EQ(m.printed(), "instruction limit exceeded\n");
  m.vm.setInstructionLimit(0);

  m.vm.setMemoryLimit(8u << 20);
  EXPECT_FALSE(m.run("memory"));
  EXPECT_EQ(m.printed().find("caught"), std::string::npos) << m.printed();
  EXPECT_NE(m.printed().find("not enough memory\n"), std::string::npos) << m.printed();
  m.vm.setMemoryLimit(0);

  EXPECT_FALSE(m.run("interrupted"));
  EXPECT_EQ(m.printed(), "execution interrupted\n");

  ASSERT_TRUE(m.run("ends"));
  EXPECT_EQ(m.printed(), "");
  EXPECT_EQ(static_cast<int32_t>(m.vm.getResult()), 4);

  // The machine works as before afterwards.
  ASSERT_TRUE(m.run("fine"));
  EXPECT_EQ(static_cast<int32_t>(m.vm.getResult()), 2);
}

TEST(AdditionsExit, EndsTheRunWithItsCodeAfterTheDestructors) {
  Machine m(
      "class D { name; D(n); ~D(); }\n"
      "D::D(n) { name = n; }\n"
      "D::~D() { print(\"~\", name, \"\\n\"); if (name == \"last\") exit(9); return 0; }\n"
      "inner(n; d) { d = new D(\"inner\"); if (n == 0) exit(-3); return inner(n - 1); }\n"
      "main(; d) { d = new D(\"main\"); inner(1); print(\"not reached\\n\"); return 0; }\n"
      "bare() { exit(); }\n"
      "atend(; d) { d = new D(\"last\"); return 1; }\n"
      "wrong() { exit(1.5); }\n");
  ASSERT_TRUE(m.compiled);
  ASSERT_TRUE(m.run("main"));
  EXPECT_EQ(m.printed(), "~inner\n~inner\n~main\n");
  EXPECT_EQ(m.vm.getResult().getType(), MVT_INTEGER);
  EXPECT_EQ(static_cast<int32_t>(m.vm.getResult()), -3);
  EXPECT_EQ(utf8(m.vm.getErrorTrace()), "");

  ASSERT_TRUE(m.run("bare"));
  EXPECT_EQ(static_cast<int32_t>(m.vm.getResult()), 0);
  // exit() from a destructor that runs when the run has ended.
  ASSERT_TRUE(m.run("atend"));
  EXPECT_EQ(m.printed(), "~last\n");
  EXPECT_EQ(static_cast<int32_t>(m.vm.getResult()), 9);

  EXPECT_FALSE(m.run("wrong"));
  EXPECT_EQ(m.printed(), "invalid argument type\n");
}
