// The translated form: the cells made from a procedure's bytes, and runs
// with it against runs of the bytes alone. Both must print the same, end
// the same and leave the same stack.
#include <dirent.h>

#include <algorithm>

#include "InterpTestUtil.h"
#include "interpreter/MoxInterpreterImpl.h"
#include "interpreter/MoxTranslation.h"

namespace {

// The form of the cell at each offset ("-" where none starts), for code
// with the given number of procedure elements.
std::vector<std::string> formsOf(const Bytes& code, uint32_t literals = 8) {
  MoxTranslation* x = MoxTranslation::make(code.data(), uint32_t(code.size()), literals);
  std::vector<std::string> forms(code.size(), "-");
  EXPECT_NE(x, nullptr);
  if (!x) return forms;
  for (uint32_t pc = 0; pc < code.size(); ++pc)
    if (x->cellAt(pc) != kMoxNoCell) forms[pc] = moxFormName(x->cells()[x->cellAt(pc)].form);
  MoxTranslation::destroy(x);
  return forms;
}

struct Outcome {
  bool ok;
  std::string printed;
  std::string result;
  std::string errors;
};

// Compiles source (or the file at path, when one is given) into a fresh
// machine and runs main, translated or on the bytes alone.
Outcome runOnce(const std::u16string& source, const std::u16string& path, bool plain) {
  MoxStringPrinter out, errors;
  MoxVirtualMachine vm(&out);
  Outcome o;
  o.ok = path.empty() ? vm.compileText(source.c_str()) : vm.compileFile(path.c_str());
  if (o.ok) {
    vm.setTranslation(!plain);
    o.ok = vm.execute(u"main", 0, nullptr, false, &errors);
  }
  o.printed = out.a_str();
  // Numbers and strings by value; other kinds by kind, as addresses differ.
  const MoxValue& r = vm.getResult();
  o.result = std::to_string(int(r.type()));
  if (r.type() == MVT_INTEGER) o.result += ":" + std::to_string(int32_t(r));
  else if (r.type() == MVT_DOUBLE) o.result += ":" + std::to_string(double(r));
  else if (const MoxString* text = r) o.result += ":" + utf8(text->c_str());
  o.errors = errors.a_str();
  return o;
}

// The outcome of the translated run.
Outcome expectSameBothWays(const std::string& source, const std::string& label,
                           const std::string& path = "") {
  const std::u16string src = U(source), file = U(path);
  const Outcome plain = runOnce(src, file, true);
  const Outcome fast = runOnce(src, file, false);
  EXPECT_EQ(fast.ok, plain.ok) << label;
  EXPECT_EQ(fast.printed, plain.printed) << label;
  EXPECT_EQ(fast.result, plain.result) << label;
  EXPECT_EQ(fast.errors, plain.errors) << label;
  return fast;
}

}  // namespace

