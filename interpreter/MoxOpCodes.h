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

enum MoxOpCode : uint8_t {
  OP_NOP = 0,
  OP_BRT = 1,      // target: jump when the top converts to a non-zero integer; top stays
  OP_BRF = 2,      // target: jump when the top converts to integer 0; top stays
  OP_BR = 3,       // target: jump
  OP_NIL = 4,      // top := null
  OP_PUSH = 5,     // +1: open a new top slot
  OP_NOT = 6,      // top := 1 when it converts to 0, else 0
  OP_NEG = 7,      // top := -top
  OP_ADD = 8,      // 2 to 1; also string concatenation
  OP_SUB = 9,      // 2 to 1
  OP_MUL = 10,     // 2 to 1
  OP_DIV = 11,     // 2 to 1
  OP_REM = 12,     // 2 to 1
  OP_BAND = 13,    // 2 to 1
  OP_BOR = 14,     // 2 to 1
  OP_XOR = 15,     // 2 to 1
  OP_BNOT = 16,    // top := ~top
  OP_SHL = 17,     // 2 to 1
  OP_SHR = 18,     // 2 to 1, arithmetic
  OP_LT = 19,      // 2 to 1, integer 1 or 0
  OP_LE = 20,
  OP_EQ = 21,
  OP_NE = 22,
  OP_GE = 23,
  OP_GT = 24,
  OP_INC = 25,     // top := top + 1
  OP_DEC = 26,     // top := top - 1
  OP_LIT = 27,     // index: top := procedure element index
  OP_RETURN = 28,  // ends the activation; the top is the result
  OP_CALL = 29,    // index = argc: calls the value argc slots below the top
  OP_REF = 30,     // index: top := value of the MVT_VAR literal
  OP_SET = 31,     // index: store the top into the MVT_VAR literal's entry; top stays
  OP_VREF = 32,    // 2 to 1: container below, index or key on top
  OP_VSET = 33,    // 3 to 1: container, index, value; leaves the stored value
  OP_MREF = 34,    // index: top := data member index of the object in bp[0]
  OP_MSET = 35,    // index: store the top into that data member; top stays
  OP_AREF = 36,    // index: top := argument index (slot bp[index + 1])
  OP_ASET = 37,    // index: store the top into that argument; top stays
  OP_TREF = 38,    // index: top := temporary index (slot fp[index + 1])
  OP_TSET = 39,    // index: store the top into that temporary; top stays
  OP_TSPACE = 40,  // index = count: +count null temporaries; the old top becomes fp
  OP_SEND = 41,    // index = count: receiver, selector, count-1 arguments to 1
  OP_DUP2 = 42,    // +2: a b -> a b a b
  OP_NEW = 43,     // top (a class) := new object of it
  OP_DELETE = 44,  // top := null, releasing it
  OP_DUP = 45,     // +1: a -> a a
  OP_POP = 46,     // -1: clear the top and move sp down
  OP_MKREF = 47,   // top := uncounted twin of a counted value
  // +1: a b c -> c a b c. Used by postfix ++/-- on an indexed element: the
  // old value is tucked under container and index, so that after OP_INC and
  // OP_VSET store the new value, OP_POP leaves the old one as the result.
  OP_DUPX2 = 48,
  OP_TRON = 128,    // tracing on
  OP_TROFF = 129,   // tracing off
  OP_TRSTEP = 130,  // single-step mode on
  OP_RBYTE = 240,   // prefix: operand width := 1
  OP_RWORD = 241,   // prefix: operand width := 2
  OP_RDWORD = 242,  // prefix: operand width := 4
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
