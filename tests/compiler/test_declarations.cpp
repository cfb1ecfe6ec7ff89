// Declarations: classes, members, statics, literal initialisers, directives,
// includes, information lines.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "CompilerTestUtil.h"

namespace {

std::string report(const char* msg, int line, int pos, const char* text, const char* name = "t.mox") {
  return std::string("--> ") + msg + " \nin " + name + " line " + std::to_string(line) + " pos " +
         std::to_string(pos) + " \n" + text + "\n\n";
}


}  // namespace

TEST(Declarations, ForwardDeclarationThenBody) {
  Fixture f;
  ASSERT_TRUE(f.compile("class A; class A { x; }", "t.mox", true));
  EXPECT_EQ(f.output(), "class A forward declaration\nclass A\n");
  ASSERT_NE(f.cls("A"), nullptr);
  EXPECT_EQ(f.vm.classes().count(), 1u);
  EXPECT_EQ(f.vm.classes().find(MoxString("A"))->getSymbolType(), SYM_CLASS);
  EXPECT_EQ(f.cls("A")->getDataSize(), 1);
  EXPECT_EQ(f.cls("A")->getMemberIndex(MoxString("x")), 1);
}

TEST(Declarations, BaseClassesAndSlots) {
  Fixture f;
  ASSERT_TRUE(f.compile("class A { x, y; } class B : A { z; }", "t.mox", true));
  EXPECT_EQ(f.output(), "class A\nclass B : A\n");
  MoxClass* b = f.cls("B");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->getBaseClass(), f.cls("A"));
  EXPECT_EQ(b->getDataSize(), 3);
  EXPECT_EQ(b->getMemberIndex(MoxString("z")), 3);
  EXPECT_EQ(b->getMemberIndex(MoxString("x")), 1);
  EXPECT_EQ(b->dataMembers()->find(MoxString("z"))->getSymbolType(), SYM_MEMBER);
  // The same base again is accepted; another one is not.
  EXPECT_TRUE(f.compile("class B : A { }"));
  f.out.clear();
  EXPECT_FALSE(f.compile("class C { } class B : C { }"));
  EXPECT_EQ(f.output(), report("illegal redefinition of base class", 1, 24, "class C { } class B : C { }"));
  EXPECT_EQ(b->getBaseClass(), f.cls("A"));
}

TEST(Declarations, ClassUsedAsBaseGetsNoNewMembers) {
  Fixture f;
  EXPECT_FALSE(f.compile("class A { x; } class B : A { y; } class A { z; }"));
  EXPECT_EQ(f.output(), report("classes already used as base must not define new member variables",
                               1, 46, "class A { x; } class B : A { y; } class A { z; }"));
  // The derived class's slots stay valid: A keeps one member.
  EXPECT_EQ(f.cls("A")->getDataSize(), 1);
  EXPECT_EQ(f.cls("A")->dataMembers()->find(MoxString("z")), nullptr);
  EXPECT_EQ(f.cls("B")->getMemberIndex(MoxString("y")), 2);
}

TEST(Declarations, OwnBase) {
  Fixture f;
  EXPECT_FALSE(f.compile("class A; class A : A { }"));
  EXPECT_EQ(f.output(), report("class can't be its own base", 1, 21, "class A; class A : A { }"));
  Fixture g;
  EXPECT_FALSE(g.compile("class A : A { }"));
  EXPECT_EQ(g.output(), report("undefined class", 1, 12, "class A : A { }"));
  ASSERT_NE(g.cls("A"), nullptr);
  EXPECT_EQ(g.cls("A")->getBaseClass(), nullptr);
  // A circle through a derived class is refused the same way.
  Fixture h;
  EXPECT_FALSE(h.compile("class A; class B : A { } class A : B { }"));
  EXPECT_NE(h.output().find("class can't be its own base"), std::string::npos);
  EXPECT_EQ(h.cls("A")->getBaseClass(), nullptr);
}

