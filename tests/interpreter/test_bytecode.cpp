// Hand-assembled procedures: operand widths, branches, stack instructions,
// operand indices out of range, tracing hooks.
#include "InterpTestUtil.h"
#include "debugger/MoxDebugger.h"

namespace {

std::vector<MoxValue> ints(int n) {
  std::vector<MoxValue> v;
  for (int i = 0; i < n; ++i) v.push_back(MoxValue(int32_t(i + 3)));  // element i + 3 holds i + 3
  return v;
}

int gWaits = 0;
bool waitTwice() { return ++gWaits < 2; }

}  // namespace

TEST(Bytecode, OperandWidths) {
  Interp t;
  // OP_LIT 300 as the compiler writes it: F1 1B 2C 01 F0.
  Bytes code{OP_PUSH};
  emit(code, OP_LIT, 300);
  EXPECT_EQ(code.size(), 6u);
  EXPECT_EQ(code[1], OP_RWORD);
  code.push_back(OP_PUSH);
  emit(code, OP_LIT, 4);  // width is 1 again
  code.push_back(OP_ADD);
  code.push_back(OP_RETURN);
  t.define("w", makeProc(code, ints(400)));
  ASSERT_TRUE(t.run("w")) << t.errors();
  EXPECT_EQ(t.topInt(), 304);
  // Without the closing prefix, later operands stay 2 bytes wide; a
  // 4-byte prefix works the same way.
  Bytes wide{OP_PUSH, OP_RWORD, OP_LIT, 0x05, 0x00, OP_PUSH, OP_LIT, 0x06, 0x00, OP_ADD,
             OP_RDWORD, OP_PUSH, OP_LIT, 0x07, 0, 0, 0, OP_ADD, OP_RETURN};
  t.define("w2", makeProc(wide, ints(10)));
  ASSERT_TRUE(t.run("w2")) << t.errors();
  EXPECT_EQ(t.topInt(), 18);
  // Index 0 to 2 are the code, the class and the name.
  Bytes name{OP_PUSH, OP_LIT, 2, OP_RETURN};
  t.define("nm", makeProc(name, {}, nullptr, u"myname"));
  ASSERT_TRUE(t.run("nm"));
  EXPECT_EQ(t.topString(), "myname");
}

TEST(Bytecode, BranchesAndUnknownBytes) {
  Interp t;
  // 0: PUSH; 1: LIT 3 (0); 3: BRF 16; 8: LIT 4; 10: RETURN; ...; 16: 200; 17: LIT 5; 19: RETURN
  Bytes code{OP_PUSH};
  emit(code, OP_LIT, 3);
  emitBranch(code, OP_BRF, 16);
  emit(code, OP_LIT, 4);
  code.push_back(OP_RETURN);
  while (code.size() < 16) code.push_back(OP_NOP);
  code.push_back(200);
  emit(code, OP_LIT, 5);
  code.push_back(OP_RETURN);
  t.define("b", makeProc(code, {MoxValue(0.5), MoxValue(int32_t(1)), MoxValue(int32_t(2))}));
  ASSERT_TRUE(t.run("b")) << t.errors();
  EXPECT_EQ(t.topInt(), 2);
  // Running off the end, or a branch beyond it, is an error.
  t.define("off", makeProc({OP_PUSH, OP_NOP}));
  EXPECT_FALSE(t.run("off"));
  EXPECT_EQ(t.errors(), "bytecode ends without return\n");
  Bytes far;
  emitBranch(far, OP_BR, 1000);
  t.define("far", makeProc(far));
  EXPECT_FALSE(t.run("far"));
  t.define("cut", makeProc({OP_PUSH, OP_BR, 1, 0}));
  EXPECT_FALSE(t.run("cut"));
  EXPECT_EQ(t.errors(), "bytecode ends without return\n");
}

