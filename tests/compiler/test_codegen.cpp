// Emitted instruction sequences, byte for byte, and literal pool contents.
#include <algorithm>

#include "CompilerTestUtil.h"

namespace {

// Little-endian 4-byte branch operand.
#define T4(x) uint8_t(x), uint8_t((x) >> 8), 0, 0

std::string poolString(MoxVector* p, unsigned i) {
  MoxString* s = static_cast<MoxString*>((*p)[i]);
  return s ? N(s->c_str()) : std::string("<not a string>");
}

}  // namespace

TEST(CodeGen, PrologueAndEpilogue) {
  Fixture f;
  ASSERT_TRUE(f.compile("f() { } g(;a,b) { a = 1; }"));
  EXPECT_CODE(f.code("f"), OP_PUSH, OP_NIL, OP_RETURN);
  // A plain assignment computes its right side into the top: no OP_PUSH.
  EXPECT_CODE(f.code("g"), OP_TSPACE, 2, OP_PUSH, OP_LIT, 3, OP_TSET, 0, OP_RETURN);
  MoxVector* p = f.proc("g");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ((*p)[MOX_PROC_CLASS].getType(), MVT_NULL);
  EXPECT_EQ(poolString(p, MOX_PROC_NAME), "g");
  EXPECT_EQ((*p)[MOX_PROC_CODE].getType(), MVT_BUFFER);
  ASSERT_EQ(p->size(), 4u);
  EXPECT_EQ((*p)[3].getType(), MVT_INTEGER);
  EXPECT_EQ(p->size(), p->capacity());  // shrunk to fit
}

TEST(CodeGen, ArithmeticPrecedenceOnGlobal) {
  Fixture f;
  ASSERT_TRUE(f.compile("g() { x = 1 + 2 * 3; }"));
  EXPECT_CODE(f.code("g"), OP_PUSH, OP_LIT, 4, OP_PUSH, OP_LIT, 5, OP_PUSH, OP_LIT, 6, OP_MUL,
              OP_ADD, OP_SET, 3, OP_RETURN);
  MoxVector* p = f.proc("g");
  ASSERT_EQ(p->size(), 7u);
  EXPECT_EQ((*p)[3].getType(), MVT_VAR);
  EXPECT_EQ(static_cast<MoxDictionaryEntry*>((*p)[3]), f.symbol("x"));
  EXPECT_EQ(static_cast<int32_t>((*p)[4]), 1);
  EXPECT_EQ(static_cast<int32_t>((*p)[6]), 3);
  // Late binding: referring to x created its global entry, still undefined.
  ASSERT_NE(f.symbol("x"), nullptr);
  EXPECT_EQ(f.symbol("x")->getSymbolType(), SYM_UNDEFINED);
}

TEST(CodeGen, BinaryOperatorsAndGrouping) {
  Fixture f;
  ASSERT_TRUE(f.compile("f(a,b) { a - b - a; a | b ^ a & b; a == b < a << b; a % b / a; }"));
  EXPECT_CODE(f.code("f"), OP_PUSH,
              // (a - b) - a
              OP_AREF, 0, OP_PUSH, OP_AREF, 1, OP_SUB, OP_PUSH, OP_AREF, 0, OP_SUB,
              // a | (b ^ (a & b))
              OP_AREF, 0, OP_PUSH, OP_AREF, 1, OP_PUSH, OP_AREF, 0, OP_PUSH, OP_AREF, 1, OP_BAND,
              OP_XOR, OP_BOR,
              // a == (b < (a << b))
              OP_AREF, 0, OP_PUSH, OP_AREF, 1, OP_PUSH, OP_AREF, 0, OP_PUSH, OP_AREF, 1, OP_SHL,
              OP_LT, OP_EQ,
              // (a % b) / a
              OP_AREF, 0, OP_PUSH, OP_AREF, 1, OP_REM, OP_PUSH, OP_AREF, 0, OP_DIV, OP_RETURN);
}

TEST(CodeGen, UnaryOperators) {
  Fixture f;
  ASSERT_TRUE(f.compile("f(a) { -a; !a; ~a; delete a; }"));
  EXPECT_CODE(f.code("f"), OP_PUSH, OP_AREF, 0, OP_NEG, OP_AREF, 0, OP_NOT, OP_AREF, 0, OP_BNOT,
              OP_AREF, 0, OP_DELETE, OP_RETURN);
}