TEST(Declarations, StaticMembersWithLiterals) {
  Fixture f;
  ASSERT_TRUE(f.compile(
      "class A { static n = 5, s = \"x\", v = [1, [2, 3],], d = {\"k\": 1.5, \"e\": {},}, z; }"));
  MoxDictionary* dm = f.cls("A")->dataMembers();
  ASSERT_EQ(dm->count(), 5u);
  for (MoxDictionaryEntry* e = dm->getFirst(); e; e = e->getNext())
    EXPECT_EQ(e->getSymbolType(), SYM_VARIABLE);
  EXPECT_EQ(static_cast<int32_t>(dm->find(MoxString("n"))->getValue()), 5);
  EXPECT_EQ(N(static_cast<MoxString*>(dm->find(MoxString("s"))->getValue())->c_str()), "x");
  MoxVector* v = static_cast<MoxVector*>(dm->find(MoxString("v"))->getValue());
  ASSERT_NE(v, nullptr);
  ASSERT_EQ(v->size(), 2u);
  MoxVector* inner = static_cast<MoxVector*>((*v)[1]);
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(inner->size(), 2u);
  MoxDictionary* d = static_cast<MoxDictionary*>(dm->find(MoxString("d"))->getValue());
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->find(MoxString("k"))->getValue().getType(), MVT_DOUBLE);
  EXPECT_EQ(d->find(MoxString("e"))->getValue().getType(), MVT_DICTIONARY);
  EXPECT_EQ(dm->find(MoxString("z"))->getValue().getType(), MVT_NULL);
  EXPECT_EQ(f.cls("A")->getDataSize(), 0);
}

TEST(Declarations, LiteralErrors) {
  struct {
    const char* src;
    std::string first;
  } cases[] = {
      {"class A { static m = -1; }", report("literal expected", 1, 23, "class A { static m = -1; }")},
      {"#defvar V [1 2]", report("',' or ']' expected", 1, 15, "#defvar V [1 2]")},
      {"#defvar V [1, 2; ]", report("expected ']', found ';'", 1, 16, "#defvar V [1, 2; ]")},
      {"#defvar V {\"a\": 1 \"b\"}", report("',' or '}' expected", 1, 21, "#defvar V {\"a\": 1 \"b\"}")},
      {"#defvar V {\"a\": 1;}", report("expected '}', found ';'", 1, 18, "#defvar V {\"a\": 1;}")},
      {"#defvar V {1: 2}", report("expected '<string>', found '<long>'", 1, 13, "#defvar V {1: 2}")},
  };
  for (auto& c : cases) {
    Fixture f;
    EXPECT_FALSE(f.compile(c.src)) << c.src;
    EXPECT_EQ(f.output().substr(0, c.first.size()), c.first) << c.src;
  }
}

TEST(Declarations, ClassBodyErrors) {
  struct {
    const char* src;
    const char* msg;
    int pos;
  } cases[] = {
      {"class A { ~B(); }", "destructor declaration expected", 13},
      {"class A { static dtor(); }", "destructor can't be static", 22},
      {"class A { static A(); }", "constructor can't be static", 19},
      {"class A { 5 }", "member declaration expected", 12},
      {"class A { x; static x(); y }", "expected ';', found '}'", 28},
      {"class A { f(; }", "expected '<ident>', found ';'", 13},
  };
  for (auto& c : cases) {
    Fixture f;
    EXPECT_FALSE(f.compile(c.src)) << c.src;
    EXPECT_EQ(f.output().substr(0, report(c.msg, 1, c.pos, c.src).size()),
              report(c.msg, 1, c.pos, c.src)) << c.src;
  }
  Fixture f;
  EXPECT_FALSE(f.compile("class A { x; "));
  EXPECT_EQ(f.output(), report("unexpected EOF", 1, 14, "class A { x; "));
  Fixture g;
  EXPECT_FALSE(g.compile("class A { x; } class B { static x; } class A { static x; }"));
  EXPECT_NE(g.output().find("object member data can't be redifined as static"), std::string::npos);
  EXPECT_EQ(g.cls("A")->dataMembers()->find(MoxString("x"))->getSymbolType(), SYM_MEMBER);
  // Missing name or brace fails the compile at once.
  Fixture h;
  EXPECT_FALSE(h.compile("class ; f() { }"));
  EXPECT_EQ(h.proc("f"), nullptr);
  Fixture i;
  EXPECT_FALSE(i.compile("class A x; f() { }"));
  EXPECT_EQ(i.proc("f"), nullptr);
}