TEST(Bytecode, StackInstructions) {
  Interp t;
  // a b -> a b a b, then (a - b) * (a - b) ... computed as sums for clarity.
  Bytes code{OP_PUSH};
  emit(code, OP_LIT, 3);
  code.push_back(OP_PUSH);
  emit(code, OP_LIT, 4);
  code.push_back(OP_DUP2);
  code.push_back(OP_SUB);     // a b (a-b)
  code.push_back(OP_PUSH);
  emit(code, OP_LIT, 5);      // a b (a-b) 100
  code.push_back(OP_MUL);     // a b 100(a-b)
  code.push_back(OP_DUPX2);   // x a b x
  code.push_back(OP_POP);     // x a b
  code.push_back(OP_ADD);     // x (a+b)
  code.push_back(OP_ADD);
  code.push_back(OP_DUP);
  code.push_back(OP_INC);
  code.push_back(OP_ADD);     // 2v + 1
  code.push_back(OP_RETURN);
  t.define("s", makeProc(code, {MoxValue(int32_t(9)), MoxValue(int32_t(4)), MoxValue(int32_t(100))}));
  ASSERT_TRUE(t.run("s")) << t.errors();
  EXPECT_EQ(t.topInt(), 2 * (500 + 13) + 1);
  // Popping below the bottom of the stack is refused.
  t.define("under", makeProc({OP_POP, OP_POP, OP_RETURN}));
  EXPECT_FALSE(t.run("under"));
  EXPECT_EQ(t.errors(), "stack corrupted (stack underflow)\n");
  t.define("under2", makeProc({OP_ADD, OP_RETURN}));
  EXPECT_FALSE(t.run("under2"));
}

TEST(Bytecode, IndicesOutOfRange) {
  Interp t;
  Bytes lit{OP_PUSH};
  emit(lit, OP_LIT, 9);
  lit.push_back(OP_RETURN);
  t.define("lit", makeProc(lit, ints(2)));
  EXPECT_FALSE(t.run("lit"));
  EXPECT_EQ(t.errors(), "literal index out of range\n");

  Bytes ref{OP_PUSH};
  emit(ref, OP_REF, 3);
  ref.push_back(OP_RETURN);
  t.define("ref", makeProc(ref, ints(1)));
  EXPECT_FALSE(t.run("ref"));
  EXPECT_EQ(t.errors(), "invalid variable reference MVT_INTEGER\n");

  Bytes tmp;
  emit(tmp, OP_TSPACE, 2);
  tmp.push_back(OP_PUSH);
  emit(tmp, OP_TREF, 1);
  emit(tmp, OP_TREF, 2);
  tmp.push_back(OP_RETURN);
  t.define("tmp", makeProc(tmp));
  EXPECT_FALSE(t.run("tmp"));
  EXPECT_EQ(t.errors(), "temporary index out of range\n");

  // Member access needs an object in bp[0] with enough member data.
  Bytes mem{OP_PUSH};
  emit(mem, OP_MREF, 1);
  mem.push_back(OP_RETURN);
  t.define("mem", makeProc(mem));
  EXPECT_FALSE(t.run("mem"));
  EXPECT_EQ(t.errors(), "object expected\n");
  ASSERT_TRUE(t.compile("class K { a; K(); m(); } K::K() { } main(;k) { k = new K(); return k->m(); }"));
  MoxClass* k = static_cast<MoxClass*>(t.vm.classes().find(MoxString("K"))->getValue().getRef());
  MoxDictionaryEntry* m = k->funcMembers()->find(MoxString("m"));
  Bytes mem2{OP_PUSH};
  emit(mem2, OP_MSET, 1);
  emit(mem2, OP_MREF, 2);
  mem2.push_back(OP_RETURN);
  m->setValue(MoxValue(makeProc(mem2, {}, k, u"m"), true));
  EXPECT_FALSE(t.run());
  EXPECT_EQ(t.errors(), "member index out of range\n");
}

TEST(Bytecode, TracingHooks) {
  Interp t;
  MoxStringPrinter trace;
  MoxDebugger dbg(t.vm, &trace);
  // Without a tracer, TRON does nothing and TROFF clears the flag.
  t.define("on", makeProc({OP_TRON, OP_PUSH, OP_RETURN}));
  ASSERT_TRUE(t.run("on"));
  EXPECT_FALSE(t.in->getTrace());
  t.in->setDebugger(&dbg);
  ASSERT_TRUE(t.run("on"));
  EXPECT_TRUE(t.in->getTrace());
  EXPECT_NE(std::string(trace.a_str()).find("OP_RETURN"), std::string::npos);
  // Single-step mode asks the wait procedure after every traced byte and
  // ends when it answers false.
  trace.clear();
  t.define("step", makeProc({OP_TROFF, OP_TRSTEP, OP_NOP, OP_NOP, OP_NOP, OP_PUSH, OP_RETURN}));
  t.vm.setDbgWaitProc(waitTwice);
  gWaits = 0;
  ASSERT_TRUE(t.run("step"));
  EXPECT_EQ(gWaits, 2);
  EXPECT_FALSE(t.in->getStep());
  t.in->setDebugger(nullptr);
  EXPECT_FALSE(t.in->getTrace());
}
