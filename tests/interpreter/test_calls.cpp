// execute, calls, the native calling convention and the depth bound.
#include "InterpTestUtil.h"

namespace {

MoxInterpreter* gIn = nullptr;

// Leaves the cursor where it was: the last argument becomes the result.
bool nativeKeep(MoxVirtualMachine*, int, ValPtr&) { return true; }
// Sum of its integer arguments, stored in the result slot.
bool nativeSum(MoxVirtualMachine*, int argc, ValPtr& args) {
  int32_t s = 0;
  for (int i = 1; i <= argc; ++i) s += int32_t(args[-argc + i]);
  args -= argc;
  *args = MoxValue(s);
  return true;
}
// Moves the cursor below its own function slot.
bool nativeBelow(MoxVirtualMachine*, int argc, ValPtr& args) {
  args -= argc + 1;
  return true;
}
bool nativeFail(MoxVirtualMachine*, int, ValPtr&) {
  return gIn->returnError(u"native failed: ", u"detail");
}
// Calls the script function "inner" through the stack, from native code.
bool nativeReenter(MoxVirtualMachine*, int argc, ValPtr& args) {
  MoxDictionaryEntry* e = gIn->getVirtualMachine().symbols().find(MoxString("inner"));
  args -= argc;
  *args = e->getValue();
  ++args;
  *args = MoxValue(int32_t(5));
  if (!gIn->call(1, static_cast<MoxVector*>(e->getValue().getRef()))) return false;
  // call leaves the result on top; move it into our result slot.
  MoxValue r = *args;
  args -= 1;
  *args = r;
  return true;
}

// A native method that sends its own message to its receiver again.
bool nativeSelfSend(MoxVirtualMachine*, int argc, ValPtr& args) {
  ++args;
  *args = args[-argc];
  if (!gIn->send(0, u"spin")) return false;
  args -= argc;
  return true;
}

}  // namespace

TEST(Execute, ArgumentsAndStackLayout) {
  Interp t;
  ASSERT_TRUE(t.compile("main(a, b) { return a + b; }"));
  ASSERT_TRUE(t.run("main", {"s1", "s2"})) << t.errors();
  EXPECT_EQ(t.topString(), "s1s2");
  // Missing names and non-callable values fail without error text.
  EXPECT_FALSE(t.run("nothing"));
  MoxDictionaryEntry& v = t.vm.symbols()[MoxString("num")];
  v.setValue(MoxValue(int32_t(3)));
  EXPECT_FALSE(t.run("num"));
  EXPECT_EQ(t.errors(), "");
  EXPECT_FALSE(t.in->execute(nullptr));
}

TEST(Execute, NativeAndCodeRefEntries) {
  Interp t;
  t.defineNative("sum", nativeSum);
  ASSERT_TRUE(t.run("sum", {}));
  EXPECT_EQ(t.topInt(), 0);
  // A native function stored uncounted is not an entry point, but calling
  // such a value from a script works.
  MoxValue ref(nativeSum);
  ValPtr p(nullptr, -1);
  MoxVector holder;
  holder.push_back(MoxValue(nativeSum));
  MoxDictionaryEntry& e = t.vm.symbols()[MoxString("sumref")];
  MoxValue codeRef(static_cast<MoxRefObject*>(holder[0].ptr()), MVT_CODEREF);
  e.setValue(codeRef);
  EXPECT_FALSE(t.run("sumref"));
  ASSERT_TRUE(t.runSource("main() { return sumref(1, 2, 3); }")) << t.errors();
  EXPECT_EQ(t.topInt(), 6);
}

TEST(NativeConvention, CursorRules) {
  Interp t;
  gIn = t.in;
  t.defineNative("keep", nativeKeep);
  t.defineNative("below", nativeBelow);
  t.defineNative("fail", nativeFail);
  ASSERT_TRUE(t.runSource("main() { return keep(1, 2, 77); }")) << t.errors();
  EXPECT_EQ(t.topInt(), 77);
  // After the call the stack is trimmed to the function slot.
  ASSERT_TRUE(t.runSource("main(;x) { x = keep(1, 2, 3); return t2(x); } t2(a) { return a; }"));
  EXPECT_EQ(t.topInt(), 3);
  EXPECT_FALSE(t.runSource("main() { return below(1); }"));
  EXPECT_EQ(t.errors(), "stack corrupted\n");
  EXPECT_NE(t.in->sp().get(), nullptr);
  EXPECT_FALSE(t.runSource("main() { return 1 + fail(); }"));
  EXPECT_EQ(t.errors(), "native failed: detail\n");
}

TEST(NativeConvention, StackAfterNestedCall) {
  Interp t;
  ASSERT_TRUE(t.compile("f(a, b; x, y) { x = a; y = b; return x * y; }"));
  Bytes code{OP_PUSH};
  emit(code, OP_LIT, 3);
  code.push_back(OP_PUSH);
  emit(code, OP_LIT, 4);
  code.push_back(OP_PUSH);
  emit(code, OP_LIT, 5);
  emit(code, OP_CALL, 2);
  code.push_back(OP_RETURN);
  MoxDictionaryEntry* f = t.vm.symbols().find(MoxString("f"));
  t.define("main", makeProc(code, {f->getValue(), MoxValue(int32_t(6)), MoxValue(int32_t(7))}));
  ASSERT_TRUE(t.run()) << t.errors();
  EXPECT_EQ(t.topInt(), 42);
  // main's function slot 0, its working slot 1 holds the result: nothing
  // of f's frame is left above it.
  EXPECT_EQ(t.in->sp().current(), 1);
  EXPECT_EQ(t.in->size(), 2u);
}

