// The tracer. Every read of the code, the stack and the procedure is checked
// against the size of what it reads: hand-made or damaged modules may hold
// code whose operands run past the end or name slots that do not exist, and
// the tracer must describe them rather than read outside.
#include "debugger/MoxDebugger.h"

#include <cstdio>

#include "core/MoxBuffer.h"
#include "core/MoxClass.h"
#include "core/MoxDictionary.h"
#include "core/MoxString.h"
#include "core/MoxValue.h"
#include "core/MoxVector.h"
#include "interpreter/MoxInterpreter.h"
#include "interpreter/MoxOpCodes.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

namespace {

// The class name held by procedure element 1, or "" when it is no class.
const MoxChar* procClassName(const MoxValue& element) {
  MoxClass* cls = element;
  if (!cls || !cls->getClassName()) return u"";
  return cls->getClassName()->c_str();
}

// The value at offset from a cursor, or null when that slot is outside the
// cursor's vector. Never extends the vector.
MoxValue* slotAt(const ValPtr& p, int64_t offset) {
  MoxVector* v = p.vector();
  if (!v) return nullptr;
  int64_t index = int64_t(p.current()) + offset;
  if (index < 0 || index >= int64_t(v->size())) return nullptr;
  return &(*v)[unsigned(index)];
}

// The procedure vector of an activation, or null.
MoxVector* procOf(MoxProcInfo* info) { return info ? info->getProc() : nullptr; }

}  // namespace

MoxDebugger::MoxDebugger(MoxVirtualMachine& vm, IMoxPrinter* printer)
    : trace_(false),
      interpreter_(nullptr),
      currentProc_(nullptr),
      vm_(vm),
      printer_(printer ? printer : &vm.printer()) {}

MoxDebugger::~MoxDebugger() {}

void MoxDebugger::setCurrentProc(MoxProcInfo* proc) {
  currentProc_ = proc;
  if (!proc) return;
  MoxVector* v = procOf(proc);
  const MoxChar* cls = (v && v->size() > MOX_PROC_CLASS) ? procClassName((*v)[MOX_PROC_CLASS]) : u"";
  const MoxChar* name = proc->getName();
  (*printer_)(u"-->current proc %s::%s, %d arguments\n", cls, name ? name : u"<noname>",
              proc->getNargs());
}

const MoxChar* MoxDebugger::getOpCodeName(unsigned int op) const {
  if (op > 255) return u"<unknown>";
  return moxOpName(uint8_t(op));
}

void MoxDebugger::decodeProcedure(MoxVector* proc) {
  if (!proc || proc->size() < 3) return;
  MoxBuffer* code = (*proc)[MOX_PROC_CODE];
  if (!code || !code->data() || code->size() == 0) return;

  MoxClass* cls = (*proc)[MOX_PROC_CLASS];
  if (cls) (*printer_)(u"%s", procClassName((*proc)[MOX_PROC_CLASS]));
  (*printer_)(u"::");
  MoxString* name = (*proc)[MOX_PROC_NAME];
  (*printer_)(u"%s", name ? name->c_str() : u"<unnamed>");
  (*printer_)(u" (%u bytes)\n", code->size());

  const uint8_t* bytes = code->data();
  size_t size = code->size();
  unsigned width = 1;
  size_t offset = 0;
  while (offset < size) {
    MoxInstruction ins;
    bool whole = moxDecodeInstruction(bytes, size, offset, &width, &ins);
    (*printer_)(u"%04x: %02x %9s ", unsigned(offset), unsigned(ins.opcode),
                getOpCodeName(ins.opcode));
    if (!whole) {
      // The operand runs past the end of the code.
      (*printer_)(u"<operand cut off>\n");
      break;
    }
    // The label formats the operand: a hexadecimal target or a signed index.
    const MoxChar* label = moxOpInfo(ins.opcode).label;
    if (ins.kind == MOK_TARGET)
      (*printer_)(label, ins.operand);
    else if (ins.kind == MOK_INDEX)
      (*printer_)(label, int32_t(ins.operand));
    (*printer_)(u"\n");
    offset += ins.length;
  }
}

void MoxDebugger::printValue(const MoxValue& value, bool brief) { printValueAt(value, brief, 0); }

void MoxDebugger::printStringDetail(const MoxString* s) {
  unsigned len = s->length();
  if (len <= 20)
    (*printer_)(u"\"%s\") ", s->c_str());
  else
    (*printer_)(u"(\"%.20s...\") ", s->c_str());
}