TEST(Translation, CellsStartWhereTheBytesSay) {
  // for (i = 0; i < 10; i++) s = s + i; in the compiler's shape
  Bytes code;
  emit(code, OP_TREF, 0);                        // 0: loop test
  code.push_back(OP_PUSH);
  emit(code, OP_LIT, 3);
  code.push_back(OP_LT);
  emitBranch(code, OP_BRT, 20);                  // 6
  emit(code, OP_TREF, 0);                        // 11: i++
  code.push_back(OP_DUP);
  code.push_back(OP_INC);
  emit(code, OP_TSET, 0);
  code.push_back(OP_POP);
  std::vector<std::string> forms = formsOf(code);
  EXPECT_EQ(forms[0], "MF_NUM_COMPARE_BRANCH");
  EXPECT_EQ(forms[11], "MF_TEMP_STEP");
  // Every instruction starts a cell, also inside a sequence (where the run
  // goes on when a sequence's checks fail); on operand bytes none does, and
  // a jump there runs the bytes.
  EXPECT_EQ(forms[2], "MF_PUSH_VALUE_COMPARE_BRANCH");
  EXPECT_EQ(forms[3], "MF_VALUE");
  EXPECT_EQ(forms[5], "MF_COMPARE_BRANCH");
  EXPECT_EQ(forms[15], "OP_TSET");
  for (int pc : {1, 4, 7, 12, 16}) EXPECT_EQ(forms[size_t(pc)], "-") << pc;
  // s = s + "ab": on strings the test of numbers fails at 0, and the run
  // takes up the append in place at the ADD.
  Bytes append;
  emit(append, OP_TREF, 0);
  append.push_back(OP_PUSH);
  emit(append, OP_LIT, 3);
  append.push_back(OP_ADD);
  emit(append, OP_TSET, 0);
  EXPECT_EQ(formsOf(append)[0], "MF_NUM_ARITH_SET");
  EXPECT_EQ(formsOf(append)[5], "MF_ARITH_SET");

  // A literal that is not among the procedure's elements is left to the
  // byte loop's error; `tset 1` instead of `tset 0` is no `a++`.
  EXPECT_EQ(formsOf(code, 3)[0], "MF_VALUE");
  Bytes other = code;
  other[15] = 1;
  EXPECT_EQ(formsOf(other)[11], "MF_VALUE");
  // Cut short, a sequence is not taken either.
  Bytes cut(code.begin(), code.begin() + 9);
  EXPECT_EQ(formsOf(cut)[0], "MF_NUM_OP");
  EXPECT_EQ(formsOf(cut)[7], "-");  // a cut-off branch: the bytes report it

  // A branch into the middle of a sequence leaves it whole: run from its
  // start it is the same instructions, and the target starts a cell of
  // its own.
  Bytes split = code;
  emitBranch(split, OP_BR, 2);
  forms = formsOf(split);
  EXPECT_EQ(forms[0], "MF_NUM_COMPARE_BRANCH");
  EXPECT_EQ(forms[2], "MF_PUSH_VALUE_COMPARE_BRANCH");
  EXPECT_EQ(forms[18], "OP_BR");

  // v[i] = v[i - 1] + 1 is one cell: an element at an offset is an operand
  // of the store, unless its literal is not among the procedure's elements.
  Bytes store;
  for (int k = 0; k < 2; ++k) {
    emit(store, OP_TREF, 1);
    store.push_back(OP_PUSH);
    emit(store, OP_TREF, 0);
    store.push_back(OP_PUSH);
  }
  emit(store, OP_LIT, 3);
  store.push_back(OP_SUB);
  store.push_back(OP_VREF);
  store.push_back(OP_PUSH);
  emit(store, OP_LIT, 4);
  store.push_back(OP_ADD);
  store.push_back(OP_VSET);
  EXPECT_EQ(formsOf(store)[0], "MF_ELEM_STORE_OP");
  EXPECT_EQ(formsOf(store, 3)[0], "MF_LOAD_PAIR");

  // After a width prefix the bytes run alone until the width is 1 again.
  Bytes wide = {OP_RWORD, OP_TREF, 0x00, 0x01, OP_RBYTE, OP_PUSH};
  emit(wide, OP_LIT, 3);
  forms = formsOf(wide);
  EXPECT_EQ(forms[0], "-");
  EXPECT_EQ(forms[1], "-");
  EXPECT_EQ(forms[4], "-");
  EXPECT_EQ(forms[5], "MF_PUSH_VALUE");
}

TEST(Translation, BranchesGoStraightToTheCellTheyJumpTo) {
  // Every cell that branches to where a cell starts carries the step there,
  // so a taken branch does not look its target up again: the sequences
  // ending in a branch of each kind (a compare of numbers, of values, a
  // test of truth, && and ||) and the single branches.
  Interp in;
  ASSERT_TRUE(in.compile(
      "f(a, b;i, n, s) { s = 0; n = 0;\n"
      " for (i = 0; i < a; i++) { if (!(i % 3) && i + 1 < b) s = s + i;"
      " if (s > b || !n) n = n + 1; while (n < i * 2) n = n + 1; }\n"
      " return s + n; }")) << in.out.a_str();
  MoxVector* f = static_cast<MoxVector*>(in.vm.symbols().find(MoxString(u"f"))->getValue());
  MoxBuffer* code = moxProcCode(f);
  MoxTranslation* x = MoxTranslation::make(code->data(), code->size(), f->size());
  ASSERT_NE(x, nullptr);
  int branches = 0;
  for (uint32_t k = 0; k < x->size(); ++k) {
    const MoxCell& c = x->cells()[k];
    const uint32_t to = x->cellAt(c.target);
    const bool branching = c.form == OP_BR || c.form == OP_BRT || c.form == OP_BRF ||
                           std::string(moxFormName(c.form)).find("BRANCH") != std::string::npos;
    if (!branching || to == kMoxNoCell || to == k) continue;
    ++branches;
    EXPECT_NE(c.targetStep, 0) << moxFormName(c.form) << " at " << c.pc;
  }
  EXPECT_GT(branches, 8);
  MoxTranslation::destroy(x);
}

TEST(Translation, ALoopRunsFromEachCellToTheOneLaidOutAfterIt) {
  // The cells lie in the order a run takes them: the loop's test goes on
  // into the body, the body into the step, and only the jump back to the
  // test goes elsewhere. Each offset still finds its own cell, the first
  // one first.
  Interp in;
  ASSERT_TRUE(in.compile("f(a;i, s) { s = 0; for (i = 0; i < a; i++) s = s + i; return s; }"))
      << in.out.a_str();
  MoxVector* f = static_cast<MoxVector*>(in.vm.symbols().find(MoxString(u"f"))->getValue());
  MoxBuffer* code = moxProcCode(f);
  MoxTranslation* x = MoxTranslation::make(code->data(), code->size(), f->size());
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(x->cells()[0].pc, 0u);
  uint32_t test = kMoxNoCell;
  for (uint32_t k = 0; k < x->size(); ++k) {
    EXPECT_EQ(x->cellAt(x->cells()[k].pc), k);
    if (std::string(moxFormName(x->cells()[k].form)).find("COMPARE_BRANCH") != std::string::npos &&
        test == kMoxNoCell)
      test = k;
  }
  ASSERT_NE(test, kMoxNoCell);
  ASSERT_LT(test + 2, x->size());
  const MoxCell* c = x->cells() + test;
  const int32_t one = int32_t(sizeof(MoxCell));
  EXPECT_EQ(c[0].targetStep, one);
  EXPECT_STREQ(moxFormName(c[1].form), "MF_NUM_ARITH_SET");
  EXPECT_EQ(c[1].nextStep, one);
  EXPECT_STREQ(moxFormName(c[2].form), "MF_TEMP_STEP");
  EXPECT_EQ(c[2].nextStep, -2 * one);
  MoxTranslation::destroy(x);
}

