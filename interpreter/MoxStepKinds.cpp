// Recognising the instruction sequences that the loop runs as one step.
#include "interpreter/MoxStepKinds.h"

#include <cstdlib>

#include "core/MoxBuffer.h"
#include "interpreter/MoxOpCodes.h"

static_assert(int(MSK_PUSH_VALUE) > int(OP_DUPX2) && int(MSK_LAST) < int(OP_TRON),
              "step kinds must lie outside the opcode set");

namespace {

// A view of the bytes from one offset on, with every read bounds-checked:
// a pattern that runs past the end simply does not match.
class Cursor {
 public:
  Cursor(const uint8_t* code, uint32_t len, uint32_t pc) : code_(code), len_(len), pc_(pc) {}

  // The byte at the cursor is op; steps over it.
  bool take(uint8_t op) {
    if (pc_ >= len_ || code_[pc_] != op) return false;
    ++pc_;
    return true;
  }
  // One of the opcodes in [lo, hi]; steps over it.
  bool takeRange(uint8_t lo, uint8_t hi) {
    if (pc_ >= len_ || code_[pc_] < lo || code_[pc_] > hi) return false;
    ++pc_;
    return true;
  }
  // op followed by a one-byte operand, which goes to *operand.
  bool takeIndexed(uint8_t op, uint32_t* operand = nullptr) {
    if (len_ - pc_ < 2 || code_[pc_] != op) return false;
    if (operand) *operand = code_[pc_ + 1];
    pc_ += 2;
    return true;
  }
  // BRT or BRF with its target.
  bool takeConditionalBranch() {
    if (len_ - pc_ < 1 + MOX_BRANCH_SIZE || (code_[pc_] != OP_BRT && code_[pc_] != OP_BRF))
      return false;
    pc_ += 1 + MOX_BRANCH_SIZE;
    return true;
  }
  bool takeArith() { return take(OP_ADD) || take(OP_SUB) || take(OP_MUL); }
  bool takeCompare() { return takeRange(OP_LT, OP_GT); }
  // TREF j or AREF j: the first value of an integer step.
  bool takeVariable() { return takeIndexed(OP_TREF) || takeIndexed(OP_AREF); }
  // TREF j, AREF j or LIT j.
  bool takeValue() { return takeVariable() || takeIndexed(OP_LIT); }
  uint32_t pc() const { return pc_; }

