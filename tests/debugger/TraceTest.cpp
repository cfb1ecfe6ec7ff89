// Trace lines, activation headers, value printing and the single-step hook.
#include <gtest/gtest.h>

#include "DebuggerTestUtil.h"
#include "core/MoxDictionary.h"
#include "debugger/MoxDebugger.h"
#include "interpreter/MoxInterpreter.h"
#include "interpreter/MoxOpCodes.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

namespace {

// A stack of values, a procedure and an activation over them.
struct Tracer {
  MoxStringPrinter out;
  MoxVirtualMachine vm{&out};
  MoxDebugger dbg{vm, &out};
  MoxValue stackHold{new MoxVector()};
  MoxVector* stack = stackHold;
  MoxValue procHold;
  MoxVector* proc = nullptr;
  MoxProcInfo* info = nullptr;

  ~Tracer() {
    dbg.setCurrentProc(nullptr);
    delete info;
  }
  void push(const MoxValue& v) { stack->push_back(v); }
  // Procedure with the given code; nargs arguments at stack slots 1..nargs.
  void setProc(const std::vector<uint8_t>& code, int nargs, bool attach = true) {
    proc = makeProc(code, nullptr, u"p");
    procHold = MoxValue(proc, true);
    delete info;
    info = new MoxProcInfo(proc, nargs, ValPtr(stack, 0), ValPtr(stack, nargs));
    if (attach) dbg.setCurrentProc(info);
  }
  // Traces the instruction at pc with sp on the top slot.
  std::string trace(unsigned pc, unsigned char width = 1, int fp = 0) {
    out.clear();
    MoxBuffer* code = (*proc)[0];
    ValPtr sp(stack, int(stack->size()) - 1);
    dbg.traceInstruction(sp, ValPtr(stack, 0), ValPtr(stack, fp), width, code->data(), pc);
    return normalise(out.a_str());
  }
};

bool noWait() { return false; }
bool keepWaiting() { return true; }

}  // namespace

TEST(Trace, HeaderLine) {
  Tracer t;
  MoxClass* k = new MoxClass(t.vm, MoxString(u"K"), nullptr);
  MoxValue hold(k);
  t.setProc({OP_RETURN}, 2, false);
  t.dbg.setCurrentProc(t.info);
  EXPECT_EQ(std::string(t.out.a_str()), "-->current proc ::p, 2 arguments\n");
  (*t.proc)[1] = MoxValue(k);
  t.out.clear();
  t.dbg.setCurrentProc(t.info);
  EXPECT_EQ(std::string(t.out.a_str()), "-->current proc K::p, 2 arguments\n");
  t.out.clear();
  t.dbg.setCurrentProc(nullptr);
  EXPECT_EQ(std::string(t.out.a_str()), "");
  EXPECT_EQ(t.dbg.getCurrentProc(), nullptr);
}

TEST(Trace, LiteralLineOfTheExample) {
  Tracer t;
  std::vector<uint8_t> code(0x12, OP_NOP);
  code.push_back(OP_LIT);
  code.push_back(4);
  code.push_back(OP_RETURN);
  t.setProc(code, 0);
  t.proc->push_back(MoxValue());
  t.proc->push_back(MoxValue(int32_t(42)));
  for (int i = 0; i < 4; ++i) t.push(MoxValue());
  EXPECT_EQ(t.trace(0x12), "0012: 1b    OP_LIT SP:0003 LIT[4]:MVT_INTEGER 42 \n");
}

TEST(Trace, LiteralWithWideOperandAndMissingElement) {
  Tracer t;
  t.setProc({OP_LIT, 0x2c, 0x01, OP_LIT, 0xff, 0xff, 0, 0}, 0);
  while (t.proc->size() < 300) t.proc->push_back(MoxValue());
  t.proc->push_back(MoxValue(2.5));
  t.push(MoxValue());
  EXPECT_EQ(t.trace(0, 2), "0000: 1b    OP_LIT SP:0000 LIT[300]:MVT_DOUBLE 2.500000 \n");
  EXPECT_EQ(t.trace(3, 4), "0003: 1b    OP_LIT SP:0000 LIT[65535]:<no element> \n");
  // Without an activation the operand details are left out.
  t.dbg.setCurrentProc(nullptr);
  EXPECT_EQ(t.trace(0, 2), "0000: 1b    OP_LIT SP:0000 \n");
}