TEST(Declarations, MethodDeclarationsAndDefinitions) {
  Fixture f;
  ASSERT_TRUE(f.compile("class A { A(a, b); ~A(); m(x); static s(); } A::m(x) { } A::k() { }"
                        "A::~A() { } A::s() { }",
                        "t.mox", true));
  EXPECT_EQ(f.output(),
            "class A\nmember function A::m\nmember function A::k\nmember function A::dtor\n"
            "member function A::s\n");
  MoxDictionary* fm = f.cls("A")->funcMembers();
  EXPECT_EQ(fm->find(MoxString("A"))->getSymbolType(), SYM_METHOD);
  EXPECT_EQ(fm->find(MoxString("A"))->getValue().getType(), MVT_NULL);  // declared only
  EXPECT_EQ(fm->find(MoxString("dtor"))->getSymbolType(), SYM_METHOD);
  EXPECT_EQ(fm->find(MoxString("s"))->getSymbolType(), SYM_FUNCTION);
  // Defined without a declaration: an object method.
  EXPECT_EQ(fm->find(MoxString("k"))->getSymbolType(), SYM_METHOD);
  EXPECT_NE(f.proc("k", "A"), nullptr);
}

TEST(Declarations, MemberFunctionErrors) {
  Fixture f;
  EXPECT_FALSE(f.compile("class A { } A::~B() { }"));
  EXPECT_EQ(f.output(), report("illegal destructor definition", 1, 18, "class A { } A::~B() { }"));
  EXPECT_NE(f.proc("dtor", "A"), nullptr);

  Fixture g;
  EXPECT_FALSE(g.compile("class A { x; } A::x() { } f() { }"));
  EXPECT_EQ(g.output(), report("illegal redefinition", 1, 20, "class A { x; } A::x() { } f() { }"));
  EXPECT_NE(g.proc("f"), nullptr);

  // An undefined class before :: is fatal.
  Fixture h;
  EXPECT_FALSE(h.compile("Z::f() { } g() { }"));
  EXPECT_EQ(h.output(), report("undefined class", 1, 3, "Z::f() { } g() { }"));
  EXPECT_EQ(h.proc("g"), nullptr);
}

TEST(Declarations, GlobalFunctionsReplacePreviousDefinitions) {
  Fixture f;
  ASSERT_TRUE(f.compile("f() { 1; } f() { }", "t.mox", true));
  EXPECT_EQ(f.output(), "function f\nfunction f\n");
  EXPECT_EQ(f.symbol("f")->getSymbolType(), SYM_FUNCTION);
  EXPECT_CODE(f.code("f"), OP_PUSH, OP_NIL, OP_RETURN);
}

TEST(Declarations, Defvar) {
  Fixture f;
  ASSERT_TRUE(f.compile("#defvar LIMIT 100\n#defvar NAMES [\"a\", \"b\"]\n#defvar NOTHING null"));
  EXPECT_EQ(f.symbol("LIMIT")->getSymbolType(), SYM_VARIABLE);
  EXPECT_EQ(static_cast<int32_t>(f.symbol("LIMIT")->getValue()), 100);
  EXPECT_EQ(f.symbol("NAMES")->getValue().getType(), MVT_VECTOR);
  EXPECT_EQ(f.symbol("NOTHING")->getSymbolType(), SYM_VARIABLE);
}

