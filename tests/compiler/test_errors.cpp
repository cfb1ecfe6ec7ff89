// Error reports of function bodies and expressions, the error limit, and
// hostile input: deep nesting, garbage, unterminated constructs.
#include "CompilerTestUtil.h"

namespace {

std::string report(const char* msg, int line, int pos, const std::string& text) {
  return std::string("--> ") + msg + " \nin t.mox line " + std::to_string(line) + " pos " +
         std::to_string(pos) + " \n" + text + "\n\n";
}

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t i = text.find(what); i != std::string::npos; i = text.find(what, i + 1)) ++n;
  return n;
}

}  // namespace

TEST(Errors, BodyAndExpressionMessages) {
  struct {
    const char* src;
    const char* msg;
    int pos;
  } cases[] = {
      {"f() { break; }", "break outside of loop found", 12},
      {"f() { continue; }", "continue outside of loop found", 15},
      {"f() { 5 = x; }", "lvalue expected", 10},
      {"f() { f() = 1; }", "lvalue expected", 12},
      {"f() { a = 1 = 2; }", "lvalue expected", 14},
      {"f() { 3++; }", "lvalue expected", 9},
      {"f() { return; }", "primary expression expected", 13},
      {"f() { - -x; }", "primary expression expected", 10},
      {"f() { !!x; }", "primary expression expected", 9},
      {"f() { x }", "expected ';', found '}'", 9},
      {"f() { g(1; }", "expected ')', found ';'", 10},
      {"f() { a[1; }", "expected ']', found ';'", 10},
      {"f() { a ? b ; }", "expected ':', found ';'", 13},
      {"f() { if 1; }", "expected '(', found '<long>'", 11},
      {"f() { do ; (x); }", "expected 'while', found '('", 12},
      {"f() { a->5; }", "expected '<ident>', found '<long>'", 11},
      {"f() { new 5; }", "expected '<ident>', found '<long>'", 12},
      {"f() { new Q(); }", "undefined class", 12},
      {"f() { Q::x; }", "undefined class", 9},
      {"class A { x; m(); } f() { A::x; }", "not a static class member", 31},
      {"class A { x; m(); } f() { A::m; }", "not a static class member", 31},
      {"class A { } f() { A::y; }", "not a class member", 23},
      {"f() x; }", "expected '{', found '<ident>'", 6},
      {"f() { x;", "unexpected EOF in block", 9},
      {"class A { x; static s(); } A::s() { x; }", "not a static class member", 38},
  };
  for (auto& c : cases) {
    Fixture f;
    EXPECT_FALSE(f.compile(c.src)) << c.src;
    std::string want = report(c.msg, 1, c.pos, c.src);
    EXPECT_EQ(f.output().substr(0, want.size()), want) << c.src;
  }
}

TEST(Errors, TopLevelMessages) {
  Fixture f;
  EXPECT_FALSE(f.compile("f g"));
  EXPECT_EQ(f.output(), report("function declaration expected", 1, 4, "f g"));
  Fixture g;
  EXPECT_FALSE(g.compile(";"));
  EXPECT_EQ(g.output(), report("declaration expected", 1, 1, ";"));
  // An unclosed parameter list fails the compile at once.
  Fixture h;
  EXPECT_FALSE(h.compile("f(a { } g() { }"));
  EXPECT_EQ(h.output(), report("expected ')', found '{'", 1, 5, "f(a { } g() { }"));
  EXPECT_EQ(h.proc("g"), nullptr);
  // A lexical error is reported and skipped.
  Fixture i;
  EXPECT_FALSE(i.compile("'\\1.5' g() { }"));
  EXPECT_EQ(count(i.output(), "number literal expected"), 1u);
}

TEST(Errors, OneErrorStillEntersEverythingElse) {
  Fixture f;
  EXPECT_FALSE(f.compile("a() { }\n;\nclass C { x; }\nb() { break; }\nc() { }\n#defvar V 1"));
  EXPECT_EQ(count(f.output(), "-->"), 2u);
  EXPECT_NE(f.proc("a"), nullptr);
  EXPECT_NE(f.proc("b"), nullptr);
  EXPECT_NE(f.proc("c"), nullptr);
  EXPECT_NE(f.cls("C"), nullptr);
  EXPECT_EQ(f.symbol("V")->getSymbolType(), SYM_VARIABLE);
}

