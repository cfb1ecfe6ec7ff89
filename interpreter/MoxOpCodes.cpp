// The opcode table: names, operand kinds and stack effects.
#include "interpreter/MoxOpCodes.h"

namespace {

const MoxOpInfo kUnknown = {u"<unknown>", "<unknown>", MOK_NONE, 0, false, u""};

struct Entry {
  uint8_t code;
  MoxOpInfo info;
};

#define MOX_OP(op, byte, kind, effect, label) {op, {u## #op, #op, kind, effect, true, u"" label}},

const Entry kEntries[] = {MOX_OPCODE_LIST(MOX_OP)};

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