TEST(Translation, BytesOutsideTheOpcodeSetRunAsNothing) {
  Bytes run;
  for (int b = 49; b < 128; ++b) run.push_back(uint8_t(b));
  for (int b = 131; b < 240; ++b) run.push_back(uint8_t(b));
  emit(run, OP_LIT, 3);
  run.push_back(OP_RETURN);
  for (bool plain : {true, false}) {
    Interp in;
    in.define("main", makeProc(run, {MoxValue(int32_t(7))}));
    in.in->setTranslation(!plain);
    ASSERT_TRUE(in.run()) << in.errors();
    EXPECT_EQ(in.topInt(), 7);
  }
}

TEST(Translation, KeptWithTheCodeAndMadeAgainWhenCodeOrLiteralsChange) {
  Interp in;
  ASSERT_TRUE(in.runSource("main(;i, s) { s = 0; for (i = 0; i < 5; i++) s = s + i; return s; }"));
  EXPECT_EQ(in.topInt(), 10);
  MoxVector* proc = static_cast<MoxVector*>(in.vm.symbols().find(MoxString(u"main"))->getValue());
  MoxBuffer* code = moxProcCode(proc);
  const void* made = code->derived();
  ASSERT_NE(made, nullptr);
  ASSERT_TRUE(in.run());
  EXPECT_EQ(code->derived(), made);  // made once
  code->push_back(OP_NOP);
  EXPECT_EQ(code->derived(), nullptr);
  code->pop_back();
  EXPECT_EQ(code->derived(), nullptr);  // same size again, but not the same bytes
  ASSERT_TRUE(in.run());
  EXPECT_EQ(in.topInt(), 10);
  ASSERT_NE(code->derived(), nullptr);
  // One more literal: literal operands are checked against the count.
  proc->push_back(MoxValue(int32_t(1)));
  ASSERT_TRUE(in.run());
  EXPECT_EQ(in.topInt(), 10);
  EXPECT_EQ(static_cast<const MoxTranslation*>(code->derived())->literalCount(), proc->size());
}

// Cells address temporaries and arguments without checks, so only code
// whose frame provably holds under them runs cells: compiled code, and
// hand-made code that keeps the top above its temporaries. An activation
// with fewer arguments than its cells read runs from the bytes, which
// report the missing one.
TEST(Translation, OnlyFramedCodeRunsCells) {
  auto argsFor = [](const Bytes& code) {
    MoxTranslation* x = MoxTranslation::make(code.data(), uint32_t(code.size()), 8);
    EXPECT_NE(x, nullptr);
    const uint32_t a = x ? x->argsForCells() : 0;
    MoxTranslation::destroy(x);
    return a;
  };
  // main's loop: framed, no arguments needed.
  Interp in;
  ASSERT_TRUE(in.runSource("main(;i, s) { for (i = 0; i < 5; i++) s = i + 1; return s; }"));
  MoxVector* proc = static_cast<MoxVector*>(in.vm.symbols().find(MoxString(u"main"))->getValue());
  const MoxBuffer* mainCode = moxProcCode(proc);
  EXPECT_EQ(argsFor(Bytes(mainCode->data(), mainCode->data() + mainCode->size())), 0u);
  // t1 = arg 2 + t0: framed, three arguments needed.
  auto sum = [](uint8_t first) {
    Bytes c;
    if (first != OP_NOP) emit(c, first, 2);
    c.push_back(OP_PUSH);
    emit(c, OP_AREF, 2);
    c.push_back(OP_PUSH);
    emit(c, OP_TREF, 0);
    c.push_back(OP_ADD);
    emit(c, OP_TSET, 1);
    c.push_back(OP_RETURN);
    return c;
  };
  EXPECT_EQ(argsFor(sum(OP_TSPACE)), 3u);
  EXPECT_EQ(argsFor(sum(OP_NOP)), kMoxNoCell);  // no temporaries to read
  Bytes popped = sum(OP_TSPACE);                // the top inside the temporaries
  popped.insert(popped.begin() + 2, OP_POP);
  EXPECT_EQ(argsFor(popped), kMoxNoCell);
  Bytes late = sum(OP_TSPACE);  // a second frame
  late.insert(late.end() - 1, {OP_TSPACE, 2});
  EXPECT_EQ(argsFor(late), kMoxNoCell);
  Bytes back = sum(OP_TSPACE);  // a loop that pops on every round
  back.pop_back();
  back.insert(back.end(), {OP_POP, OP_POP});
  emitBranch(back, OP_BR, 2);
  EXPECT_EQ(argsFor(back), kMoxNoCell);
  Outcome o = expectSameBothWays("f(a, b) { return a + b; } main() { return f(1); }", "one short");
  EXPECT_NE(o.errors.find("too few arguments"), std::string::npos) << o.errors;
}

