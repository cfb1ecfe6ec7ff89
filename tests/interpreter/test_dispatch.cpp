// Message sends: lookup, "BC_" selectors, static methods, operator
// messages, destructors, type checks and the error text.
#include "InterpTestUtil.h"

namespace {

MoxInterpreter* gIn = nullptr;
int gNegArgc = -1;

// A native method: records its argument count, answers 99.
bool nativeNeg(MoxVirtualMachine*, int argc, ValPtr& args) {
  gNegArgc = argc;
  EXPECT_EQ(args[0].type(), MVT_OBJECT);
  args -= argc;
  *args = MoxValue(int32_t(99));
  return true;
}

// Runs main through the machine, so destructors of dying objects run.
struct VmRun : Interp {
  bool exec(const char* fn = "main") {
    std::u16string name = U(fn);
    MoxStringPrinter err;
    bool ok = vm.execute(name.c_str(), 0, nullptr, false, &err);
    lastErrors = err.a_str();
    return ok;
  }
  std::string lastErrors;
  std::string log() {
    MoxDictionaryEntry* e = vm.symbols().find(MoxString("trail"));
    if (!e || e->getValue().type() != MVT_STRING) return "<none>";
    return N(static_cast<MoxString*>(e->getValue().getRef())->c_str());
  }
};

const char* kClasses =
    "class A { A(); f(); g(); ~A(); }"
    "A::A() { } A::f() { return 1; } A::g() { return 10; } A::~A() { trail = trail + \"A\"; }"
    "class B : A { B(); f(); h(); ~B(); }"
    "B::B() { } B::f() { return 2; } B::h() { return this->BC_f() * 100 + this->f(); }"
    "B::~B() { trail = trail + \"B\"; }"
    "class C : B { C(); f(); ~C(); } C::C() { } C::f() { return 3; } C::~C() { trail = trail + \"C\"; }";

}  // namespace

TEST(Send, MethodsArgumentsAndLookup) {
  Interp t;
  ASSERT_TRUE(t.compile(kClasses));
  // Argument 0 of a method is the receiver, the send's arguments follow.
  ASSERT_TRUE(t.runSource("class P { P(); f(a, b); } P::P() { } P::f(a, b) { return a * 10 + b; }"
                          "main(;p) { p = new P(); return p->f(1, 2); }"))
      << t.errors();
  EXPECT_EQ(t.topInt(), 12);
  ASSERT_TRUE(t.runSource("main(;b) { b = new B(); return b->f() * 10 + b->g(); }")) << t.errors();
  EXPECT_EQ(t.topInt(), 30);
  // From a method of B, BC_f starts at B's base.
  ASSERT_TRUE(t.runSource("main(;c) { c = new C(); return c->h(); }")) << t.errors();
  EXPECT_EQ(t.topInt(), 103);
  // From a global function, BC_f starts at the receiver's class.
  ASSERT_TRUE(t.runSource("main(;c) { c = new C(); return c->BC_f(); }")) << t.errors();
  EXPECT_EQ(t.topInt(), 2);
  EXPECT_FALSE(t.runSource("main(;b) { b = new B(); return b->nothing(1); }"));
  EXPECT_EQ(t.errors(), "no method for name nothing\n");
  EXPECT_FALSE(t.runSource("main() { return 5->f(); }"));
  EXPECT_EQ(t.errors(), "invalid value type MVT_INTEGER, MVT_OBJECT expected\n");
}

TEST(Send, StaticMethodsHaveNoReceiver) {
  Interp t;
  ASSERT_TRUE(t.runSource("class S { S(); static twice(x); } S::S() { } S::twice(x) { return x * 2; }"
                          "main(;s) { s = new S(); return s->twice(5) + S::twice(100); }"))
      << t.errors();
  EXPECT_EQ(t.topInt(), 210);
}

TEST(Send, DeclaredButUndefinedAndNative) {
  Interp t;
  gIn = t.in;
  ASSERT_TRUE(t.compile("class D { D(); m(); } D::D() { }"));
  EXPECT_FALSE(t.runSource("main(;d) { d = new D(); return d->m(); }"));
  EXPECT_EQ(t.errors(), "mhas no method implementation\n\n");
  MoxDictionaryEntry* cls = t.vm.classes().find(MoxString("D"));
  static_cast<MoxClass*>(cls->getValue().getRef())->addMethod(MoxString("OP_NEG"), nativeNeg);
  ASSERT_TRUE(t.runSource("main(;d) { d = new D(); return -d; }")) << t.errors();
  EXPECT_EQ(t.topInt(), 99);
  EXPECT_EQ(gNegArgc, 1);
}