TEST(Declarations, Endsrc) {
  Fixture f;
  EXPECT_TRUE(f.compile("f() { }\n#endsrc\n this is not code ;;; {"));
  EXPECT_NE(f.proc("f"), nullptr);
  Fixture g;
  EXPECT_FALSE(g.compile("; #endsrc"));
  Fixture h;
  EXPECT_FALSE(h.compile("class A { #endsrc }"));
}

TEST(Declarations, DirectiveErrors) {
  Fixture f;
  EXPECT_FALSE(f.compile("#foo f() { }"));
  EXPECT_EQ(f.output(), report("undefined preprocessor symbol", 1, 5, "#foo f() { }"));
  EXPECT_NE(f.proc("f"), nullptr);
  Fixture g;
  EXPECT_FALSE(g.compile("#import \"no_such_module_xyz\" f() { }"));
  EXPECT_EQ(g.output(), report("native module import failed", 1, 28,
                               "#import \"no_such_module_xyz\" f() { }"));
  EXPECT_NE(g.proc("f"), nullptr);
  Fixture h;
  EXPECT_FALSE(h.compile("#use \"no_such_module_xyz.mxm\""));
  EXPECT_NE(h.output().find(report("library import failed", 1, 29, "#use \"no_such_module_xyz.mxm\"")),
            std::string::npos);
  Fixture i;
  EXPECT_FALSE(i.compile("#import 5"));
  EXPECT_EQ(i.output(), report("expected '<string>', found '<long>'", 1, 10, "#import 5"));
  Fixture j;
  EXPECT_FALSE(j.compile("# 5"));
  EXPECT_EQ(j.output().substr(0, 40), report("expected '<ident>', found '<long>'", 1, 4, "# 5").substr(0, 40));
}

TEST(Declarations, IncludeReadsFilesInPlace) {
  TempDir dir;
  dir.write("lib/util.mox", "util() { }\n");
  std::string inc = dir.write("inc.mox", "class I { a; }\n#include \"" + dir.path() + "/lib/util.mox\"\n");
  Fixture f;
  ASSERT_TRUE(f.compile("before() { }\n#include \"" + inc + "\"\nafter() { }"));
  EXPECT_NE(f.proc("before"), nullptr);
  EXPECT_NE(f.proc("util"), nullptr);
  EXPECT_NE(f.proc("after"), nullptr);
  EXPECT_NE(f.cls("I"), nullptr);

  // The <...> form joins name parts; the file is opened relative to the
  // current folder.
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  Fixture g;
  bool ok = g.compile("#include <lib/util.mox>\n");
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_TRUE(ok);
  EXPECT_NE(g.proc("util"), nullptr);
}

TEST(Declarations, IncludeErrors) {
  TempDir dir;
  std::string bad = dir.write("bad.mox", "ok() { }\n\nf() { ; ]; }\n");
  Fixture f;
  EXPECT_FALSE(f.compile("#include \"" + bad + "\"\ng() { }", "main.mox"));
  // The report names the included file and its own line.
  EXPECT_EQ(f.output(), report("primary expression expected", 3, 9, "f() { ; ]; }", bad.c_str()));
  EXPECT_NE(f.proc("g"), nullptr);

  Fixture g;
  std::string src = "#include \"/no/such/file.mox\"\nh() { }";
  EXPECT_FALSE(g.compile(src, "main.mox"));
  EXPECT_EQ(g.output(), "/no/such/file.mox " +
                            report("file not found", 1, 28, "#include \"/no/such/file.mox\"", "main.mox"));
  EXPECT_EQ(g.proc("h"), nullptr);  // a failed include ends the compilation

  Fixture h;
  EXPECT_FALSE(h.compile("#include <>"));
  EXPECT_EQ(h.output(), report("include file name expected", 1, 12, "#include <>"));
  Fixture i;
  EXPECT_FALSE(i.compile("#include <a/b"));
  EXPECT_NE(i.output().find("expected '>', found '<eof>'"), std::string::npos);
}