TEST(CodeGen, CompoundAssignmentOnIndexedElement) {
  Fixture f;
  ASSERT_TRUE(f.compile("f(i; a) { a[i] += 1; }"));
  EXPECT_CODE(f.code("f"), OP_TSPACE, 1, OP_PUSH, OP_TREF, 0, OP_PUSH, OP_AREF, 0, OP_DUP2,
              OP_VREF, OP_PUSH, OP_LIT, 3, OP_ADD, OP_VSET, OP_RETURN);
}

TEST(CodeGen, AssignmentForms) {
  Fixture f;
  ASSERT_TRUE(f.compile("f(a,b) { a -= 2; a => b; b[1] = 2; a ~= 1; a <<= 1; }"));
  EXPECT_CODE(f.code("f"), OP_PUSH,
              OP_AREF, 0, OP_PUSH, OP_LIT, 3, OP_SUB, OP_ASET, 0,
              OP_AREF, 1, OP_MKREF, OP_ASET, 0,
              OP_AREF, 1, OP_PUSH, OP_LIT, 4, OP_PUSH, OP_LIT, 5, OP_VSET,
              OP_AREF, 0, OP_PUSH, OP_LIT, 6, OP_BNOT, OP_ASET, 0,
              OP_AREF, 0, OP_PUSH, OP_LIT, 7, OP_SHL, OP_ASET, 0, OP_RETURN);
}

TEST(CodeGen, AssignmentRightSideIsACommaExpression) {
  Fixture f;
  // a = b, c assigns c; f(a = 1, 2) passes one argument.
  ASSERT_TRUE(f.compile("f(a,b,c) { a = b, c; g(a = 1, 2); }"));
  EXPECT_CODE(f.code("f"), OP_PUSH, OP_AREF, 1, OP_AREF, 2, OP_ASET, 0,
              OP_REF, 3, OP_PUSH, OP_LIT, 4, OP_LIT, 5, OP_ASET, 0, OP_CALL, 1, OP_RETURN);
}

TEST(CodeGen, IncrementAndDecrement) {
  Fixture f;
  ASSERT_TRUE(f.compile("f(v,i; n) { n++; ++n; --i; v[i]++; --v[0]; }"));
  EXPECT_CODE(f.code("f"), OP_TSPACE, 1, OP_PUSH,
              OP_TREF, 0, OP_DUP, OP_INC, OP_TSET, 0, OP_POP,
              OP_TREF, 0, OP_INC, OP_TSET, 0,
              OP_AREF, 1, OP_DEC, OP_ASET, 1,
              // The old value is tucked below container and index.
              OP_AREF, 0, OP_PUSH, OP_AREF, 1, OP_DUP2, OP_VREF, OP_DUPX2, OP_INC, OP_VSET, OP_POP,
              OP_AREF, 0, OP_PUSH, OP_LIT, 3, OP_DUP2, OP_VREF, OP_DEC, OP_VSET, OP_RETURN);
}

TEST(CodeGen, CallsAndSends) {
  Fixture f;
  ASSERT_TRUE(f.compile("g(o) { o->f(1, 2); o->g(); h(1, k()); }"));
  // "g" is the procedure's own name and is reused as selector.
  EXPECT_CODE(f.code("g"), OP_PUSH,
              OP_AREF, 0, OP_PUSH, OP_LIT, 3, OP_PUSH, OP_LIT, 4, OP_PUSH, OP_LIT, 5, OP_SEND, 3,
              OP_AREF, 0, OP_PUSH, OP_LIT, 2, OP_SEND, 1,
              OP_REF, 6, OP_PUSH, OP_LIT, 7, OP_PUSH, OP_REF, 8, OP_CALL, 0, OP_CALL, 2,
              OP_RETURN);
  MoxVector* p = f.proc("g");
  EXPECT_EQ(poolString(p, 3), "f");
}

TEST(CodeGen, LiteralPoolSharing) {
  Fixture f;
  ASSERT_TRUE(f.compile("g(o) { x; x; 1; 1; \"m\"; o->m(); o->m(); }"));
  EXPECT_CODE(f.code("g"), OP_PUSH, OP_REF, 3, OP_REF, 3, OP_LIT, 4, OP_LIT, 5, OP_LIT, 6,
              OP_AREF, 0, OP_PUSH, OP_LIT, 6, OP_SEND, 1, OP_AREF, 0, OP_PUSH, OP_LIT, 6, OP_SEND,
              1, OP_RETURN);
  EXPECT_EQ(f.proc("g")->size(), 7u);
}