TEST(Trace, BranchesTakenAndSkipped) {
  Tracer t;
  t.setProc({OP_BRF, 0x10, 0, 0, 0, OP_BRT, 0x20, 0, 0, 0, OP_BR, 0x30, 0, 0, 0}, 0);
  t.push(MoxValue(int32_t(0)));
  EXPECT_EQ(t.trace(0), "0000: 02    OP_BRF SP:0000 0010 SP[0]:MVT_INTEGER 0 \n");
  EXPECT_EQ(t.trace(5), "0005: 01    OP_BRT SP:0000 (skip) SP[0]:MVT_INTEGER 0 \n");
  (*t.stack)[0] = MoxValue(int32_t(1));
  EXPECT_EQ(t.trace(0), "0000: 02    OP_BRF SP:0000 (skip) SP[0]:MVT_INTEGER 1 \n");
  EXPECT_EQ(t.trace(5), "0005: 01    OP_BRT SP:0000 0020 SP[0]:MVT_INTEGER 1 \n");
  // 0.5 converts to 0.
  (*t.stack)[0] = MoxValue(0.5);
  EXPECT_EQ(t.trace(0), "0000: 02    OP_BRF SP:0000 0010 SP[0]:MVT_DOUBLE 0.500000 \n");
  EXPECT_EQ(t.trace(10), "000a: 03     OP_BR SP:0000 0030\n");
}

TEST(Trace, StackOperandsAndMissingSlots) {
  Tracer t;
  t.setProc({OP_ADD, OP_VSET, OP_VREF, OP_DUP, OP_NEW, OP_DUP2, OP_DUPX2, OP_TSPACE, 3, OP_NIL}, 0);
  t.push(MoxValue(int32_t(1)));
  t.push(MoxValue(int32_t(2)));
  EXPECT_EQ(t.trace(0), "0000: 08    OP_ADD SP:0001 SP[-1]:MVT_INTEGER 1 SP[0]:MVT_INTEGER 2 \n");
  EXPECT_EQ(t.trace(1),
            "0001: 21   OP_VSET SP:0001 SP[-2](dest):<no slot> SP[-1](index):MVT_INTEGER 1 "
            "SP[0](val):MVT_INTEGER 2 \n");
  EXPECT_EQ(t.trace(2),
            "0002: 20   OP_VREF SP:0001 SP[-1](src):MVT_INTEGER 1 SP[0](index:)MVT_INTEGER 2 \n");
  EXPECT_EQ(t.trace(3), "0003: 2d    OP_DUP SP:0001 SP[0]:MVT_INTEGER 2 \n");
  EXPECT_EQ(t.trace(4), "0004: 2b    OP_NEW SP:0001 SP[0](class):MVT_INTEGER 2 \n");
  EXPECT_EQ(t.trace(5), "0005: 2a   OP_DUP2 SP:0001 SP[-1]:MVT_INTEGER 1 SP[0]:MVT_INTEGER 2 \n");
  EXPECT_EQ(t.trace(6),
            "0006: 30  OP_DUPX2 SP:0001 SP[-2]:<no slot> SP[-1]:MVT_INTEGER 1 SP[0]:MVT_INTEGER 2 \n");
  EXPECT_EQ(t.trace(7), "0007: 28 OP_TSPACE SP:0001 3 \n");
  EXPECT_EQ(t.trace(9), "0009: 04    OP_NIL SP:0001 SP[0]:MVT_INTEGER 2 \n");
}

TEST(Trace, ArgumentsTemporariesAndVariables) {
  Tracer t;
  t.setProc({OP_AREF, 0, OP_ASET, 1, OP_AREF, 2, OP_TREF, 0, OP_TSET, 0, OP_REF, 3, OP_SET, 3}, 2);
  MoxDictionary dict;
  dict.addRef();
  MoxDictionaryEntry& count = dict[MoxString(u"count")];
  count.setValue(MoxValue(int32_t(7)));
  t.proc->push_back(MoxValue(&count));
  t.push(MoxValue());                        // bp[0]
  t.push(MoxValue(int32_t(10)));             // arg 0
  t.push(MoxValue(new MoxString(u"abc")));   // arg 1
  t.push(MoxValue(int32_t(5)));              // tmp 0 (fp = slot 2)
  EXPECT_EQ(t.trace(0), "0000: 24   OP_AREF SP:0003 BP[1](arg[0]):MVT_INTEGER 10 \n");
  EXPECT_EQ(t.trace(2),
            "0002: 25   OP_ASET SP:0003 BP[2](arg[1]):MVT_STRING P SP[0](val):MVT_INTEGER 5 \n");
  EXPECT_EQ(t.trace(4), "0004: 24   OP_AREF SP:0003 invalid index 2\n");
  EXPECT_EQ(t.trace(6, 1, 2), "0006: 26   OP_TREF SP:0003 FP[1](tmp[0]):MVT_INTEGER 5 \n");
  EXPECT_EQ(t.trace(8, 1, 2),
            "0008: 27   OP_TSET SP:0003 FP[1](tmp[0]):MVT_INTEGER 5 SP[0](val):MVT_INTEGER 5 \n");
  EXPECT_EQ(t.trace(10),
            "000a: 1e    OP_REF SP:0003 VAR[3]:MVT_VAR P (key:count value:MVT_INTEGER 7 ) \n");
  EXPECT_EQ(t.trace(12), "000c: 1f    OP_SET SP:0003 VAR[3]:MVT_VAR P SP[0](val):MVT_INTEGER 5 \n");
}