// Every kind, with the values that make each handler give up and leave the
// step to the plain handlers: counted values in the slots it overwrites,
// strings, doubles, floats, nulls, indices out of range, dead references.
TEST(Translation, SameResultsTranslatedAndOnTheBytes) {
  const char* programs[] = {
      // loop tests, i++ and i--, c = a op b on temporaries and literals
      "main(;i, j, s, t) { s = 0; for (i = 0; i < 300; i++) { t = i * 3; s = s + t; s = s - 1; }"
      " for (j = 10; j > 0; j--) s = s + j; print(s, \"\\n\"); return s; }",
      // the same on doubles, strings and null, which the handlers leave
      "main(;i, s, d, k) { d = 0.5; s = \"\"; for (i = 0.0; i < 4; i++) { d = d + i; d = d * 2.0; }"
      " for (k = 0; k < 3; k++) { s = s + 65; s = s + \"-\"; } print(d, \" \", s, \"\\n\");"
      " i = null; i++; return i; }",
      // comparisons of every kind followed by a branch
      "main(;a, b, n) { n = 0; a = 2; b = 3.5; if (a < b) n = n + 1; if (a >= b) n = n + 2;"
      " if (b > a) n = n + 4; if (\"x\" != \"y\") n = n + 8; if (a <= 2) n = n + 16;"
      " if (a == 2.0) n = n + 32; while (a != 0) a = a - 1; return n; }",
      // element reads through temporaries and arguments, with offsets
      "sum(v, n;i, s) { s = 0; for (i = 1; i < n; i++) s = s + v[i] + v[i - 1] + v[i + 0]; return s; }\n"
      "main(;v, w, i, s, b, str) { v = newvector(10); for (i = 0; i < 10; i++) v[i] = i * i;"
      " s = sum(v, 10); w = v; for (i = 0; i < 10; i++) s = s + w[i]; b = newbuffer(4, 7);"
      " str = \"abcd\"; for (i = 1; i < 4; i++) s = s + b[i] + str[i] + str[i - 1]; return s; }",
      // elements that are objects, strings and vectors (counted values)
      "class P { x; P(n); get(); }\nP::P(n) { x = n; }\nP::get() { return x; }\n"
      "main(;v, i, s, p) { v = newvector(3); for (i = 0; i < 3; i++) { p = new P(i); v[i] = p; }"
      " s = 0; for (i = 0; i < 3; i++) { p = v[i]; s = s + p->get(); } v[1] = \"str\"; p = v[1];"
      " print(p, \" \", s, \"\\n\"); return s; }",
      // an index out of range through a fused read is the plain error
      "main(;v, i) { v = newvector(3); i = 3; return v[i]; }",
      "main(;v, i) { v = newvector(3); i = 0; return v[i - 1]; }",
      "main(;i, x) { x = 5; i = 0; return x[i]; }",
      // strings appended in place and shared
      "main(;s, t, i) { s = \"\"; for (i = 0; i < 50; i++) s = s + \"ab\"; t = s; s = s + \"!\";"
      " print(strlen(s), \" \", strlen(t), \"\\n\"); return 0; }",
      // destructors where a fused step would release the last reference
      "class D { n; D(k); ~D(); }\nD::D(k) { n = k; }\nD::~D() { print(\"bye \", n, \"\\n\"); }\n"
      "main(;d, i, v) { v = newvector(2); for (i = 0; i < 2; i++) { d = new D(i); v[i] = d; }"
      " d = 0; v[0] = 1; for (i = 0; i < 2; i++) d = i + 1; v = 0; return d; }",
      // integer wrap-around and the results left in the slots above
      "main(;a, b, c) { a = 2147483647; b = 1; c = a + b; b = c - 1; a = b * 2; return a; }",
  };
  std::string seen;
  for (const char* p : programs) {
    const Outcome o = expectSameBothWays(p, p);
    seen += (o.ok ? "ok " : "error ") + o.printed + o.errors + "|";
  }
  // What the programs do, so that a typo cannot make a case vacuous.
  EXPECT_EQ(seen,
            "ok 134305\n|error 30.000000 A-A-A-\ninvalid value type MVT_NULL, MVT_INTEGER expected\n|"
            "ok |ok |ok str 3\n|error subscript out of range\n|error subscript out of range\n|"
            "error invalid value type MVT_INTEGER, MVT_OBJECT expected\n|ok 101 100\n|"
            "ok bye 0\nbye 1\n|ok |");
}