TEST(Errors, TenErrorsStopTheCompilation) {
  Fixture f;
  EXPECT_FALSE(f.compile(";;;;;;;;;;;;;;; late() { }"));
  EXPECT_EQ(count(f.output(), "declaration expected"), 10u);
  EXPECT_EQ(f.proc("late"), nullptr);
  // Also within one function body.
  Fixture g;
  std::string body = "f() {";
  for (int i = 0; i < 50; ++i) body += " break;";
  body += " } late() { }";
  EXPECT_FALSE(g.compile(body));
  EXPECT_EQ(count(g.output(), "-->"), 10u);
  EXPECT_EQ(g.proc("late"), nullptr);
}

TEST(Errors, DeepNestingFailsCleanly) {
  const int depth = 100000;
  struct {
    std::string open, close;
    const char* prefix;
  } shapes[] = {
      {"(", ")", "f() { x = "},
      {"{", "}", "f() "},
      {"[", "]", "#defvar V "},
      {"[", "]", "f() { x = "},
      {"if (1) ", "", "f() { "},
      {"a[", "]", "f() { "},
      {"g(", ")", "f() { "},
      {"a = ", "", "f() { "},
      {"1 ? 2 : ", "3", "f() { "},
      {"{\"k\": ", "}", "class A { static s = "},
  };
  for (auto& s : shapes) {
    std::string src = s.prefix;
    src.reserve(src.size() + depth * (s.open.size() + s.close.size()) + 10);
    for (int i = 0; i < depth; ++i) src += s.open;
    src += "1";
    for (int i = 0; i < depth; ++i) src += s.close;
    Fixture f;
    EXPECT_FALSE(f.compile(src)) << s.open;
    EXPECT_EQ(count(f.output(), "-->"), 1u) << s.open;
    EXPECT_NE(f.output().find("nesting too deep"), std::string::npos) << s.open;
  }
  // Moderate nesting is fine.
  std::string ok = "f() { x = ";
  for (int i = 0; i < 200; ++i) ok += "(";
  ok += "1";
  for (int i = 0; i < 200; ++i) ok += ")";
  ok += "; }";
  Fixture f;
  EXPECT_TRUE(f.compile(ok)) << f.output();
}

TEST(Errors, UnterminatedConstructsAtTheEnd) {
  const char* srcs[] = {"f() { x = \"abc", "f() { /* open", "class A { static s = [1, ",
                        "f() { if (", "#include <a", "class", "f(", "f() { x = 'a"};
  for (const char* s : srcs) {
    Fixture f;
    EXPECT_FALSE(f.compile(s)) << s;
    EXPECT_LE(count(f.output(), "-->"), 10u) << s;
  }
}

TEST(Errors, GarbageNeverHangs) {
  uint32_t seed = 12345;
  for (int round = 0; round < 50; ++round) {
    std::u16string src;
    for (int i = 0; i < 2000; ++i) {
      seed = seed * 1103515245u + 12345u;
      src += MoxChar(1 + (seed >> 16) % 0x2FF);
    }
    MoxStringPrinter out;
    MoxVirtualMachine vm(&out);
    MoxCompiler c(vm, &out);
    c.compile(src.c_str(), u"junk");
    EXPECT_LE(count(out.a_str(), "-->"), 10u);
  }
}

TEST(Errors, UndefinedClassInAnExpressionGoesOn) {
  Fixture f;
  EXPECT_FALSE(f.compile("d() { Undefined::x = 1; return 2; } e() { }"));
  // The unresolved operand also draws a follow-up report.
  EXPECT_EQ(count(f.output(), "-->"), 2u);
  EXPECT_EQ(count(f.output(), "undefined class"), 1u);
  EXPECT_EQ(count(f.output(), "lvalue expected"), 1u);
  EXPECT_CODE(f.code("d"), OP_PUSH, OP_LIT, 3, OP_LIT, 4, OP_RETURN, OP_RETURN);
  EXPECT_NE(f.proc("e"), nullptr);
}