void MoxDebugger::printValueAt(const MoxValue& v, bool brief, int depth) {
  IMoxPrinter& out = *printer_;
  MoxValueType t = v.getType();
  out(u"%s ", getValueTypeName(t));
  switch (t) {
    case MVT_NULL:
      break;
    case MVT_INTEGER:
      out(u"%ld ", v.asInt());
      break;
    case MVT_FLOAT:
      out(u"%f ", double(v.asFloat()));
      break;
    case MVT_DOUBLE:
      out(u"%f ", v.asDouble());
      break;
    case MVT_FILE:
      if (v.ptr() == stdin)
        out(u"stdin ");
      else if (v.ptr() == stdout)
        out(u"stdout ");
      else if (v.ptr() == stderr)
        out(u"stderr ");
      else
        out(u"%p", v.ptr());
      break;
    case MVT_CODE:
    case MVT_CODEREF:
      out(u"%p ", v.ptr());
      break;
    case MVT_BYTECODE: case MVT_BUFFER: case MVT_CHARBUFFER: case MVT_VECTOR: case MVT_DICTIONARY:
    case MVT_BYTECODEREF: case MVT_BUFFERREF: case MVT_CHARBUFFERREF: case MVT_VECTORREF:
    case MVT_DICTIONARYREF:
      if (brief)
        out(u"%p ", v.ptr());
      else
        out(u"%p (#%d) ", v.ptr(), v.getRef() ? int(v.getRef()->getRefCnt()) : 0);
      break;
    case MVT_CLASS:
    case MVT_CLASSREF:
    case MVT_OBJECT:
    case MVT_OBJECTREF:
    case MVT_STRING:
    case MVT_STRINGREF: {
      if (brief) {
        out(u"%p ", v.ptr());
        break;
      }
      out(u"%p (#%d) ", v.ptr(), v.getRef() ? int(v.getRef()->getRefCnt()) : 0);
      if (!v.getRef()) break;
      if (t == MVT_CLASS || t == MVT_CLASSREF) {
        out(u"(%s) ", procClassName(v));
      } else if (t == MVT_OBJECT || t == MVT_OBJECTREF) {
        MoxObject* obj = v;
        MoxClass* cls = obj->getClass();
        const MoxChar* name = (cls && cls->getClassName()) ? cls->getClassName()->c_str() : u"";
        out(u"(class %s) ", name);
      } else {
        printStringDetail(static_cast<MoxString*>(v));
      }
      break;
    }
    case MVT_VAR: {
      MoxDictionaryEntry* e = v;
      out(u"%p ", static_cast<void*>(e));
      if (!e || brief) break;
      if (depth >= kMaxPrintDepth) {
        // A chain of variables referring to variables: stop describing.
        out(u"(...) ");
        break;
      }
      out(u"(key:%s value:", e->getKey() ? e->getKey()->c_str() : u"");
      printValueAt(e->getValue(), false, depth + 1);
      out(u") ");
      break;
    }
    default:
      break;
  }
}

void MoxDebugger::printBriefSlot(const MoxChar* label, const ValPtr& p, int64_t offset, bool brief) {
  (*printer_)(u"%s", label);
  MoxValue* v = slotAt(p, offset);
  if (v)
    printValue(*v, brief);
  else
    (*printer_)(u"<no slot> ");
}

