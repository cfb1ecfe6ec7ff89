// Step kinds: the interpreter's private, pre-decoded view of a code buffer.
//
// For every offset of a procedure's code the table holds the kind of step
// the loop runs when it arrives there with operand width 1 and no hook on:
// either the opcode byte itself (bytes outside the opcode set become
// OP_NOP, which is how they run) or one of the kinds below, each standing for
// a sequence of instructions that the compiler emits often. A step kind only
// says which handler to take; the handler still reads its operands from the
// code and checks at run time what the bytes cannot prove (value types,
// index ranges, that no release can run a destructor), and hands the first
// instruction to the plain opcode handler when a check fails. The table is a
// function of the bytes alone, so a jump to any offset, even into the middle
// of an instruction, finds there what the plain loop would run.
//
// The kinds take byte values outside the opcode set, so the table is one
// byte per code byte and the loop dispatches on one switch. The code buffer
// stays the truth: listings, traces and module files see only it, and a
// traced or single-stepped run ignores the table.
#ifndef MOX_STEPKINDS_H
#define MOX_STEPKINDS_H

#include <cstdint>

#include "core/MoxConfig.h"

// In the sequences below a "value" is one of TREF j, AREF j or LIT j; the
// first value of an integer step is a temporary or an argument.
enum MoxStepKind : uint8_t {
  // PUSH; value j
  MSK_PUSH_VALUE = 64,
  // PUSH; TREF j; VREF: element j of the container on top
  MSK_PUSH_TEMP_ELEM,
  // PUSH; TREF j; PUSH; LIT k; ADD|SUB; VREF: element j +/- k of the top
  MSK_PUSH_TEMP_LIT_ELEM,
  // PUSH; TREF|AREF c; PUSH; TREF j; VREF: a new top, element j of c
  MSK_PUSH_ELEM,
  // PUSH; TREF|AREF c; PUSH; TREF j; PUSH; LIT k; ADD|SUB; VREF: a new
  // top, element j +/- k of c
  MSK_PUSH_ELEM_OFFSET,
  // AREF|TREF c; PUSH; TREF j; VREF: the top becomes element j of c
  MSK_LOAD_ELEM,
  // TREF a; DUP; INC|DEC; TSET a; POP: a statement `a++` or `a--`
  MSK_TEMP_STEP,
  // value a; PUSH; value b; LT..GT; BRT|BRF: a test on two integers
  MSK_INT_COMPARE_BRANCH,
  // PUSH; value a; PUSH; value b; LT..GT; BRT|BRF: the same in a new slot
  MSK_PUSH_INT_COMPARE_BRANCH,
  // value a; PUSH; value b; ADD|SUB|MUL; TSET c: `c = a op b`
  MSK_INT_ARITH_SET,
  // value a; PUSH; value b; ADD|SUB|MUL|LT..GT: the top becomes a op b
  MSK_INT_OP,
  // PUSH; value a; PUSH; value b; ADD|SUB|MUL|LT..GT: a new top, a op b
  MSK_PUSH_INT_OP,
  // PUSH; LIT k; ADD|SUB|MUL: the top combined with a literal
  MSK_PUSH_LIT_OP,
  // TREF|AREF a; PUSH; value b, before another PUSH: two values loaded
  // (a container and an index, as an element store begins)
  MSK_LOAD_PAIR,
  // PUSH; MREF j
  MSK_PUSH_MEMBER,
  // MREF j alone
  MSK_MEMBER,
  // TREF j alone
  MSK_TEMP,
  // VSET alone
  MSK_ELEM_SET,
  // LT..GT; BRT|BRF
  MSK_COMPARE_BRANCH,
  // ADD|SUB|MUL; TSET c: a result stored into a temporary (and `s += t`
  // on a string temporary)
  MSK_ARITH_SET,
  MSK_FIRST = MSK_PUSH_VALUE,
  MSK_LAST = MSK_ARITH_SET,
};

// Fills kinds[0 .. len) for the code bytes code[0 .. len).
MOX_API void moxBuildStepKinds(const uint8_t* code, uint32_t len, uint8_t* kinds);

class MoxBuffer;
// The table kept with a code buffer, made on first use; null when there is
// no memory for it.
const uint8_t* moxStepKindsOf(MoxBuffer* code);

// Bytes of code a step of that kind covers, from its first opcode byte to
// the end of its last instruction (the kind's handler relies on them being
// there); 1 for a plain opcode with no operand.
MOX_API uint32_t moxStepLength(const uint8_t* code, uint32_t len, uint32_t pc, uint8_t kind);

#endif