 private:
  const uint8_t* code_;
  uint32_t len_;
  uint32_t pc_;
};

// After `value a; PUSH; value b` at c: the integer step it starts, or 0.
uint8_t matchIntStep(Cursor c, bool pushed, uint32_t* end) {
  Cursor rest = c;
  if (rest.takeCompare() && rest.takeConditionalBranch()) {
    *end = rest.pc();
    return pushed ? MSK_PUSH_INT_COMPARE_BRANCH : MSK_INT_COMPARE_BRANCH;
  }
  rest = c;
  if (!pushed && rest.takeArith() && rest.takeIndexed(OP_TSET)) {
    *end = rest.pc();
    return MSK_INT_ARITH_SET;
  }
  rest = c;
  if (rest.takeArith() || rest.takeCompare()) {
    *end = rest.pc();
    return pushed ? MSK_PUSH_INT_OP : MSK_INT_OP;
  }
  return 0;
}

uint8_t matchPush(const uint8_t* code, uint32_t len, uint32_t pc, uint32_t* end) {
  {
    Cursor c(code, len, pc);
    if (c.take(OP_PUSH) && c.takeIndexed(OP_TREF) && c.take(OP_PUSH) && c.takeIndexed(OP_LIT) &&
        (c.take(OP_ADD) || c.take(OP_SUB)) && c.take(OP_VREF)) {
      *end = c.pc();
      return MSK_PUSH_TEMP_LIT_ELEM;
    }
  }
  {
    Cursor c(code, len, pc);
    if (c.take(OP_PUSH) && c.takeVariable() && c.take(OP_PUSH) && c.takeIndexed(OP_TREF)) {
      Cursor rest = c;
      if (rest.take(OP_VREF)) {
        *end = rest.pc();
        return MSK_PUSH_ELEM;
      }
      if (c.take(OP_PUSH) && c.takeIndexed(OP_LIT) && (c.take(OP_ADD) || c.take(OP_SUB)) &&
          c.take(OP_VREF)) {
        *end = c.pc();
        return MSK_PUSH_ELEM_OFFSET;
      }
    }
  }
  {
    Cursor c(code, len, pc);
    if (c.take(OP_PUSH) && c.takeVariable() && c.take(OP_PUSH) && c.takeValue())
      if (uint8_t k = matchIntStep(c, true, end)) return k;
  }
  {
    Cursor c(code, len, pc);
    if (c.take(OP_PUSH) && c.takeIndexed(OP_TREF) && c.take(OP_VREF)) {
      *end = c.pc();
      return MSK_PUSH_TEMP_ELEM;
    }
  }
  {
    Cursor c(code, len, pc);
    if (c.take(OP_PUSH) && c.takeIndexed(OP_LIT) && c.takeArith()) {
      *end = c.pc();
      return MSK_PUSH_LIT_OP;
    }
  }
  Cursor c(code, len, pc + 1);
  if (c.takeValue()) {
    *end = c.pc();
    return MSK_PUSH_VALUE;
  }
  if (c.takeIndexed(OP_MREF)) {
    *end = c.pc();
    return MSK_PUSH_MEMBER;
  }
  return OP_PUSH;
}

uint8_t matchVariable(const uint8_t* code, uint32_t len, uint32_t pc, uint32_t* end) {
  const uint8_t op = code[pc];
  if (op == OP_TREF) {
    uint32_t a = 0, again = 0;
    Cursor c(code, len, pc);
    if (c.takeIndexed(OP_TREF, &a) && c.take(OP_DUP) && (c.take(OP_INC) || c.take(OP_DEC)) &&
        c.takeIndexed(OP_TSET, &again) && again == a && c.take(OP_POP)) {
      *end = c.pc();
      return MSK_TEMP_STEP;
    }
  }
  {
    Cursor c(code, len, pc);
    if (c.takeVariable() && c.take(OP_PUSH) && c.takeValue())
      if (uint8_t k = matchIntStep(c, false, end)) return k;
  }
  {
    Cursor c(code, len, pc);
    if (c.takeVariable() && c.take(OP_PUSH) && c.takeIndexed(OP_TREF) && c.take(OP_VREF)) {
      *end = c.pc();
      return MSK_LOAD_ELEM;
    }
  }
  Cursor c(code, len, pc);
  if (c.takeVariable() && c.take(OP_PUSH) && c.takeValue()) {
    const uint32_t pairEnd = c.pc();
    if (c.take(OP_PUSH)) {
      *end = pairEnd;
      return MSK_LOAD_PAIR;
    }
  }
  Cursor single(code, len, pc);
  if (op == OP_TREF && single.takeIndexed(OP_TREF)) {
    *end = single.pc();
    return MSK_TEMP;
  }
  return op;
}

// The kind of the longest sequence starting at pc, and its end in *end.
uint8_t match(const uint8_t* code, uint32_t len, uint32_t pc, uint32_t* end) {
  const uint8_t op = code[pc];
  if (op == OP_PUSH) return matchPush(code, len, pc, end);
  if (op == OP_TREF || op == OP_AREF) return matchVariable(code, len, pc, end);
  if (op >= OP_LT && op <= OP_GT) {
    Cursor c(code, len, pc + 1);
    if (c.takeConditionalBranch()) {
      *end = c.pc();
      return MSK_COMPARE_BRANCH;
    }
    return op;
  }
  if (op == OP_VSET) return MSK_ELEM_SET;
  if (op == OP_MREF) {
    Cursor c(code, len, pc);
    if (c.takeIndexed(OP_MREF)) {
      *end = c.pc();
      return MSK_MEMBER;
    }
    return op;
  }
  if (op == OP_ADD || op == OP_SUB || op == OP_MUL) {
    Cursor c(code, len, pc + 1);
    if (c.takeIndexed(OP_TSET)) {
      *end = c.pc();
      return MSK_ARITH_SET;
    }
    return op;
  }
  return moxIsKnownOpcode(op) ? op : uint8_t(OP_NOP);
}

}  // namespace

void moxBuildStepKinds(const uint8_t* code, uint32_t len, uint8_t* kinds) {
  for (uint32_t pc = 0; pc < len; ++pc) {
    uint32_t end = pc + 1;
    kinds[pc] = match(code, len, pc, &end);
  }
}

uint32_t moxStepLength(const uint8_t* code, uint32_t len, uint32_t pc, uint8_t kind) {
  if (pc >= len) return 0;
  uint32_t end = pc + 1;
  const uint8_t k = match(code, len, pc, &end);
  return k == kind ? end - pc : 0;
}

const uint8_t* moxStepKindsOf(MoxBuffer* code) {
  if (const unsigned char* kinds = code->stepKinds()) return kinds;
  // Empty code never reaches the table: the loop stops at its end first.
  static const uint8_t kEmpty[1] = {OP_NOP};
  if (code->size() == 0) return kEmpty;
  uint8_t* kinds = static_cast<uint8_t*>(malloc(code->size()));
  if (!kinds) return nullptr;
  moxBuildStepKinds(code->data(), code->size(), kinds);
  code->setStepKinds(kinds);
  return kinds;
}