void MoxDebugger::traceInstruction(ValPtr sp, ValPtr bp, ValPtr fp, unsigned char width,
                                   unsigned char* code, unsigned int pc, unsigned int codeSize) {
  IMoxPrinter& out = *printer_;
  MoxVector* proc = procOf(currentProc_);
  if (codeSize == 0 && proc && proc->size() > 0) {
    MoxBuffer* buf = (*proc)[MOX_PROC_CODE];
    if (buf && buf->data() == code) codeSize = buf->size();
  }
  if (!code || (codeSize != 0 && pc >= codeSize)) return;
  uint8_t op = code[pc];
  out(u"%04x: %02x %9s SP:%04x ", pc, unsigned(op), getOpCodeName(op), sp.current());

  unsigned w = (width == 2 || width == 4) ? width : 1;
  unsigned operandSize = (moxOperandKind(op) == MOK_TARGET) ? 4u : w;
  bool hasOperand = moxOperandKind(op) == MOK_INDEX || moxOperandKind(op) == MOK_TARGET;
  if (hasOperand && codeSize != 0 && size_t(pc) + 1 + operandSize > codeSize) {
    out(u"<operand cut off>\n");
    return;
  }
  uint32_t operand = hasOperand ? moxReadOperand(code, size_t(pc) + 1, operandSize) : 0;
  int32_t i = int32_t(operand);

  switch (op) {
    case OP_NOP: case OP_PUSH: case OP_NOT: case OP_NEG: case OP_BNOT: case OP_INC: case OP_DEC:
    case OP_RETURN: case OP_DELETE: case OP_MKREF:
      printBriefSlot(u"SP[0]:", sp, 0, false);
      break;
    case OP_NIL: case OP_DUP: case OP_POP:
      printBriefSlot(u"SP[0]:", sp, 0, true);
      break;
    case OP_BRT:
    case OP_BRF: {
      MoxValue* top = slotAt(sp, 0);
      bool zero = !top || int32_t(*top) == 0;
      bool jumps = (op == OP_BRT) ? !zero : zero;
      if (jumps)
        out(u"%04x ", operand);
      else
        out(u"(skip) ");
      printBriefSlot(u"SP[0]:", sp, 0, false);
      break;
    }
    case OP_BR:
      out(u"%04x", operand);
      break;
    case OP_ADD: case OP_SUB: case OP_MUL: case OP_DIV: case OP_REM: case OP_BAND: case OP_BOR:
    case OP_XOR: case OP_SHL: case OP_SHR: case OP_LT: case OP_LE: case OP_EQ: case OP_NE:
    case OP_GE: case OP_GT: case OP_DUP2:
      printBriefSlot(u"SP[-1]:", sp, -1, false);
      printBriefSlot(u"SP[0]:", sp, 0, false);
      break;
    case OP_DUPX2:
      printBriefSlot(u"SP[-2]:", sp, -2, false);
      printBriefSlot(u"SP[-1]:", sp, -1, false);
      printBriefSlot(u"SP[0]:", sp, 0, false);
      break;
    case OP_LIT:
      if (currentProc_) {
        out(u"LIT[%d]:", i);
        printElement(proc, operand, false);
      }
      break;
    case OP_CALL:
      printBriefSlot(u"", sp, -int64_t(operand), false);
      out(u"(%d arguments)", i);
      break;
    case OP_REF:
    case OP_SET:
      if (currentProc_) {
        out(u"VAR[%d]:", i);
        printElement(proc, operand, op == OP_SET);
        if (op == OP_SET) printBriefSlot(u"SP[0](val):", sp, 0, false);
      }
      break;
    case OP_VREF:
      printBriefSlot(u"SP[-1](src):", sp, -1, false);
      printBriefSlot(u"SP[0](index:)", sp, 0, false);
      break;
    case OP_VSET:
      printBriefSlot(u"SP[-2](dest):", sp, -2, false);
      printBriefSlot(u"SP[-1](index):", sp, -1, false);
      printBriefSlot(u"SP[0](val):", sp, 0, false);
      break;
    case OP_MREF:
    case OP_MSET:
      traceMember(bp, operand, op == OP_MSET);
      if (op == OP_MSET) printBriefSlot(u"SP[0](val):", sp, 0, false);
      break;
    case OP_AREF:
    case OP_ASET:
      if (currentProc_) {
        if (i < 0 || i >= currentProc_->getNargs()) {
          out(u"invalid index %d", i);
        } else {
          out(u"BP[%d](arg[%d]):", i + 1, i);
          printBriefSlot(u"", bp, int64_t(operand) + 1, op == OP_ASET);
          if (op == OP_ASET) printBriefSlot(u"SP[0](val):", sp, 0, false);
        }
      }
      break;
    case OP_TREF:
    case OP_TSET:
      out(u"FP[%d](tmp[%d]):", i + 1, i);
      printBriefSlot(u"", fp, int64_t(operand) + 1, op == OP_TSET);
      if (op == OP_TSET) printBriefSlot(u"SP[0](val):", sp, 0, false);
      break;
    case OP_TSPACE:
      out(u"%d ", i);
      break;
    case OP_SEND:
      out(u"SP[%d](obj):", -i);
      printBriefSlot(u"", sp, -int64_t(operand), false);
      out(u"SP[%d](name):", 1 - i);
      printBriefSlot(u"", sp, 1 - int64_t(operand), false);
      out(u"(%d arguments)", i);
      break;
    case OP_NEW:
      printBriefSlot(u"SP[0](class):", sp, 0, false);
      break;
    default:
      break;
  }
  out(u"\n");
}

void MoxDebugger::printElement(MoxVector* proc, uint32_t index, bool brief) {
  if (proc && index < proc->size())
    printValue((*proc)[index], brief);
  else
    (*printer_)(u"<no element> ");
}

void MoxDebugger::traceMember(const ValPtr& bp, uint32_t index, bool brief) {
  printBriefSlot(u"BP[0](obj):", bp, 0, false);
  MoxValue* self = slotAt(bp, 0);
  MoxObject* obj = self ? static_cast<MoxObject*>(*self) : nullptr;
  MoxVector* data = obj ? obj->getMemberData() : nullptr;
  if (!data) return;
  (*printer_)(u"member[%d]:", int32_t(index));
  if (index < data->size())
    printValue((*data)[index], brief);
  else
    (*printer_)(u"<no member> ");
}

void MoxDebugger::onTraceOn(bool& trace, bool& step, MoxProcInfo* current) {
  if (!trace && !step) setCurrentProc(current);
  trace = true;
}

void MoxDebugger::onStepOn(bool& trace, bool& step, MoxProcInfo* current) {
  if (!trace && !step) setCurrentProc(current);
  step = true;
}

void MoxDebugger::traceStep(bool& step, ValPtr sp, ValPtr bp, ValPtr fp, unsigned char width,
                            unsigned char* code, unsigned int pc, unsigned int codeSize) {
  traceInstruction(sp, bp, fp, width, code, pc, codeSize);
  if (step) step = vm_.dbgWait();
}
