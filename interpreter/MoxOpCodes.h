// Bytecode definitions shared by the compiler, the interpreter, the module
// files and the tracer: the opcode set with its numbers, the operand kinds,
// the encoding of operands (including the operand-width prefixes) and the
// layout of a procedure vector.
//
// Encoding in brief
// -----------------
// An instruction is one opcode byte followed directly by at most one operand;
// instructions are not aligned.
//  - Index operand: an unsigned little-endian integer of the current operand
//    width (1, 2 or 4 bytes).
//  - Branch operand (OP_BRT, OP_BRF, OP_BR): always 4 bytes, little-endian,
//    the absolute offset of the target from the start of the code buffer.
//  - The prefixes OP_RBYTE, OP_RWORD and OP_RDWORD are one-byte instructions
//    that set the operand width to 1, 2 and 4 for every following instruction
//    until the next prefix. An activation starts with width 1.
//  - The compiler keeps the width at 1 between instructions: an index above
//    255 is written as prefix, opcode, operand, OP_RBYTE (see
//    moxEncodeIndexed), e.g. OP_LIT 300 is F1 1B 2C 01 F0.
//  - Byte values without an entry in the table run as one-byte instructions
//    without effect; the tracer names them "<unknown>".
//
// Stack model: the top slot is the accumulator. Loads overwrite it, OP_PUSH
// opens a new slot above it, a binary operator combines the slot below the
// top (left) with the top (right) into the lower slot.
#ifndef MOX_OPCODES_H
#define MOX_OPCODES_H

#include <cstddef>
#include <cstdint>

#include "core/MoxConfig.h"

// Element numbers of a procedure vector. Literal operands are element
// numbers of the procedure itself, so the first literal is element 3.
enum MoxProcLayout {
  MOX_PROC_CODE = 0,           // MVT_BUFFER: the instruction bytes
  MOX_PROC_CLASS = 1,          // MVT_CLASS of a method, MVT_NULL for a global function
  MOX_PROC_NAME = 2,           // MVT_STRING: the function's name
  MOX_PROC_FIRST_LITERAL = 3,  // first element of the literal pool
};