// Going over the memory limit inside a sequence (a string grown in place, a
// stack grown by a deep recursion) fails where the bytes fail: the same
// error and the same trace, lines included, although the sequences that
// follow on other lines would run on.
// Runs fn of source in a fresh machine, translated or on the bytes alone,
// under a memory limit when one is given: whether it succeeded, what it
// printed, its error text and its error trace.
static std::string runTraced(const char* source, const char16_t* fn, bool plain, size_t limit = 0) {
  MoxStringPrinter out, errors;
  MoxVirtualMachine vm(&out);
  if (!vm.compileText(U(source).c_str())) return "not compiled";
  vm.setTranslation(!plain);
  if (limit) vm.setMemoryLimit(limit);
  const bool ok = vm.execute(fn, 0, nullptr, false, &errors);
  // One at a time: a_str's text lasts until its next call.
  std::string seen = std::string(ok ? "ok|" : "failed|") + out.a_str() + "|";
  return seen + errors.a_str() + "|" + N(vm.getErrorTrace());
}

TEST(Translation, MemoryLimitFailsWhereTheBytesFail) {
  const char* source =
      "grow(;s, i, j) { s = \"\"; for (i = 0; i < 10000000; i++) {\n"
      " s = s + \"abcdefgh\";\n"
      " j = i + 1; }\n"
      " return 0; }\n"
      "deep(n;a, b) {\n"
      " a = n + 1;\n"
      " b = a * 2;\n"
      " if (n > 0) return deep(n - 1) + a + b;\n"
      " return b; }\n"
      "first() { return grow(); }\nsecond() { return deep(5000); }";
  int failures = 0;
  for (size_t limit : {size_t(1) << 16, size_t(3) << 15, size_t(1) << 17, size_t(5) << 15,
                       size_t(3) << 16, size_t(7) << 15}) {
    for (const char16_t* fn : {u"first", u"second"}) {
      std::string seen[2];
      for (int plain = 0; plain < 2; ++plain) {
        seen[plain] = runTraced(source, fn, plain == 1, limit);
        failures += seen[plain].compare(0, 7, "failed|") == 0;
      }
      EXPECT_EQ(seen[0], seen[1]) << limit;
    }
  }
  EXPECT_EQ(failures, 24);
}

TEST(Translation, ProcedureReplacedWhileRunning) {
  // A running procedure is recompiled from inside itself: the activation
  // goes on with the code it started with, the next call runs the new one.
  const char* source =
      "f(n;i, s) { s = 0; for (i = 0; i < n; i++) s = s + i;"
      " if (n == 5) compile(\"f(n;i, s) { s = 100; for (i = 0; i < n; i++) s = s + 2; return s; }\");"
      " for (i = 0; i < n; i++) s = s + 1; return s; }\n"
      "main(;a, b) { a = f(5); b = f(5); print(a, \" \", b, \"\\n\"); return a + b; }";
  expectSameBothWays(source, "replace");
  const Outcome o = runOnce(U(source), u"", false);
  EXPECT_EQ(o.printed, "15 110\n") << o.errors;
}

TEST(Translation, CallerCellsGoneWhileTheCalleeRuns) {
  // Two procedures share one code buffer but not their number of literals,
  // so each call makes the buffer's translation again while the caller
  // waits in the one it ran: the return must not go on in freed cells.
  for (bool plain : {true, false}) {
    Interp in;
    in.in->setTranslation(!plain);
    ASSERT_TRUE(in.runSource("g(n) { return n; }\n"
                             "f(n) { if (n == 0) return 7; return g(n - 1) + 1; }\n"
                             "main() { return f(3); }"));
    EXPECT_EQ(in.topInt(), 3);
    MoxVector* f = static_cast<MoxVector*>(in.vm.symbols().find(MoxString(u"f"))->getValue());
    MoxVector* twin = new MoxVector(*f);
    twin->push_back(MoxValue(int32_t(0)));
    in.define("g", twin);
    for (int round = 0; round < 2; ++round) {
      ASSERT_TRUE(in.run()) << in.errors();
      EXPECT_EQ(in.topInt(), 10);
    }
  }
}