TEST(Send, OperatorMessages) {
  Interp t;
  ASSERT_TRUE(t.compile(
      "class V { n; V(x); OP_ADD(o); OP_ADD_R(o); compare(o); OP_VREF(i); OP_VSET(i, v); OP_CALL(a, b); }"
      "V::V(x) { n = x; } V::OP_ADD(o) { return n + o; } V::OP_ADD_R(o) { return o * 1000 + n; }"
      "V::compare(o) { return n - o; } V::OP_VREF(i) { return n + i; } V::OP_VSET(i, v) { n = i * v; return n; }"
      "V::OP_CALL(a, b) { return a - b; }"));
  ASSERT_TRUE(t.runSource("main(;v) { v = new V(7); return v + 1; }")) << t.errors();
  EXPECT_EQ(t.topInt(), 8);
  ASSERT_TRUE(t.runSource("main(;v) { v = new V(7); return 1 + v; }")) << t.errors();
  EXPECT_EQ(t.topInt(), 1007);
  ASSERT_TRUE(t.runSource("main(;v) { v = new V(7); return (v < 8) + (8 < v) * 2 + (v == 7) * 4; }"));
  EXPECT_EQ(t.topInt(), 5);
  ASSERT_TRUE(t.runSource("main(;v) { v = new V(7); v[3] = 4; return v[1] + v(10, 4); }")) << t.errors();
  EXPECT_EQ(t.topInt(), 19);
  EXPECT_FALSE(t.runSource("main(;v) { v = new V(7); return v * 2; }"));
  EXPECT_EQ(t.errors(), "no method for name OP_MUL\n");
}

TEST(Send, DestructorChainsRunEachLevelOnce) {
  VmRun t;
  ASSERT_TRUE(t.compile(kClasses));
  ASSERT_TRUE(t.compile("main(;c) { trail = \"\"; c = new C(); c = null; return 0; }"));
  ASSERT_TRUE(t.exec()) << t.lastErrors;
  EXPECT_EQ(t.log(), "CBA");
  // Only the derived class has a destructor: the chained BC_dtor finds
  // nothing and succeeds.
  ASSERT_TRUE(t.compile("class X { X(); } X::X() { } class Y : X { Y(); ~Y(); } Y::Y() { }"
                        "Y::~Y() { trail = trail + \"Y\"; }"
                        "two(;y) { trail = \"\"; y = new Y(); y = 1; return 0; }"));
  ASSERT_TRUE(t.exec("two")) << t.lastErrors;
  EXPECT_EQ(t.log(), "Y");
  // A reference does not keep the object alive; delete destroys it.
  ASSERT_TRUE(t.compile("three(;r) { trail = \"\"; r => new B(); trail = trail + \"-\"; delete r; return 0; }"));
  ASSERT_TRUE(t.exec("three")) << t.lastErrors;
  EXPECT_EQ(t.log(), "-BA");
  // Locals of main die when the run ends, while the interpreter still works.
  ASSERT_TRUE(t.compile("four(;a) { trail = \"\"; a = new A(); return 0; }"));
  ASSERT_TRUE(t.exec("four")) << t.lastErrors;
  EXPECT_EQ(t.log(), "A");
}

TEST(Errors, TextAndTypeChecks) {
  Interp t;
  MoxInterpreter& in = *t.in;
  EXPECT_FALSE(in.returnError(u"msg", u"detail"));
  EXPECT_FALSE(in.returnError(u"only", nullptr));
  EXPECT_FALSE(in.returnError(nullptr, nullptr));
  EXPECT_EQ(t.errors(), "msgdetail\nonly\n\n");
  in.reset();
  EXPECT_EQ(t.errors(), "");
  MoxObject* obj = new MoxObject(nullptr);
  MoxValue objRef(obj, true);
  EXPECT_TRUE(in.checkType(objRef, MVT_OBJECT));
  MoxString* s = new MoxString(u"s");
  MoxValue counted(s);
  MoxValue strRef(s, true);
  EXPECT_FALSE(in.checkType(strRef, MVT_STRING));
  EXPECT_EQ(t.errors(), "invalid value type MVT_STRINGREF, MVT_STRING expected\n");
  EXPECT_TRUE(in.checkType(MoxValue(int32_t(1)), MVT_INTEGER));
  EXPECT_FALSE(in.checkType(MoxValue(2.0), MVT_FLOAT));
  EXPECT_FALSE(in.noMethod(u"zz"));
  EXPECT_NE(t.errors().find("no method for name zz\n"), std::string::npos);
  delete obj;
}