// The opcode set, defined once: X(name, byte, operand kind, stack effect,
// listing label) for each opcode. The label is how a listing shows the
// operand (a printf format of it; empty without an operand). The enum, the names and operand kinds of moxOpInfo and
// the interpreter's treatment of the bytes outside the set all come from
// this list.
#define MOX_OPCODE_LIST(X) \
  X(OP_NOP, 0, MOK_NONE, 0, "") \
  /* target: jump when the top converts to a non-zero integer; top stays */ \
  X(OP_BRT, 1, MOK_TARGET, 0, "%04x ") \
  /* target: jump when the top converts to integer 0; top stays */ \
  X(OP_BRF, 2, MOK_TARGET, 0, "%04x ") \
  /* target: jump */ \
  X(OP_BR, 3, MOK_TARGET, 0, "%04x ") \
  /* top := null */ \
  X(OP_NIL, 4, MOK_NONE, 0, "") \
  /* +1: open a new top slot */ \
  X(OP_PUSH, 5, MOK_NONE, 1, "") \
  /* top := 1 when it converts to 0, else 0 */ \
  X(OP_NOT, 6, MOK_NONE, 0, "") \
  /* top := -top */ \
  X(OP_NEG, 7, MOK_NONE, 0, "") \
  /* 2 to 1; also string concatenation */ \
  X(OP_ADD, 8, MOK_NONE, -1, "") \
  /* 2 to 1 */ \
  X(OP_SUB, 9, MOK_NONE, -1, "") \
  /* 2 to 1 */ \
  X(OP_MUL, 10, MOK_NONE, -1, "") \
  /* 2 to 1 */ \
  X(OP_DIV, 11, MOK_NONE, -1, "") \
  /* 2 to 1 */ \
  X(OP_REM, 12, MOK_NONE, -1, "") \
  /* 2 to 1 */ \
  X(OP_BAND, 13, MOK_NONE, -1, "") \
  /* 2 to 1 */ \
  X(OP_BOR, 14, MOK_NONE, -1, "") \
  /* 2 to 1 */ \
  X(OP_XOR, 15, MOK_NONE, -1, "") \
  /* top := ~top */ \
  X(OP_BNOT, 16, MOK_NONE, 0, "") \
  /* 2 to 1 */ \
  X(OP_SHL, 17, MOK_NONE, -1, "") \
  /* 2 to 1, arithmetic */ \
  X(OP_SHR, 18, MOK_NONE, -1, "") \
  /* 2 to 1, integer 1 or 0 */ \
  X(OP_LT, 19, MOK_NONE, -1, "") \
  X(OP_LE, 20, MOK_NONE, -1, "") \
  X(OP_EQ, 21, MOK_NONE, -1, "") \
  X(OP_NE, 22, MOK_NONE, -1, "") \
  X(OP_GE, 23, MOK_NONE, -1, "") \
  X(OP_GT, 24, MOK_NONE, -1, "") \
  /* top := top + 1 */ \
  X(OP_INC, 25, MOK_NONE, 0, "") \
  /* top := top - 1 */ \
  X(OP_DEC, 26, MOK_NONE, 0, "") \
  /* index: top := procedure element index */ \
  X(OP_LIT, 27, MOK_INDEX, 0, "lit[%d] ") \
  /* ends the activation; the top is the result */ \
  X(OP_RETURN, 28, MOK_NONE, 0, "") \
  /* index = argc: calls the value argc slots below the top */ \
  X(OP_CALL, 29, MOK_INDEX, MOX_STACK_VARIES, "(%d arguments) ") \
  /* index: top := value of the MVT_VAR literal */ \
  X(OP_REF, 30, MOK_INDEX, 0, "var[%d] ") \
  /* index: store the top into the MVT_VAR literal's entry; top stays */ \
  X(OP_SET, 31, MOK_INDEX, 0, "var[%d] ") \
  /* 2 to 1: container below, index or key on top */ \
  X(OP_VREF, 32, MOK_NONE, -1, "") \
  /* 3 to 1: container, index, value; leaves the stored value */ \
  X(OP_VSET, 33, MOK_NONE, -2, "") \
  /* index: top := data member index of the object in bp[0] */ \
  X(OP_MREF, 34, MOK_INDEX, 0, "member[%d] ") \
  /* index: store the top into that data member; top stays */ \
  X(OP_MSET, 35, MOK_INDEX, 0, "member[%d] ") \
  /* index: top := argument index (slot bp[index + 1]) */ \
  X(OP_AREF, 36, MOK_INDEX, 0, "arg[%d] ") \
  /* index: store the top into that argument; top stays */ \
  X(OP_ASET, 37, MOK_INDEX, 0, "arg[%d] ") \
  /* index: top := temporary index (slot fp[index + 1]) */ \
  X(OP_TREF, 38, MOK_INDEX, 0, "tmp[%d] ") \
  /* index: store the top into that temporary; top stays */ \
  X(OP_TSET, 39, MOK_INDEX, 0, "tmp[%d] ") \
  /* index = count: +count null temporaries; the old top becomes fp */ \
  X(OP_TSPACE, 40, MOK_INDEX, MOX_STACK_VARIES, "%d ") \
  /* index = count: receiver, selector, count-1 arguments to 1 */ \
  X(OP_SEND, 41, MOK_INDEX, MOX_STACK_VARIES, "(%d arguments) ") \
  /* +2: a b -> a b a b */ \
  X(OP_DUP2, 42, MOK_NONE, 2, "") \
  /* top (a class) := new object of it */ \
  X(OP_NEW, 43, MOK_NONE, 0, "") \
  /* top := null, releasing it */ \
  X(OP_DELETE, 44, MOK_NONE, 0, "") \
  /* +1: a -> a a */ \
  X(OP_DUP, 45, MOK_NONE, 1, "") \
  /* -1: clear the top and move sp down */ \
  X(OP_POP, 46, MOK_NONE, -1, "") \
  /* top := uncounted twin of a counted value */ \
  X(OP_MKREF, 47, MOK_NONE, 0, "") \
  /* +1: a b c -> c a b c. Used by postfix ++/-- on an indexed element: the old value is */ \
  /* tucked under container and index, so that after OP_INC and OP_VSET store the new value, */ \
  /* OP_POP leaves the old one as the result. */ \
  X(OP_DUPX2, 48, MOK_NONE, 1, "") \
  /* tracing on */ \
  X(OP_TRON, 128, MOK_NONE, 0, "") \
  /* tracing off */ \
  X(OP_TROFF, 129, MOK_NONE, 0, "") \
  /* single-step mode on */ \
  X(OP_TRSTEP, 130, MOK_NONE, 0, "") \
  /* prefix: operand width := 1 */ \
  X(OP_RBYTE, 240, MOK_PREFIX, 0, "") \
  /* prefix: operand width := 2 */ \
  X(OP_RWORD, 241, MOK_PREFIX, 0, "") \
  /* prefix: operand width := 4 */ \
  X(OP_RDWORD, 242, MOK_PREFIX, 0, "")

enum MoxOpCode : uint8_t {
#define MOX_OPCODE_ENUM(op, byte, kind, effect, label) op = byte,
  MOX_OPCODE_LIST(MOX_OPCODE_ENUM)
#undef MOX_OPCODE_ENUM
};