TEST(Translation, CallsFromCellsSameBothWays) {
  // Calls, sends and returns that go from cell to cell, and each way out of
  // that path: a native function, a local object whose destructor runs at
  // the return, too few arguments, the depth limit. The error trace shows
  // where each caller waits.
  const char* sources[] = {
      "class K { n; K(x); ~K(); get(); }\n"
      "K::K(x) { n = x; }\nK::~K() { print(\"d\", n, \" \"); }\nK::get() { return n; }\n"
      "add(a, b) { return a + b; }\nmk(x;k) { k = new K(x); return k->get(); }\n"
      "down(n) { if (n == 0) return 0; return 1 + down(n - 1); }\n"
      "main(;s, i, k) { s = 0; k = new K(100);\n"
      " for (i = 0; i < 5; i++) s = s + add(i, 2) + mk(i) + k->get() + sqrt(4);\n"
      " print(s, \" \", down(2000), \"\\n\");\n"
      " print(add(1), \"\\n\"); return s; }",
      "down(n) { if (n == 0) return 0; return 1 + down(n - 1); }\n"
      "main() { print(down(20000), \"\\n\"); return 0; }"};
  const char* callers[] = {":11: in main", ":2: in main"};
  for (int k = 0; k < 2; ++k) {
    const std::string seen[2] = {runTraced(sources[k], u"main", false),
                                 runTraced(sources[k], u"main", true)};
    EXPECT_EQ(seen[0], seen[1]);
    EXPECT_NE(seen[0].find(callers[k]), std::string::npos) << seen[0];
  }
}

// The scripts of the suite that run without arguments or input, both ways.
TEST(Translation, ScriptSuiteSameBothWays) {
  size_t seen = 0;
  for (const char* folder : {"language", "errors", "safety", "library"}) {
    const std::string dir = std::string(MOX_TEST_DATA_DIR) + "/scripts/" + folder;
    DIR* d = opendir(dir.c_str());
    ASSERT_NE(d, nullptr) << dir;
    std::vector<std::string> names;
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n.size() > 4 && n.compare(n.size() - 4, 4, ".mox") == 0) names.push_back(n);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) {
      const std::string path = dir + "/" + n;
      // Scripts that need arguments, input or their own command line run
      // only through mx2.
      std::string head(65536, '\0');
      if (FILE* f = fopen(path.c_str(), "rb")) {
        head.resize(fread(&head[0], 1, head.size(), f));
        fclose(f);
      }
      bool skip = false;
      for (const char* mark : {"// args:", "// cmd:", "stdin", "stdout", "getwc", "putwc", "fputws"})
        skip = skip || head.find(mark) != std::string::npos;
      if (skip) continue;
      expectSameBothWays("", n, path);
      ++seen;
    }
  }
  EXPECT_GT(seen, 60u);
}

// Hand-made code in which the top slot is a temporary (no PUSH after
// TSPACE): a step must not read a temporary it is about to overwrite.
TEST(Translation, TemporaryInTheTopSlotRunsAsWritten) {
  Bytes code;
  emit(code, OP_TSPACE, 2);
  emit(code, OP_LIT, 3);  // the top is temporary 1: it becomes 3
  emit(code, OP_TSET, 0);
  emit(code, OP_LIT, 4);  // temporary 1 := 5
  emit(code, OP_TREF, 0);  // temporary 1 := 3 again
  code.push_back(OP_PUSH);
  emit(code, OP_TREF, 1);
  code.push_back(OP_ADD);
  emit(code, OP_TSET, 0);
  code.push_back(OP_RETURN);
  ASSERT_EQ(formsOf(code)[8], "MF_NUM_ARITH_SET");
  for (bool plain : {true, false}) {
    Interp in;
    in.define("main", makeProc(code, {MoxValue(int32_t(3)), MoxValue(int32_t(5))}));
    in.in->setTranslation(!plain);
    ASSERT_TRUE(in.run()) << in.errors();
    EXPECT_EQ(in.topInt(), 6) << (plain ? "bytes" : "cells");
  }
}

namespace {

// A tiny deterministic generator (xorshift), so that a failure repeats.
struct Random {
  uint32_t state;
  uint32_t next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }
  uint32_t below(uint32_t n) { return next() % n; }
};

// The literals of a random procedure, made fresh for every run (element
// stores change them): numbers, null and one vector. Nothing whose address
// could show in a result: strings and buffers take any value's first 32
// bits, and two objects of one kind compare by address.
std::vector<MoxValue> randomLiterals() {
  MoxVector* v = new MoxVector();
  for (int i = 0; i < 4; ++i) v->push_back(MoxValue(int32_t(i * 10)));
  v->push_back(MoxValue(1.5));
  return {MoxValue(int32_t(0)), MoxValue(int32_t(1)), MoxValue(int32_t(-2)),
          MoxValue(int32_t(3)), MoxValue(2.5),         MoxValue(),
          MoxValue(int32_t(2)), MoxValue(v),           MoxValue(-0.5)};
}
const uint32_t kRandomLiterals = 9;