TEST(NativeConvention, ReentrantCall) {
  Interp t;
  gIn = t.in;
  t.defineNative("reenter", nativeReenter);
  ASSERT_TRUE(t.runSource("inner(x) { return x * 10; } main() { return 1 + reenter(); }")) << t.errors();
  EXPECT_EQ(t.topInt(), 51);
}

TEST(Calls, Errors) {
  Interp t;
  EXPECT_FALSE(t.runSource("main(;x) { x = 5; return x(1); }"));
  EXPECT_EQ(t.errors(), "call to non-procedure, type MVT_INTEGER\n");
  Bytes code;
  emit(code, OP_AREF, 2);
  code.push_back(OP_RETURN);
  t.define("f", makeProc(code));
  ASSERT_TRUE(t.compile("main() { return f(1, 2); }"));
  EXPECT_FALSE(t.run());
  EXPECT_EQ(t.errors(), "too few arguments\n");
  EXPECT_EQ(t.in->getProcInfo(), nullptr);
  EXPECT_FALSE(t.in->call(0, nullptr));
  EXPECT_EQ(t.errors(), "too few arguments\nno bytecode: interpret(MoxVector* byteCode)\n\n");
}

TEST(Calls, DepthIsBounded) {
  Interp t;
  ASSERT_TRUE(t.compile("down(n) { if (n == 0) return 0; return 1 + down(n - 1); }"
                        "main() { return down(5000); } deep() { return down(1000000); }"
                        "class K { K(); m(n); } K::K() { } K::m(n) { if (n == 0) return 0; return 1 + this->m(n - 1); }"
                        "sends(;k) { k = new K(); return k->m(50000); }")) << t.out.a_str();
  ASSERT_TRUE(t.run()) << t.errors();
  EXPECT_EQ(t.topInt(), 5000);
  EXPECT_FALSE(t.run("deep"));
  EXPECT_EQ(t.errors(), "call depth limit exceeded\n");
  EXPECT_EQ(t.in->getCallDepth(), 0);
  EXPECT_FALSE(t.run("sends"));
  EXPECT_EQ(t.errors(), "call depth limit exceeded\n");
  // The interpreter stays usable.
  ASSERT_TRUE(t.run()) << t.errors();
}

TEST(Calls, OperatorRecursionIsBounded) {
  // Operator methods re-enter the interpreter on the native stack; the
  // bound stops them before the native stack runs out.
  Interp t;
  ASSERT_TRUE(t.compile("class R { R(); OP_ADD(x); } R::R() { } R::OP_ADD(x) { return this + x; }"
                        "main(;r) { r = new R(); return r + 1; }")) << t.out.a_str();
  EXPECT_FALSE(t.run());
  EXPECT_NE(t.errors().find("call depth limit exceeded"), std::string::npos);
}

TEST(Calls, NativeRecursionIsBounded) {
  Interp t;
  gIn = t.in;
  ASSERT_TRUE(t.compile("class N { N(); } N::N() { } main(;n) { n = new N(); return n->spin(); }"));
  MoxDictionaryEntry* cls = t.vm.classes().find(MoxString("N"));
  static_cast<MoxClass*>(cls->getValue().getRef())->addMethod(MoxString("spin"), nativeSelfSend);
  EXPECT_FALSE(t.run());
  EXPECT_EQ(t.errors(), "call depth limit exceeded (native stack)\n");
}

TEST(Calls, FunctionReplacedWhileItRuns) {
  Interp t;
  // g replaces itself and then calls itself: the running activation keeps
  // its code, the inner call runs the new one, and deep returns through
  // both land in the right slots.
  ASSERT_TRUE(t.compile("g(n;r) { if (n == 0) return 1;"
                        " compile(\"g(n) { return n * 1000; }\"); r = g(n - 1);"
                        " return r + 7; }"));
  ASSERT_TRUE(t.runSource("main(;a, b) { a = g(3); b = g(3); return a * 100000 + b; }"))
      << t.errors();
  EXPECT_EQ(t.topInt(), 2007 * 100000 + 3000);
}

TEST(Calls, ManyFramesGrowTheStackPastItsReserve) {
  Interp t;
  // Each activation holds 40 temporaries, so 200 nested calls need far more
  // slots than the stack reserves at the start; the results must still
  // return into the right slots.
  std::string temps;
  for (int k = 0; k < 40; ++k) temps += (k ? ", t" : "t") + std::to_string(k);
  ASSERT_TRUE(t.compile("deep(n;" + temps + ") { t0 = n; t39 = n * 2;"
                        " if (n == 0) return 0; return deep(n - 1) + t39 - t0; }"));
  ASSERT_TRUE(t.runSource("main() { return deep(200); }")) << t.errors();
  EXPECT_EQ(t.topInt(), 200 * 201 / 2);
}