TEST(Errors, StringFromValue) {
  Interp t;
  ASSERT_TRUE(t.compile("class T { T(); toString(); } T::T() { } T::toString() { return \"tee\"; }"
                        "class N { N(); } N::N() { } mk() { return new T(); } mkn() { return new N(); }"));
  MoxValue i(int32_t(3));
  EXPECT_EQ(t.in->getStringFromValue(i), nullptr);
  MoxString* s = new MoxString(u"x");
  MoxValue sv(s);
  EXPECT_EQ(t.in->getStringFromValue(sv), s);
  ASSERT_TRUE(t.run("mk"));
  MoxValue obj = t.top();
  MoxString* r = t.in->getStringFromValue(obj);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(N(r->c_str()), "tee");
  ASSERT_TRUE(t.run("mkn"));
  MoxValue plain = t.top();
  EXPECT_EQ(t.in->getStringFromValue(plain), nullptr);
}

TEST(Send, DestructorDuringAnExpressionKeepsTheFrame) {
  // The destructor runs while operands of main's expression are pending and
  // grows the stack far enough to move its block; the expression still
  // finds its operands.
  VmRun t;
  ASSERT_TRUE(t.compile("class D { D(); ~D(); } D::D() { } D::~D() { trail = deep(3000); }"
                        "deep(n) { if (n == 0) return 0; return 1 + deep(n - 1); }"
                        "add3(a, b, c) { return a * 100 + b * 10 + c; }"
                        "main(;d) { d = new D(); return 7 + add3(1, (d = 2), 3) + d; }"));
  ASSERT_TRUE(t.exec()) << t.lastErrors;
  EXPECT_EQ(int32_t(t.vm.getResult()), 7 + 123 + 2);
  EXPECT_EQ(int32_t(t.vm.symbols().find(MoxString("trail"))->getValue()), 3000);
}

namespace {

// A native method of class E that gives E an own "f" (a native one) while
// the script keeps sending "f" from one instruction.
bool gainF(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  MoxDictionaryEntry* e = vm->classes().find(MoxString("E"));
  static_cast<MoxClass*>(e->getValue().getRef())->addMethod(MoxString("f"), nativeNeg);
  args -= argc;
  *args = MoxValue(int32_t(0));
  return true;
}

}  // namespace

TEST(Send, CachedLookupFollowsAClassThatGainsAMethod) {
  Interp t;
  ASSERT_TRUE(t.compile("class P { P(); f(); } P::P() { } P::f() { return 1; }"
                        "class E : P { E(); } E::E() { }"));
  MoxDictionaryEntry* e = t.vm.classes().find(MoxString("E"));
  static_cast<MoxClass*>(e->getValue().getRef())->addMethod(MoxString("gain"), gainF);
  // Each pass sends f from the same instruction; after the third E has its
  // own f (answering 99) and the cached inherited one must not be used.
  ASSERT_TRUE(t.runSource("main(;o, i, s) { o = new E(); s = 0;"
                          " for (i = 0; i < 6; i++) { if (i == 3) o->gain(); s = s * 2 + (o->f() == 99); }"
                          " return s; }"))
      << t.errors();
  EXPECT_EQ(t.topInt(), 7);  // binary 000111
  ASSERT_TRUE(t.runSource("main(;o, i, s) { o = new E(); s = 0;"
                          " for (i = 0; i < 4; i++) s = s + o->f(); return s; }"))
      << t.errors();
  EXPECT_EQ(t.topInt(), 4 * 99);
}