// Random code that only ever branches forward, so every run ends: single
// instructions, the sequences that make cells, and stray bytes. A tidy
// program keeps its temporaries in range and the top well above them, and
// branches only to the start of a piece, so that it is framed and its
// cells run; the others mostly run from the bytes both ways.
Bytes randomCode(Random& r, bool tidy) {
  Bytes code;
  const uint32_t temps = tidy ? 5 : 1 + r.below(4);
  emit(code, OP_TSPACE, temps);
  int depth = int(temps);  // slots above the temporaries' base
  if (tidy || r.below(4)) code.push_back(OP_PUSH), ++depth;
  if (tidy) code.push_back(OP_PUSH), ++depth;
  if (tidy) {
    // The vector in temporary 1 and indices 0 and 2 in temporaries 3 and 4,
    // so that elements are read, not only refused.
    const uint8_t start[][2] = {{10, 1}, {3, 3}, {9, 4}};
    for (const auto& set : start) {
      emit(code, OP_LIT, set[0]);
      emit(code, OP_TSET, set[1]);
    }
  }
  const int n = 8 + int(r.below(40));
  std::vector<size_t> branches, pieces;
  // A value, or an element of a temporary or argument at a temporary's index,
  // or at that index plus or minus a literal (its container, index and
  // offset pass through the top and the slots above).
  auto value = [&](Bytes& c) {
    switch (r.below(4)) {
      case 0: emit(c, OP_TREF, r.below(5)); break;
      case 1: emit(c, OP_AREF, r.below(3)); break;
      case 2: emit(c, r.below(4) ? OP_TREF : OP_AREF, r.below(4) ? 1 : r.below(3));
              c.push_back(OP_PUSH);
              emit(c, OP_TREF, r.below(2) ? 3 + r.below(2) : r.below(5));
              if (r.below(3) == 0) {
                c.push_back(OP_PUSH);
                emit(c, OP_LIT, 3 + r.below(r.below(4) ? 4 : kRandomLiterals));
                c.push_back(r.below(2) ? OP_ADD : OP_SUB);
              }
              c.push_back(OP_VREF); break;
      default: emit(c, OP_LIT, 3 + r.below(kRandomLiterals + 1)); break;
    }
  };
  // Stack effect of each piece below; tidy programs skip a piece that would
  // take the top nearer the temporaries than two slots above them.
  static const int kEffect[15] = {1, 0, 0, 0, 1, -1, 0, -2, 0, 0, 0, 0, 0, 0, 0};
  for (int i = 0; i < n; ++i) {
    const uint32_t piece = r.below(15);
    if (tidy && (piece == 11 || depth + kEffect[piece] < int(temps) + 3)) continue;
    pieces.push_back(code.size());
    depth += kEffect[piece];
    switch (piece) {
      case 0: code.push_back(OP_PUSH); value(code); break;
      case 1: value(code); code.push_back(OP_PUSH); value(code);
              code.push_back(uint8_t(OP_ADD + r.below(3))); break;
      case 2: value(code); code.push_back(OP_PUSH); value(code);
              code.push_back(uint8_t(OP_LT + r.below(6)));
              branches.push_back(code.size()); emitBranch(code, r.below(2) ? OP_BRT : OP_BRF, 0); break;
      case 3: emit(code, OP_TREF, r.below(4)); code.push_back(OP_DUP);
              code.push_back(r.below(2) ? OP_INC : OP_DEC); emit(code, OP_TSET, r.below(4));
              code.push_back(OP_POP); break;
      case 4: code.push_back(OP_PUSH); value(code); code.push_back(OP_PUSH); emit(code, OP_TREF, r.below(4));
              if (r.below(2)) { code.push_back(OP_PUSH); emit(code, OP_LIT, 3 + r.below(4));
                                code.push_back(r.below(2) ? OP_ADD : OP_SUB); }
              code.push_back(OP_VREF); break;
      case 5: code.push_back(uint8_t(OP_ADD + r.below(3))); emit(code, OP_TSET, r.below(4)); break;
      case 6: emit(code, OP_TSET, r.below(5)); break;
      case 7: code.push_back(OP_VSET); break;
      case 8: { static const uint8_t ops[] = {OP_POP, OP_DUP, OP_NIL, OP_INC, OP_NEG, OP_NOT,
                                              OP_DUP2, OP_DUPX2, OP_VREF, OP_MREF, OP_MKREF};
                static const int effects[] = {-1, 1, 0, 0, 0, 0, 2, 1, -1, 0, 0};
                uint32_t k = r.below(sizeof ops);
                if (tidy && depth + effects[k] < int(temps) + 3) k = 2;  // OP_NIL
                depth += effects[k];
                code.push_back(ops[k]);
                if (code.back() == OP_MREF) code.push_back(uint8_t(r.below(3)));
                break; }
      case 9: branches.push_back(code.size()); emitBranch(code, OP_BR, 0); break;
      case 10: code.push_back(OP_RWORD); code.push_back(OP_TREF); code.push_back(uint8_t(r.below(4)));
               code.push_back(0); code.push_back(OP_RBYTE); break;
      case 11: code.push_back(uint8_t(r.next())); break;  // anything at all
      case 12: {  // the top with a value: combined, also into a temporary, or compared
        const uint32_t how = r.below(4);
        if (how < 3) {
          code.push_back(OP_PUSH);
          if (r.below(2)) emit(code, OP_LIT, 3 + r.below(kRandomLiterals)); else value(code);
        }
        if (how < 2) code.push_back(uint8_t(OP_ADD + r.below(3)));
        if (how == 1) emit(code, OP_TSET, r.below(4));
        if (how == 2) code.push_back(uint8_t(OP_LT + r.below(6)));
        if (how == 3) code.push_back(OP_NOT);
        if (how >= 2) {
          branches.push_back(code.size());
          emitBranch(code, r.below(2) ? OP_BRT : OP_BRF, 0);
        }
        break;
      }
      case 13: emit(code, r.below(4) ? OP_TREF : OP_AREF, r.below(4) ? 1 : r.below(3));
               code.push_back(OP_PUSH); emit(code, OP_TREF, r.below(2) ? 3 + r.below(2) : r.below(5));
               code.push_back(OP_PUSH); value(code);
               if (r.below(2)) {  // c[i] = a op literal
                 code.push_back(OP_PUSH); emit(code, OP_LIT, 3 + r.below(kRandomLiterals));
                 code.push_back(uint8_t(OP_ADD + r.below(3)));
               }
               code.push_back(OP_VSET); break;
      default: value(code); break;
    }
  }
  pieces.push_back(code.size());
  code.push_back(OP_RETURN);
  // Every branch goes forward, to some offset up to the end (even into the
  // middle of an instruction), in a tidy program to the start of a piece.
  for (size_t at : branches) {
    const uint32_t from = uint32_t(at + 1 + MOX_BRANCH_SIZE);
    uint32_t to = from + r.below(uint32_t(code.size()) - from + 1);
    if (tidy) {
      std::vector<size_t> later;
      for (size_t p : pieces)
        if (p >= from) later.push_back(p);
      to = uint32_t(later[r.below(uint32_t(later.size()))]);
    }
    moxWriteLE32(&code[at + 1], to);
  }
  return code;
}