TEST(Trace, CallsSendsAndMembers) {
  Tracer t;
  t.setProc({OP_CALL, 1, OP_SEND, 2, OP_MREF, 1, OP_MSET, 2}, 0);
  MoxClass* k = new MoxClass(t.vm, MoxString(u"K"), nullptr);
  k->addDataMember(MoxString(u"a"));
  k->fixupDataDefs();
  MoxObject* o = new MoxObject(k);
  (*o->getMemberData())[1] = MoxValue(int32_t(3));
  t.push(MoxValue(o));
  t.push(MoxValue(new MoxString(u"sel")));
  t.push(MoxValue(int32_t(4)));
  EXPECT_EQ(t.trace(0), "0000: 1d   OP_CALL SP:0002 MVT_STRING P (#1) \"sel\") (1 arguments)\n");
  EXPECT_EQ(t.trace(2),
            "0002: 29   OP_SEND SP:0002 SP[-2](obj):MVT_OBJECT P (#1) (class K) "
            "SP[-1](name):MVT_STRING P (#1) \"sel\") (2 arguments)\n");
  EXPECT_EQ(t.trace(4),
            "0004: 22   OP_MREF SP:0002 BP[0](obj):MVT_OBJECT P (#1) (class K) member[1]:MVT_INTEGER 3 \n");
  EXPECT_EQ(t.trace(6),
            "0006: 23   OP_MSET SP:0002 BP[0](obj):MVT_OBJECT P (#1) (class K) member[2]:<no member> "
            "SP[0](val):MVT_INTEGER 4 \n");
  // bp[0] not an object: only the object is shown.
  (*t.stack)[0] = MoxValue(int32_t(0));
  EXPECT_EQ(t.trace(4), "0004: 22   OP_MREF SP:0002 BP[0](obj):MVT_INTEGER 0 \n");
}

TEST(Trace, ValuesOfEveryKind) {
  Tracer t;
  t.setProc({OP_PUSH, OP_POP}, 0);
  auto show = [&](const MoxValue& v, bool brief) {
    t.stack->clear();
    t.push(v);
    std::string s = t.trace(brief ? 1 : 0);
    size_t at = s.find("SP[0]:");
    return s.substr(at + 6, s.size() - at - 7);
  };
  EXPECT_EQ(show(MoxValue(), false), "MVT_NULL ");
  EXPECT_EQ(show(MoxValue(1.5f), false), "MVT_FLOAT 1.500000 ");
  EXPECT_EQ(show(MoxValue(static_cast<void*>(stdout)), false), "MVT_FILE stdout ");
  EXPECT_EQ(show(MoxValue(static_cast<void*>(stderr)), false), "MVT_FILE stderr ");
  EXPECT_EQ(show(MoxValue(static_cast<void*>(stdin)), false), "MVT_FILE stdin ");
  EXPECT_EQ(show(MoxValue(static_cast<void*>(nullptr)), false), "MVT_FILE P");
  EXPECT_EQ(show(MoxValue(MoxNativeFunction(nullptr)), false), "MVT_CODE P ");
  MoxVector* v = new MoxVector();
  EXPECT_EQ(show(MoxValue(v), false), "MVT_VECTOR P (#2) ");
  EXPECT_EQ(show(MoxValue(v), true), "MVT_VECTOR P ");
  EXPECT_EQ(show(MoxValue(static_cast<MoxRefObject*>(nullptr), MVT_BUFFER), false), "MVT_BUFFER P (#0) ");
  MoxClass* k = new MoxClass(t.vm, MoxString(u"Kls"), nullptr);
  EXPECT_EQ(show(MoxValue(k), false), "MVT_CLASS P (#2) (Kls) ");
  {
    // Held while its uncounted twin is shown (an uncounted value of a dead
    // class reads as null).
    MoxValue keep(k);
    EXPECT_EQ(show(MoxValue(k, true), true), "MVT_CLASSREF P ");
  }
  EXPECT_EQ(show(MoxValue(new MoxString(u"twenty chars exactly")), false),
            "MVT_STRING P (#2) \"twenty chars exactly\") ");
  EXPECT_EQ(show(MoxValue(new MoxString(u"this string has 25 chars.")), false),
            "MVT_STRING P (#2) (\"this string has 25 c...\") ");
  EXPECT_EQ(show(MoxValue(static_cast<MoxRefObject*>(nullptr), MVT_STRING), false), "MVT_STRING P (#0) ");
  t.stack->clear();
}

