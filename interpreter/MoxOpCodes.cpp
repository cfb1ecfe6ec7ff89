// The opcode table: names, operand kinds and stack effects.
#include "interpreter/MoxOpCodes.h"

namespace {

const MoxOpInfo kUnknown = {u"<unknown>", "<unknown>", MOK_NONE, 0, false};

struct Entry {
  uint8_t code;
  MoxOpInfo info;
};

#define MOX_OP(op, kind, effect) {op, {u## #op, #op, kind, effect, true}}

const Entry kEntries[] = {
    MOX_OP(OP_NOP, MOK_NONE, 0),
    MOX_OP(OP_BRT, MOK_TARGET, 0),
    MOX_OP(OP_BRF, MOK_TARGET, 0),
    MOX_OP(OP_BR, MOK_TARGET, 0),
    MOX_OP(OP_NIL, MOK_NONE, 0),
    MOX_OP(OP_PUSH, MOK_NONE, 1),
    MOX_OP(OP_NOT, MOK_NONE, 0),
    MOX_OP(OP_NEG, MOK_NONE, 0),
    MOX_OP(OP_ADD, MOK_NONE, -1),
    MOX_OP(OP_SUB, MOK_NONE, -1),
    MOX_OP(OP_MUL, MOK_NONE, -1),
    MOX_OP(OP_DIV, MOK_NONE, -1),
    MOX_OP(OP_REM, MOK_NONE, -1),
    MOX_OP(OP_BAND, MOK_NONE, -1),
    MOX_OP(OP_BOR, MOK_NONE, -1),
    MOX_OP(OP_XOR, MOK_NONE, -1),
    MOX_OP(OP_BNOT, MOK_NONE, 0),
    MOX_OP(OP_SHL, MOK_NONE, -1),
    MOX_OP(OP_SHR, MOK_NONE, -1),
    MOX_OP(OP_LT, MOK_NONE, -1),
    MOX_OP(OP_LE, MOK_NONE, -1),
    MOX_OP(OP_EQ, MOK_NONE, -1),
    MOX_OP(OP_NE, MOK_NONE, -1),
    MOX_OP(OP_GE, MOK_NONE, -1),
    MOX_OP(OP_GT, MOK_NONE, -1),
    MOX_OP(OP_INC, MOK_NONE, 0),
    MOX_OP(OP_DEC, MOK_NONE, 0),
    MOX_OP(OP_LIT, MOK_INDEX, 0),
    MOX_OP(OP_RETURN, MOK_NONE, 0),
    MOX_OP(OP_CALL, MOK_INDEX, MOX_STACK_VARIES),
    MOX_OP(OP_REF, MOK_INDEX, 0),
    MOX_OP(OP_SET, MOK_INDEX, 0),
    MOX_OP(OP_VREF, MOK_NONE, -1),
    MOX_OP(OP_VSET, MOK_NONE, -2),
    MOX_OP(OP_MREF, MOK_INDEX, 0),
    MOX_OP(OP_MSET, MOK_INDEX, 0),
    MOX_OP(OP_AREF, MOK_INDEX, 0),
    MOX_OP(OP_ASET, MOK_INDEX, 0),
    MOX_OP(OP_TREF, MOK_INDEX, 0),
    MOX_OP(OP_TSET, MOK_INDEX, 0),
    MOX_OP(OP_TSPACE, MOK_INDEX, MOX_STACK_VARIES),
    MOX_OP(OP_SEND, MOK_INDEX, MOX_STACK_VARIES),
    MOX_OP(OP_DUP2, MOK_NONE, 2),
    MOX_OP(OP_NEW, MOK_NONE, 0),
    MOX_OP(OP_DELETE, MOK_NONE, 0),
    MOX_OP(OP_DUP, MOK_NONE, 1),
    MOX_OP(OP_POP, MOK_NONE, -1),
    MOX_OP(OP_MKREF, MOK_NONE, 0),
    MOX_OP(OP_DUPX2, MOK_NONE, 1),
    MOX_OP(OP_TRON, MOK_NONE, 0),
    MOX_OP(OP_TROFF, MOK_NONE, 0),
    MOX_OP(OP_TRSTEP, MOK_NONE, 0),
    MOX_OP(OP_RBYTE, MOK_PREFIX, 0),
    MOX_OP(OP_RWORD, MOK_PREFIX, 0),
    MOX_OP(OP_RDWORD, MOK_PREFIX, 0),
};

#undef MOX_OP

// Table over all 256 byte values, filled once from kEntries.
struct Table {
  MoxOpInfo info[256];
  Table() {
    for (MoxOpInfo& i : info) i = kUnknown;
    for (const Entry& e : kEntries) info[e.code] = e.info;
  }
};

const Table& table() {
  static const Table t;
  return t;
}

}  // namespace

const MoxOpInfo& moxOpInfo(uint8_t opcode) { return table().info[opcode]; }

bool moxDecodeInstruction(const uint8_t* code, size_t len, size_t pc, unsigned* width,
                          MoxInstruction* out) {
  out->pc = pc;
  out->length = 1;
  out->operand = 0;
  out->opcode = OP_NOP;
  out->kind = MOK_NONE;
  if (code == nullptr || pc >= len) return false;
  out->opcode = code[pc];
  out->kind = moxOperandKind(out->opcode);
  size_t size = 0;
  switch (out->kind) {
    case MOK_PREFIX:
      *width = moxPrefixWidth(out->opcode);
      return true;
    case MOK_NONE:
      return true;
    case MOK_INDEX:
      size = *width;
      break;
    case MOK_TARGET:
      size = MOX_BRANCH_SIZE;
      break;
  }
  if (size != 1 && size != 2 && size != 4) size = 1;
  if (len - pc - 1 < size) return false;
  out->operand = moxReadOperand(code, pc + 1, unsigned(size));
  out->length = 1 + size;
  return true;
}