// What a run left: success, the error text, the top and the whole stack,
// the slots above the top included (what they hold decides when objects
// die); slots past the last non-null one are left out, as the block may
// have grown at different moments.
std::string outcomeOf(Interp& in, bool ok) {
  std::string s = ok ? "ok|" : "failed|";
  s += in.errors() + "|top " + std::to_string(in.in->sp().current()) + "|";
  int last = int(in.in->size()) - 1;
  while (last >= 0 && (*in.in)[unsigned(last)].type() == MVT_NULL) --last;
  for (int i = 0; i <= last; ++i) {
    const MoxValue& v = (*in.in)[unsigned(i)];
    s += std::to_string(int(v.type()));
    if (v.type() == MVT_INTEGER) s += "=" + std::to_string(int32_t(v));
    else if (v.type() == MVT_DOUBLE) s += "=" + std::to_string(double(v));
    else if (const MoxString* text = v) s += "=" + N(text->c_str());
    s += " ";
  }
  return s;
}

}  // namespace

// Random forward-branching code runs alike translated and on the bytes:
// the same success, error text and stack.
TEST(Translation, RandomCodeSameBothWays) {
  // MOX_RANDOM_ROUNDS and MOX_RANDOM_SEED run more or other programs.
  const char* rounds = getenv("MOX_RANDOM_ROUNDS");
  const char* seed = getenv("MOX_RANDOM_SEED");
  Random r{seed ? uint32_t(strtoul(seed, nullptr, 10)) | 1u : 12345u};
  const int total = rounds ? atoi(rounds) : 4000;
  int differ = 0, steps = 0, framed = 0;
  for (int round = 0; round < total && differ < 5; ++round) {
    const Bytes code = randomCode(r, round % 2 == 0);
    for (const std::string& f : formsOf(code, 3 + kRandomLiterals))
      steps += f.compare(0, 3, "MF_") == 0;
    MoxTranslation* xl = MoxTranslation::make(code.data(), uint32_t(code.size()), 3 + kRandomLiterals);
    ASSERT_NE(xl, nullptr);
    framed += xl->argsForCells() <= 3;
    MoxTranslation::destroy(xl);
    std::string seen[2];
    for (int plain = 0; plain < 2; ++plain) {
      // Numbers as arguments: strings would take pointer bits, as above.
      Interp in;
      const std::vector<MoxValue> literals = randomLiterals();
      in.define("f", makeProc(code, literals));
      ASSERT_TRUE(in.compile("main() { return f(7, 300, -1); }"));
      in.in->setTranslation(!plain);
      const bool ok = in.run("main");
      seen[plain] = outcomeOf(in, ok);
      // The vector is made here, not by a script, so the machine's teardown
      // does not know it: a cycle a store made through it (v[i] = v) is
      // broken by hand.
      static_cast<MoxVector*>(literals[7].getRef())->clear();
    }
    if (seen[0] != seen[1]) {
      ++differ;
      std::string hex;
      for (uint8_t b : code) hex += fmt("%02x ", b);
      ADD_FAILURE() << "round " << round << ": " << hex << "\n  cells: " << seen[0]
                    << "\n  bytes: " << seen[1];
    }
  }
  EXPECT_GT(steps, total * 3);
  // The tidy half, nearly all framed: their cells run.
  EXPECT_GT(framed, total * 2 / 5) << framed;
}