TEST(CodeGen, ConstantsOfEveryKind) {
  Fixture f;
  ASSERT_TRUE(f.compile("g() { 1.5; null; 'A'; [1, [2], \"s\"]; ({\"k\": 2}); }"));
  MoxVector* p = f.proc("g");
  ASSERT_EQ(p->size(), 8u);
  EXPECT_EQ((*p)[3].getType(), MVT_DOUBLE);
  EXPECT_EQ((*p)[4].getType(), MVT_NULL);
  EXPECT_EQ(static_cast<int32_t>((*p)[5]), 65);
  ASSERT_EQ((*p)[6].getType(), MVT_VECTOR);
  MoxVector* v = static_cast<MoxVector*>((*p)[6]);
  ASSERT_EQ(v->size(), 3u);
  EXPECT_EQ((*v)[1].getType(), MVT_VECTOR);
  ASSERT_EQ((*p)[7].getType(), MVT_DICTIONARY);
  MoxDictionary* d = static_cast<MoxDictionary*>((*p)[7]);
  ASSERT_NE(d->find(MoxString("k")), nullptr);
}

TEST(CodeGen, NewCallsTheConstructor) {
  Fixture f;
  ASSERT_TRUE(f.compile("class P { } g() { return new P(3); }"));
  EXPECT_CODE(f.code("g"), OP_PUSH, OP_LIT, 3, OP_NEW, OP_PUSH, OP_LIT, 4, OP_PUSH, OP_LIT, 5,
              OP_SEND, 2, OP_RETURN, OP_RETURN);
  MoxVector* p = f.proc("g");
  EXPECT_EQ(static_cast<MoxClass*>((*p)[3]), f.cls("P"));
  EXPECT_EQ(poolString(p, 4), "P");
}

TEST(CodeGen, IfElse) {
  Fixture f;
  ASSERT_TRUE(f.compile("f(a) { if (a) 1; else 2; if (a) 3; }"));
  EXPECT_CODE(f.code("f"), OP_PUSH,
              OP_AREF, 0, OP_BRF, T4(15), OP_LIT, 3, OP_BR, T4(17), OP_LIT, 4,
              OP_AREF, 0, OP_BRF, T4(26), OP_LIT, 5, OP_RETURN);
}

TEST(CodeGen, WhileWithBreakSharesTheExitChain) {
  Fixture f;
  ASSERT_TRUE(f.compile("f(i) { while (i < 3) { if (i == 1) break; i++; } }"));
  EXPECT_CODE(f.code("f"), OP_PUSH,
              OP_AREF, 0, OP_PUSH, OP_LIT, 3, OP_LT, OP_BRF, T4(40),
              OP_AREF, 0, OP_PUSH, OP_LIT, 4, OP_EQ, OP_BRF, T4(28),
              OP_BR, T4(40),
              OP_AREF, 0, OP_DUP, OP_INC, OP_ASET, 0, OP_POP,
              OP_BR, T4(1), OP_RETURN);
}

TEST(CodeGen, DoWhileContinueRepeatsTheBody) {
  Fixture f;
  ASSERT_TRUE(f.compile("f(x) { do { continue; } while (x); }"));
  EXPECT_CODE(f.code("f"), OP_PUSH, OP_BR, T4(1), OP_AREF, 0, OP_BRT, T4(1), OP_RETURN);
}

TEST(CodeGen, DoWhileBreak) {
  Fixture f;
  ASSERT_TRUE(f.compile("f(x) { do break; while (x); }"));
  EXPECT_CODE(f.code("f"), OP_PUSH, OP_BR, T4(13), OP_AREF, 0, OP_BRT, T4(1), OP_RETURN);
}

TEST(CodeGen, ForLoopOrder) {
  Fixture f;
  ASSERT_TRUE(f.compile("f(;i) { for (i = 0; i < 2; i++) { if (i) continue; x(); } }"));
  EXPECT_CODE(f.code("f"), OP_TSPACE, 1, OP_PUSH,
              OP_LIT, 3, OP_TSET, 0,                            // init
              OP_TREF, 0, OP_PUSH, OP_LIT, 4, OP_LT,             // test at 7
              OP_BRT, T4(35), OP_BR, T4(56),                     // to body, out
              OP_TREF, 0, OP_DUP, OP_INC, OP_TSET, 0, OP_POP,    // step at 23
              OP_BR, T4(7),
              OP_TREF, 0, OP_BRF, T4(47), OP_BR, T4(23),         // body at 35
              OP_REF, 5, OP_CALL, 0,
              OP_BR, T4(23), OP_RETURN);
}