TEST(Send, OneSiteKeepsALookupPerClass) {
  Interp t;
  // One send instruction meets objects of three classes in turn, one of
  // them inheriting f; each keeps its own answer, also after E gains its
  // own f in the middle of the run.
  ASSERT_TRUE(t.compile("class P { P(); f(); } P::P() { } P::f() { return 1; }"
                        "class Q { Q(); f(); } Q::Q() { } Q::f() { return 10; }"
                        "class E : P { E(); } E::E() { }"));
  MoxDictionaryEntry* e = t.vm.classes().find(MoxString("E"));
  static_cast<MoxClass*>(e->getValue().getRef())->addMethod(MoxString("gain"), gainF);
  ASSERT_TRUE(t.runSource("main(;v, i, s) { v = T(new P(), new Q(), new E()); s = 0;"
                          " for (i = 0; i < 12; i++) { if (i == 6) v[2]->gain();"
                          " s = s + v[i % 3]->f(); } return s; }"))
      << t.errors();
  EXPECT_EQ(t.topInt(), 4 * 1 + 4 * 10 + 2 * 1 + 2 * 99);
}

TEST(Send, MethodReplacedWhileItRuns) {
  Interp t;
  // The running activation keeps its own procedure; the next send finds
  // the new one.
  ASSERT_TRUE(t.compile("class R { R(); f(n); } R::R() { }"
                        "R::f(n) { if (n) compile(\"R::f(n) { return 7; }\");"
                        " return 1; }"));
  ASSERT_TRUE(t.runSource("main(;r, a, b, c) { r = new R(); a = r->f(0); b = r->f(1);"
                          " c = r->f(1); return a * 100 + b * 10 + c; }"))
      << t.errors();
  EXPECT_EQ(t.topInt(), 117);
}

TEST(Send, DestructorOfAnOverwrittenElement) {
  VmRun t;
  ASSERT_TRUE(t.compile(kClasses));
  // Once v[0] is overwritten, v[1] holds the last reference: A's destructor
  // runs when that element is overwritten, before the next statement.
  ASSERT_TRUE(t.compile("main(;v) { trail = \"<\"; v = newvector(2); v[0] = new A(); v[1] = v[0];"
                        " v[0] = 1; trail = trail + \"|\"; v[1] = v[0]; trail = trail + \">\";"
                        " return 0; }"));
  ASSERT_TRUE(t.exec()) << t.lastErrors;
  EXPECT_EQ(t.log(), "<|A>");
}

namespace {

// A native method f(x): the receiver and x arrive, x + 90 goes back.
bool nativePlus90(MoxVirtualMachine*, int argc, ValPtr& args) {
  EXPECT_EQ(argc, 2);
  EXPECT_EQ(args[-1].type(), MVT_OBJECT);
  const int32_t x = args[0];
  args -= argc;
  *args = MoxValue(x + 90);
  return true;
}

}  // namespace

TEST(Send, OneSiteAcrossEveryKindOfMethod) {
  Interp t;
  // One send instruction meets, in turn and again: a bytecode method (the
  // site caches it), a static method of the same name, a native method,
  // a method declared without a body and a receiver that is no object.
  // Each must take the path its kind needs, whatever the site holds.
  ASSERT_TRUE(t.compile("class P { P(); f(x); } P::P() { } P::f(x) { return x + 1; }"
                        "class S { S(); static f(x); } S::S() { } S::f(x) { return x * 10; }"
                        "class N { N(); } N::N() { }"
                        "class U { U(); f(x); } U::U() { }"
                        "probe(o, x) { return o->f(x); }"));
  MoxDictionaryEntry* n = t.vm.classes().find(MoxString("N"));
  static_cast<MoxClass*>(n->getValue().getRef())->addMethod(MoxString("f"), nativePlus90);
  ASSERT_TRUE(t.runSource("main(;p, s, n, i, r) { p = new P(); s = new S(); n = new N(); r = 0;"
                          " for (i = 0; i < 3; i++)"
                          "   r = r + probe(p, 1) + probe(s, 2) + probe(s, 2) + probe(n, 3) + probe(n, 3)"
                          "     + probe(p, 4);"
                          " return r; }"))
      << t.errors();
  EXPECT_EQ(t.topInt(), 3 * (2 + 20 + 20 + 93 + 93 + 5));
  EXPECT_FALSE(t.runSource("main(;p, u) { p = new P(); u = new U(); probe(p, 1);"
                           " return probe(u, 1); }"));
  EXPECT_EQ(t.errors(), "fhas no method implementation\n\n");
  EXPECT_FALSE(t.runSource("main(;p) { p = new P(); probe(p, 1); return probe(7, 1); }"));
  EXPECT_EQ(t.errors(), "invalid value type MVT_INTEGER, MVT_OBJECT expected\n");
}