TEST(Trace, VariableChainsAreDepthBounded) {
  Tracer t;
  t.setProc({OP_PUSH}, 0);
  MoxDictionary dict;
  dict.addRef();
  MoxDictionaryEntry* prev = nullptr;
  for (int i = 0; i < 50; ++i) {
    MoxDictionaryEntry& e = dict[MoxString::format(u"v%d", i)];
    e.setValue(prev ? MoxValue(prev) : MoxValue(int32_t(1)));
    prev = &e;
  }
  // The entry refers to itself as well.
  MoxDictionaryEntry& self = dict[MoxString(u"self")];
  self.setValue(MoxValue(&self));
  t.push(MoxValue(prev));
  std::string s = t.trace(0);
  EXPECT_NE(s.find("(...)"), std::string::npos);
  (*t.stack)[0] = MoxValue(&self);
  s = t.trace(0);
  EXPECT_NE(s.find("(...)"), std::string::npos);
  t.stack->clear();
}

TEST(Trace, CutOffOperandAndPastTheEnd) {
  Tracer t;
  t.setProc({OP_PUSH, OP_BRF, 0}, 0);
  t.push(MoxValue());
  EXPECT_EQ(t.trace(1), "0001: 02    OP_BRF SP:0000 <operand cut off>\n");
  EXPECT_EQ(t.trace(3), "");
}

TEST(Trace, DebuggingOpcodesAndSingleStep) {
  Tracer t;
  t.setProc({OP_TRON, OP_TROFF, OP_TRSTEP, OP_RWORD}, 1, false);
  t.push(MoxValue());
  EXPECT_EQ(t.trace(0), "0000: 80   OP_TRON SP:0000 \n");
  EXPECT_EQ(t.trace(3), "0003: f1  OP_RWORD SP:0000 \n");

  // OP_TRON with neither mode on makes the activation current (header).
  bool trace = false, step = false;
  t.out.clear();
  t.dbg.onTraceOn(trace, step, t.info);
  EXPECT_TRUE(trace);
  EXPECT_EQ(std::string(t.out.a_str()), "-->current proc ::p, 1 arguments\n");
  // Already tracing: OP_TRSTEP adds step mode without a second header.
  t.out.clear();
  t.dbg.onStepOn(trace, step, t.info);
  EXPECT_TRUE(step);
  EXPECT_EQ(std::string(t.out.a_str()), "");
  MoxDebugger::onTraceOff(trace);
  EXPECT_FALSE(trace);

  // Single step: traced, then the wait procedure decides.
  MoxBuffer* code = (*t.proc)[0];
  ValPtr sp(t.stack, 0);
  t.vm.setDbgWaitProc(&keepWaiting);
  t.out.clear();
  t.dbg.traceStep(step, sp, sp, sp, 1, code->data(), 0);
  EXPECT_TRUE(step);
  EXPECT_NE(std::string(t.out.a_str()).find("OP_TRON"), std::string::npos);
  t.vm.setDbgWaitProc(&noWait);
  t.dbg.traceStep(step, sp, sp, sp, 1, code->data(), 1);
  EXPECT_FALSE(step);
  // Without step mode the wait procedure is not asked.
  t.vm.setDbgWaitProc(&keepWaiting);
  t.dbg.traceStep(step, sp, sp, sp, 1, code->data(), 1);
  EXPECT_FALSE(step);
  t.vm.setDbgWaitProc(nullptr);
  step = true;
  t.dbg.traceStep(step, sp, sp, sp, 1, code->data(), 1);
  EXPECT_FALSE(step);
}

TEST(Trace, NullPrinterMeansTheMachinesPrinter) {
  MoxStringPrinter out;
  MoxVirtualMachine vm(&out);
  MoxDebugger dbg(vm, nullptr);
  EXPECT_EQ(&dbg.getPrinter(), &out);
  EXPECT_FALSE(dbg.getTrace());
  dbg.setTrace(true);
  EXPECT_TRUE(dbg.getTrace());
  EXPECT_EQ(dbg.getInterpreter(), nullptr);
}