TEST(Declarations, IncludeCyclesEnd) {
  TempDir dir;
  std::string self = dir.path() + "/self.mox";
  dir.write("self.mox", "f() { }\n#include \"" + self + "\"\n");
  Fixture f;
  EXPECT_FALSE(f.compile("#include \"" + self + "\"\n"));
  EXPECT_NE(f.output().find("include files nested too deeply"), std::string::npos);
  EXPECT_NE(f.proc("f"), nullptr);
}

TEST(Declarations, IncludeInsideFunctionBody) {
  TempDir dir;
  std::string part = dir.write("part.mox", "x = 1;\n");
  Fixture f;
  ASSERT_TRUE(f.compile("f() { #include \"" + part + "\"\n y = 2; }"));
  EXPECT_CODE(f.code("f"), OP_PUSH, OP_LIT, 4, OP_SET, 3, OP_LIT, 6, OP_SET, 5, OP_RETURN);
}

TEST(Declarations, CompileFromStream) {
  TempDir dir;
  std::string path = dir.write("s.mox", "s() { }\n");
  FILE* fp = fopen(path.c_str(), "r");
  Fixture f;
  MoxCompiler c(f.vm, &f.out);
  EXPECT_TRUE(c.compile(fp, u"s.mox"));
  EXPECT_NE(f.proc("s"), nullptr);
  // The stream is still the caller's and open.
  EXPECT_EQ(fseek(fp, 0, SEEK_SET), 0);
  fclose(fp);
  EXPECT_FALSE(c.compile(static_cast<FILE*>(nullptr), u"x"));
  EXPECT_FALSE(c.compile(static_cast<const MoxChar*>(nullptr), u"x"));
  EXPECT_EQ(f.output(),
            "MoxCompiler::compile(FILE* fp) invalid file handle\n"
            "MoxCompiler::compile(const MoxChar* src) invalid source\n");
}

TEST(Declarations, MachineCompileEntryPoints) {
  TempDir dir;
  std::string path = dir.write("m.mox", "m() { }\n");
  MoxStringPrinter vmOut, out;
  MoxVirtualMachine vm(&vmOut);
  std::u16string p = U(path);
  EXPECT_TRUE(vm.compileFile(p.c_str(), true, false, &out));
  EXPECT_EQ(N(out.c_str()), "function m\n");
  EXPECT_FALSE(vm.compileFile(nullptr));
  EXPECT_FALSE(vm.compileFile(u"/no/such.mox", false, false, &out));
  EXPECT_EQ(N(vmOut.c_str()), "error opening file /no/such.mox\n");
  EXPECT_FALSE(vm.compileText(nullptr));
  out.clear();
  EXPECT_FALSE(vm.compileText(u"'ab'", false, false, &out));
  EXPECT_EQ(N(out.c_str()).substr(0, 50), report("closing single quote expected", 1, 3, "'ab'", "").substr(0, 50));
  // With debug output the tracer lists every procedure.
  MoxStringPrinter listing;
  EXPECT_TRUE(vm.compileText(u"d() { }", false, true, &out, &listing));
  EXPECT_NE(std::string(listing.a_str()).find("OP_RETURN"), std::string::npos);
}

TEST(Declarations, NativeModules) {
  MoxVirtualMachine vm;
  EXPECT_FALSE(vm.loadNativeModule(nullptr));
  EXPECT_FALSE(vm.loadNativeModule(u"no_such_module_xyz"));
  EXPECT_EQ(vm.modules().count(), 0u);
  // A library without an entry point is loaded and recorded, but fails; a
  // second load finds it recorded.
  EXPECT_FALSE(vm.loadNativeModule(u"libm.so.6"));
  ASSERT_EQ(vm.modules().count(), 1u);
  EXPECT_NE(vm.modules().getFirst()->getValue().ptr(), nullptr);
  EXPECT_TRUE(vm.loadNativeModule(u"libm.so.6"));
  EXPECT_EQ(vm.modules().count(), 1u);
}