// What follows an opcode byte.
enum MoxOperandKind : uint8_t {
  MOK_NONE = 0,    // no operand
  MOK_INDEX = 1,   // index of the current operand width
  MOK_TARGET = 2,  // 4-byte absolute branch target
  MOK_PREFIX = 3,  // no operand; the byte changes the operand width
};

// Stack effect value for instructions whose effect depends on the operand
// (OP_CALL, OP_SEND, OP_TSPACE).
enum { MOX_STACK_VARIES = 127 };

struct MoxOpInfo {
  const MoxChar* name;     // e.g. u"OP_ADD"; u"<unknown>" for bytes outside the set
  const char* narrowName;  // the same name as narrow text
  MoxOperandKind operand;
  int8_t stackEffect;      // slots added (negative: removed), or MOX_STACK_VARIES
  bool known;              // false for bytes that are not opcodes
  const MoxChar* label;    // listing format of the operand, e.g. u"lit[%d] "; u"" without one
};

// Table entry of any byte value; never null.
MOX_API const MoxOpInfo& moxOpInfo(uint8_t opcode);

inline const MoxChar* moxOpName(uint8_t opcode) { return moxOpInfo(opcode).name; }
inline MoxOperandKind moxOperandKind(uint8_t opcode) { return moxOpInfo(opcode).operand; }
inline bool moxIsKnownOpcode(uint8_t opcode) { return moxOpInfo(opcode).known; }

// Operand width selected by a prefix byte, or 0 for any other byte.
inline unsigned moxPrefixWidth(uint8_t opcode) {
  switch (opcode) {
    case OP_RBYTE: return 1;
    case OP_RWORD: return 2;
    case OP_RDWORD: return 4;
    default: return 0;
  }
}

// Size of a branch operand.
enum { MOX_BRANCH_SIZE = 4 };

// Unsigned little-endian number of width bytes (1, 2 or 4) at code + pc.
// The caller guarantees the bytes exist.
inline uint32_t moxReadOperand(const uint8_t* code, size_t pc, unsigned width) {
  const uint8_t* p = code + pc;
  switch (width) {
    case 1: return p[0];
    case 2: return uint32_t(p[0]) | (uint32_t(p[1]) << 8);
    default:
      return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) |
             (uint32_t(p[3]) << 24);
  }
}

// 4-byte branch target at code + pc.
inline uint32_t moxReadBranch(const uint8_t* code, size_t pc) { return moxReadOperand(code, pc, 4); }

// Writes value as 4 little-endian bytes at out.
inline void moxWriteLE32(uint8_t* out, uint32_t value) {
  out[0] = uint8_t(value);
  out[1] = uint8_t(value >> 8);
  out[2] = uint8_t(value >> 16);
  out[3] = uint8_t(value >> 24);
}

// Longest encoding of an indexed instruction: prefix, opcode, 4 bytes, OP_RBYTE.
enum { MOX_MAX_INDEXED_SIZE = 7 };

// Encodes opcode with an index operand into out (at least
// MOX_MAX_INDEXED_SIZE bytes), leaving the operand width at 1 afterwards:
//   index 0..255      opcode, 1 byte
//   index ..65535     OP_RWORD, opcode, 2 bytes, OP_RBYTE
//   larger            OP_RDWORD, opcode, 4 bytes, OP_RBYTE
// Returns the number of bytes written.
inline size_t moxEncodeIndexed(uint8_t* out, uint8_t opcode, uint32_t index) {
  if (index <= 0xFF) {
    out[0] = opcode;
    out[1] = uint8_t(index);
    return 2;
  }
  if (index <= 0xFFFF) {
    out[0] = OP_RWORD;
    out[1] = opcode;
    out[2] = uint8_t(index);
    out[3] = uint8_t(index >> 8);
    out[4] = OP_RBYTE;
    return 5;
  }
  out[0] = OP_RDWORD;
  out[1] = opcode;
  moxWriteLE32(out + 2, index);
  out[6] = OP_RBYTE;
  return 7;
}

// One decoded instruction.
struct MoxInstruction {
  size_t pc;         // offset of the opcode byte
  size_t length;     // opcode byte plus operand bytes
  uint8_t opcode;
  MoxOperandKind kind;
  uint32_t operand;  // index or branch target; 0 without an operand
};

// Decodes the instruction at pc of a code buffer of len bytes, with the
// operand width in force in *width (1, 2 or 4; a prefix updates it). Returns
// false when pc is past the end or the operand is cut off by the end of the
// code; then *out is left with the opcode only. Used by listings, tests and
// anyone walking code without running it.
MOX_API bool moxDecodeInstruction(const uint8_t* code, size_t len, size_t pc, unsigned* width,
                                  MoxInstruction* out);

#endif