TEST(CodeGen, LogicalOperatorsShortCircuit) {
  Fixture f;
  ASSERT_TRUE(f.compile("f(a,b,c) { a || b || c; a && b || c; }"));
  EXPECT_CODE(f.code("f"), OP_PUSH,
              OP_AREF, 0, OP_BRT, T4(17), OP_AREF, 1, OP_BRT, T4(17), OP_AREF, 2,
              OP_AREF, 0, OP_BRF, T4(26), OP_AREF, 1, OP_BRT, T4(33), OP_AREF, 2, OP_RETURN);
}

TEST(CodeGen, ConditionalGroupsToTheRight) {
  Fixture f;
  ASSERT_TRUE(f.compile("f(a,b,c,d,e) { a ? b : c ? d : e; }"));
  EXPECT_CODE(f.code("f"), OP_PUSH, OP_AREF, 0, OP_BRF, T4(15), OP_AREF, 1, OP_BR, T4(31),
              OP_AREF, 2, OP_BRF, T4(29), OP_AREF, 3, OP_BR, T4(31), OP_AREF, 4, OP_RETURN);
}

TEST(CodeGen, ReturnAndTraceStatements) {
  Fixture f;
  ASSERT_TRUE(f.compile("f() { TRON; TROFF; TRSTEP; ; return 0; }"));
  EXPECT_CODE(f.code("f"), OP_PUSH, OP_TRON, OP_TROFF, OP_TRSTEP, OP_LIT, 3, OP_RETURN, OP_RETURN);
}

TEST(CodeGen, CommaAndParentheses) {
  Fixture f;
  ASSERT_TRUE(f.compile("f(a,b) { a, b; (a) = 1; (a, b); }"));
  EXPECT_CODE(f.code("f"), OP_PUSH, OP_AREF, 0, OP_AREF, 1, OP_LIT, 3, OP_ASET, 0, OP_AREF, 0,
              OP_AREF, 1, OP_RETURN);
}

TEST(CodeGen, WideOperandsPast255Literals) {
  std::string src = "f() {";
  for (int i = 0; i < 300; ++i) src += " " + std::to_string(i) + ";";
  src += " }";
  Fixture f;
  ASSERT_TRUE(f.compile(src));
  Bytes code = f.code("f");
  MoxVector* p = f.proc("f");
  ASSERT_EQ(p->size(), 303u);
  // Literals 3..255 take 2 bytes, 256..302 take 5.
  ASSERT_EQ(code.size(), 1u + 253u * 2u + 47u * 5u + 1u);
  EXPECT_EQ(code[1 + 252 * 2], OP_LIT);
  EXPECT_EQ(code[1 + 252 * 2 + 1], 255);
  size_t at300 = 1 + 253 * 2 + (300 - 256) * 5;
  EXPECT_EQ(Bytes(code.begin() + at300, code.begin() + at300 + 5),
            (Bytes{0xF1, 0x1B, 0x2C, 0x01, 0xF0}));
  // Decoding every instruction recovers the literal indices in order.
  unsigned width = 1, expect = 3;
  size_t pc = 1;
  while (pc < code.size() - 1) {
    MoxInstruction in;
    ASSERT_TRUE(moxDecodeInstruction(code.data(), code.size(), pc, &width, &in));
    if (in.opcode == OP_LIT) {
      EXPECT_EQ(in.operand, expect++);
    }
    pc += in.length;
  }
  EXPECT_EQ(expect, 303u);
  EXPECT_EQ(width, 1u);
}

TEST(CodeGen, ConstructorAndDestructorEpilogues) {
  Fixture f;
  ASSERT_TRUE(f.compile("class B { } class A : B { A(x); ~A(); } class C { ~C(); }"
                        "A::A(x) { } A::~A() { } C::~C() { }"));
  EXPECT_CODE(f.code("A", "A"), OP_PUSH, OP_NIL, OP_AREF, 0, OP_RETURN);
  EXPECT_CODE(f.code("dtor", "A"), OP_PUSH, OP_NIL, OP_PUSH, OP_AREF, 0, OP_PUSH, OP_LIT, 3,
              OP_SEND, 1, OP_RETURN);
  EXPECT_EQ(poolString(f.proc("dtor", "A"), 3), "BC_dtor");
  EXPECT_CODE(f.code("dtor", "C"), OP_PUSH, OP_NIL, OP_RETURN);
  MoxVector* p = f.proc("A", "A");
  EXPECT_EQ(static_cast<MoxClass*>((*p)[MOX_PROC_CLASS]), f.cls("A"));
}

TEST(CodeGen, MembersAndGlobalsInMethods) {
  Fixture f;
  ASSERT_TRUE(f.compile("class A { count; m(); reset(); } A::reset() { count = 0; ::count = 0; m(1); }"));
  EXPECT_CODE(f.code("reset", "A"), OP_PUSH, OP_LIT, 3, OP_MSET, 1, OP_LIT, 5, OP_SET, 4,
              OP_AREF, 0, OP_PUSH, OP_LIT, 6, OP_PUSH, OP_LIT, 7, OP_SEND, 2, OP_RETURN);
  EXPECT_EQ(poolString(f.proc("reset", "A"), 6), "m");
}

TEST(CodeGen, StaticMembersHaveNoThis) {
  Fixture f;
  ASSERT_TRUE(f.compile("class C { static n = 5; static f(); } C::f(x) { return x + n; }"
                        "g() { C::n = 1; C::f(5); }"));
  // x is the first argument: a static member function has no "this".
  EXPECT_CODE(f.code("f", "C"), OP_PUSH, OP_AREF, 0, OP_PUSH, OP_REF, 3, OP_ADD, OP_RETURN,
              OP_RETURN);
  EXPECT_CODE(f.code("g"), OP_PUSH, OP_LIT, 4, OP_SET, 3, OP_REF, 5, OP_PUSH, OP_LIT, 6, OP_CALL,
              1, OP_RETURN);
  MoxVector* g = f.proc("g");
  MoxClass* c = f.cls("C");
  EXPECT_EQ(static_cast<MoxDictionaryEntry*>((*g)[3]), c->dataMembers()->find(MoxString("n")));
  EXPECT_EQ(static_cast<MoxDictionaryEntry*>((*g)[5]), c->funcMembers()->find(MoxString("f")));
}

TEST(CodeGen, MemberSlotsFollowTheBase) {
  Fixture f;
  ASSERT_TRUE(f.compile("class A { x, y; } class B : A { z; getx(); } B::getx() { return x + z; }"));
  EXPECT_CODE(f.code("getx", "B"), OP_PUSH, OP_MREF, 1, OP_PUSH, OP_MREF, 3, OP_ADD, OP_RETURN,
              OP_RETURN);
}

TEST(CodeGen, ProceduresDoNotKeepTheirClassAlive) {
  Fixture f;
  ASSERT_TRUE(f.compile("class A { m(); }"));
  int32_t before = f.cls("A")->getRefCnt();
  ASSERT_TRUE(f.compile("A::m() { return new A(); } g() { new A(); }"));
  // Methods sit inside their class: counted references back to it would be
  // cycles that nothing ever frees.
  EXPECT_EQ(f.cls("A")->getRefCnt(), before);
  MoxVector* m = f.proc("m", "A");
  EXPECT_EQ((*m)[MOX_PROC_CLASS].getType(), MVT_CLASSREF);
  EXPECT_EQ((*m)[3].getType(), MVT_CLASSREF);
}

TEST(CodeGen, HugePoolsUseFourByteOperandsAndStayFast) {
  std::string src = "f(o) {";
  for (int i = 0; i < 70000; ++i) src += " v" + std::to_string(i) + ";";
  src += " v69999; o->m(); o->m(); }";
  Fixture f;
  ASSERT_TRUE(f.compile(src));
  Bytes code = f.code("f");
  MoxVector* p = f.proc("f");
  ASSERT_EQ(p->size(), 3u + 70000u + 1u);  // one entry per variable, one selector
  // v69999 is pool element 70002: OP_RDWORD, OP_REF, 4 bytes, OP_RBYTE.
  Bytes ref = {OP_RDWORD, OP_REF, 0x72, 0x11, 0x01, 0x00, OP_RBYTE};
  size_t first = std::search(code.begin(), code.end(), ref.begin(), ref.end()) - code.begin();
  size_t second = std::search(code.begin() + first + 1, code.end(), ref.begin(), ref.end()) - code.begin();
  EXPECT_LT(second, code.size());  // found again: the reference was shared
}
