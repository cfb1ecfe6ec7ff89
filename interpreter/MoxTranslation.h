// The translated form of a procedure's code: the interpreter's private array
// of fixed-size cells with decoded operands, made once from the bytes when a
// procedure first runs and kept with its code buffer.
//
// A cell stands for one instruction or for one of the sequences in
// MOX_FORM_LIST, which the compiler emits often. Its operands are decoded:
// temporaries, arguments and literals as (source, index) pairs, the operator
// of the sequence, branch targets as cell numbers. The loop runs cells while
// no hook is on and the operand width is 1; a traced, single-stepped or
// budgeted run, and any offset that is not the start of a cell (a jump into
// the middle of an instruction, code after a width prefix), runs the bytes
// one instruction at a time. The translation is a function of
// the bytes and of the number of literals alone, and the bytes stay the
// truth: listings, traces and module files see only them.
//
// A sequence's cell only says which handler to take: the handler still
// checks at run time what the bytes cannot prove (value kinds, index ranges,
// that no release can run a destructor) and, when a check fails, leaves the
// first instruction of the sequence to the byte loop. Every instruction
// starts a cell, also inside a sequence, so the run takes up cells again
// right after it (`s = s + "ab"` on strings fails the test of numbers but
// still appends in place at its `ADD; TSET`).
#ifndef MOX_TRANSLATION_H
#define MOX_TRANSLATION_H

#include <cstdint>

#include "core/MoxConfig.h"
#include "interpreter/MoxOpCodes.h"

// Each sequence is written once here, as its pattern: a list of tokens, one
// per instruction (Y, Z and Q stand for several), from which the translator
// matches it and fills the cell.
//   P PUSH     D DUP      O POP      E VREF     W VSET     ! NOT
//   T TREF j   X TREF|AREF j   V TREF|AREF|LIT j   L LIT j   M MREF j
//   N MSET j   R REF j
//   S TSET j   s TSET of the same index as the first operand
//   + ADD|SUB  A ADD|SUB|MUL  C LT..GT  K ADD|SUB|MUL|LT..GT  I INC|DEC
//   B BRT|BRF with its target
//   >P         a PUSH must follow (it is not part of the sequence)
//   Y an X, or an element of an X: X P T E (four instructions)
//   Z a V, or such an element
//   y z a Y or a Z, or an element at an offset: X P T P L + E (seven);
//     only the handlers out of the loop's code read these
//   Q the container and index of an element store: X P T
// Operands (T X V L M N R S Y Z y z Q) fill the cell's operand slots in
// pattern order; the operator token (+ A C K I) sets its operator and B its
// branch. Where two patterns match at one offset the earlier one in the
// list is taken.
// The number after the pattern is the lowest slot, counted from the top at
// the cell's start, that the handler writes before it has read all its
// operands: the temporaries and arguments it reads must lie below it (see
// MoxTranslation::framed). An element (Y, Z, Q) writes its container
// where a single value would go and its index in the slot above, so the
// first slot it writes is the same.
#define MOX_FORM_LIST(X)                                                                     \
  /* t[i +/- k] as a new top: container on top, index temporary i, literal k */              \
  X(MF_PUSH_TEMP_LIT_ELEM, "P T P L + E", 0)                                                 \
  /* a test of two numbers in a new slot, and a branch on it */                              \
  X(MF_PUSH_NUM_COMPARE_BRANCH, "P Y P Z C B", 1)                                            \
  /* a op b in a new top */                                                                  \
  X(MF_PUSH_NUM_OP, "P Y P Z K", 1)                                                          \
  /* the top combined with a value, into a temporary too */                                 \
  X(MF_PUSH_VALUE_OP_SET, "P Z A S", 0)                                                      \
  /* the top combined with a value */                                                        \
  X(MF_PUSH_VALUE_OP, "P Z A", 0)                                                            \
  /* the top compared with a value, and a branch on it */                                    \
  X(MF_PUSH_VALUE_COMPARE_BRANCH, "P Z C B", 0)                                              \
  /* element i of a temporary or argument c as a new top */                                  \
  X(MF_PUSH_ELEM, "P X P T E", 1)                                                            \
  /* element i +/- k of a temporary or argument c as a new top */                            \
  X(MF_PUSH_ELEM_OFFSET, "P X P T P L + E", 1)                                               \
  /* element i of the top as the new top */                                                  \
  X(MF_PUSH_TEMP_ELEM, "P T E", 0)                                                           \
  /* a global variable in a new top */                                                      \
  X(MF_PUSH_GLOBAL, "P R", 1)                                                                \
  /* a value in a new top */                                                                 \
  X(MF_PUSH_VALUE, "P V", 1)                                                                 \
  /* a data member of the receiver in a new top */                                           \
  X(MF_PUSH_MEMBER, "P M", 1)                                                                \
  /* the statement a++ or a-- */                                                             \
  X(MF_TEMP_STEP, "T D I s O", 0)                                                            \
  /* a test of two numbers and a branch on it */                                             \
  X(MF_NUM_COMPARE_BRANCH, "Y P Z C B", 0)                                                   \
  /* c = a op b */                                                                           \
  X(MF_NUM_ARITH_SET, "Y P Z A S", 0)                                                        \
  /* the top becomes a op b */                                                               \
  X(MF_NUM_OP, "Y P Z K", 0)                                                                 \
  /* c = a value or an element */                                                           \
  X(MF_VALUE_SET, "z S", 0)                                                                  \
  /* c[i] = a value or an element */                                                         \
  X(MF_ELEM_STORE, "Q P z W", 0)                                                             \
  /* c[i] = a op k, k a literal */                                                           \
  X(MF_ELEM_STORE_OP, "Q P y P L A W", 0)                                                    \
  /* the top becomes element i of c */                                                       \
  X(MF_LOAD_ELEM, "X P T E", 0)                                                              \
  /* two values loaded, a container and an index, as an element store begins */              \
  X(MF_LOAD_PAIR, "X P V >P", 0)                                                             \
  /* a data member of the receiver */                                                        \
  X(MF_MEMBER, "M", 0)                                                                       \
  /* a value stored into a data member of the receiver */                                   \
  X(MF_VALUE_MEMBER_SET, "V N", 1)                                                           \
  /* a temporary, argument or literal */                                                    \
  X(MF_VALUE, "V", 1)                                                                        \
  /* a global variable */                                                                    \
  X(MF_GLOBAL, "R", 0)                                                                       \
  /* an element store */                                                                     \
  X(MF_ELEM_SET, "W", 0)                                                                     \
  /* the top negated, and a branch on it */                                                  \
  X(MF_NOT_BRANCH, "! B", 0)                                                                 \
  /* a comparison and a branch on it */                                                      \
  X(MF_COMPARE_BRANCH, "C B", 0)                                                             \
  /* a result stored into a temporary (and s += t on a string temporary) */                  \
  X(MF_ARITH_SET, "A S", -1)

// A cell of one instruction has the instruction's opcode as its form
// (OP_NOP for a byte outside the opcode set), so that the loop dispatches
// cells and bytes on one switch; the sequences take values that no opcode
// has, from MF_FIRST on.
enum MoxForm : uint8_t {
  MF_BEFORE_FIRST = 63,
#define MOX_FORM_ENUM(form, pattern, low) form,
  MOX_FORM_LIST(MOX_FORM_ENUM)
#undef MOX_FORM_ENUM
  MF_END,
  MF_FIRST = MF_BEFORE_FIRST + 1,
  MF_LAST = MF_END - 1,
};

// Where a value operand comes from: an element is that of a temporary or an
// argument (the operand index) at the index a temporary holds (the cell's
// index field), or at that index plus or minus a literal (the cell's
// offsetOp and offset fields).
enum MoxOperandSource : uint8_t {
  MOS_TEMP = 0,
  MOS_ARG = 1,
  MOS_LIT = 2,
  MOS_ELEM_TEMP = 3,
  MOS_ELEM_ARG = 4,
};

// The sequences that read two values (the X and the V, or Y and Z, of
// their pattern) have a handler for each pair of sources in their list of
// pairs, so that reading an operand takes no test of where it comes from:
// the cell's run names it. The form's own handler serves any pair, and
// the elements among Y and Z: a handler for each pair with an element made
// the loop's whole code slower (bench/README.md).
#define MOX_SPECIAL_FORM_LIST(X)                    \
  X(MF_NUM_COMPARE_BRANCH, MOX_SOURCE_PAIRS)         \
  X(MF_NUM_ARITH_SET, MOX_SOURCE_PAIRS)              \
  X(MF_NUM_OP, MOX_SOURCE_PAIRS)                     \
  X(MF_PUSH_NUM_COMPARE_BRANCH, MOX_SOURCE_PAIRS)    \
  X(MF_PUSH_NUM_OP, MOX_SOURCE_PAIRS)                \
  X(MF_LOAD_PAIR, MOX_SOURCE_PAIRS)
// The pairs of an X and a V: a temporary (T) or an argument (A), then a
// temporary, an argument or a literal (L).
#define MOX_SOURCE_PAIRS(X, form)                                                   \
  X(form, TT, MOS_TEMP, MOS_TEMP) X(form, TA, MOS_TEMP, MOS_ARG)                    \
  X(form, TL, MOS_TEMP, MOS_LIT) X(form, AT, MOS_ARG, MOS_TEMP)                     \
  X(form, AA, MOS_ARG, MOS_ARG) X(form, AL, MOS_ARG, MOS_LIT)

// The sequences whose one value operand that varies comes first (an X, V
// or Z) have a handler for each source in their list: a temporary (T) and
// an argument (A), and a literal (L) for the loads of a value (a V or Z
// alone).
#define MOX_SINGLE_FORM_LIST(X)            \
  X(MF_PUSH_ELEM, MOX_SOURCES)             \
  X(MF_PUSH_ELEM_OFFSET, MOX_SOURCES)      \
  X(MF_LOAD_ELEM, MOX_SOURCES)             \
  X(MF_PUSH_VALUE, MOX_VALUE_SOURCES)      \
  X(MF_VALUE, MOX_VALUE_SOURCES)           \
  X(MF_PUSH_VALUE_OP, MOX_VALUE_SOURCES)   \
  X(MF_PUSH_VALUE_OP_SET, MOX_VALUE_SOURCES) \
  X(MF_PUSH_VALUE_COMPARE_BRANCH, MOX_VALUE_SOURCES) \
  X(MF_VALUE_MEMBER_SET, MOX_VALUE_SOURCES) \
  X(MF_VALUE_SET, MOX_VALUE_SOURCES)
#define MOX_SOURCES(X, form) X(form, T, MOS_TEMP) X(form, A, MOS_ARG)
#define MOX_VALUE_SOURCES(X, form) MOX_SOURCES(X, form) X(form, L, MOS_LIT)

// Runs take values between the tracing opcodes and the width prefixes,
// where no opcode lies either.
enum MoxRun : uint8_t {
  MR_BEFORE_FIRST = OP_TRSTEP,
#define MOX_RUN_ENUM(form, pair, a, b) form##_##pair,
#define MOX_RUN_PAIRS(form, pairs) pairs(MOX_RUN_ENUM, form)
  MOX_SPECIAL_FORM_LIST(MOX_RUN_PAIRS)
#undef MOX_RUN_PAIRS
#undef MOX_RUN_ENUM
#define MOX_RUN_ENUM(form, source, a) form##_##source,
#define MOX_RUN_SOURCES(form, sources) sources(MOX_RUN_ENUM, form)
  MOX_SINGLE_FORM_LIST(MOX_RUN_SOURCES)
#undef MOX_RUN_SOURCES
#undef MOX_RUN_ENUM
  // A lone OP_CALL, OP_SEND or OP_RETURN: the handler goes from cell to
  // cell when the callee or the caller can, and takes the instruction's
  // own way otherwise.
  MR_CALL,
  MR_SEND,
  MR_RETURN,
  MR_END,
  MR_FIRST = MR_BEFORE_FIRST + 1,
  MR_LAST = MR_END - 1,
};

// No cell: the offset is run by the byte loop.
const uint32_t kMoxNoCell = 0xFFFFFFFFu;

struct MoxCell {
  uint8_t form;         // an opcode, or a MoxForm
  uint8_t run;          // the handler: the form, or a MoxRun of it
  uint8_t op;           // the sequence's operator; a single instruction's opcode byte
  bool jumpIfTrue;      // the sense of the sequence's BRT or BRF
  uint8_t src[2];       // sources of the first two operands (X, V, Y and Z tokens)
  uint8_t offsetOp[2];  // OP_ADD or OP_SUB for an element at an offset, else 0
  uint32_t opd[3];      // operand indices, in pattern order
  uint32_t index[2];    // the index temporary of an element among the first two
  uint32_t offset[2];   // the literal of an element's offset
  uint32_t pc;          // offset of the first instruction
  uint32_t next;        // offset where the run goes on after the cell (for a
                        // sequence, past an unconditional branch that follows)
  uint32_t nextCell;    // the cell there, or kMoxNoCell
  uint32_t target;      // offset of the branch target
  // The distance in bytes from this cell to the next cell and to the
  // target's; 0 where no cell is (or the cell itself: such a jump runs
  // from the bytes).
  int32_t nextStep;
  int32_t targetStep;
  // Where the loop that runs the translation has the handler of run, so
  // that a jump to the next cell reads no table; null when the translation
  // was made without the loop's table of handlers.
  const void* handler;
};

class MOX_API MoxTranslation {
 public:
  // The translation of code[0 .. len) of a procedure with literalCount
  // elements, in one block with its cells; null only when memory runs out.
  // handlers, when given, is the loop's table of handler addresses by run.
  static MoxTranslation* make(const uint8_t* code, uint32_t len, uint32_t literalCount,
                              const void* const* handlers = nullptr);
  static void destroy(MoxTranslation* t);
  MoxTranslation(const MoxTranslation&) = delete;
  MoxTranslation& operator=(const MoxTranslation&) = delete;

  // The cell that starts at offset pc, or kMoxNoCell.
  uint32_t cellAt(uint32_t pc) const { return pc < length_ ? starts()[pc] : kMoxNoCell; }
  // The cells follow the header directly, so that the first cell of a
  // procedure is one step from its translation, not two. They lie in the
  // order a run most likely takes them, not in the order of their offsets
  // (see link): the cell at offset 0 first, a loop's cells one after the
  // other.
  const MoxCell* cells() const { return reinterpret_cast<const MoxCell*>(this + 1); }
  uint32_t size() const { return count_; }
  uint32_t literalCount() const { return literals_; }
  // The arguments an activation needs for its cells to run: one more than
  // the highest argument a sequence reads. kMoxNoCell when the code is not
  // framed: the cells of such code never run, the bytes do it all.
  //
  // Code is framed when every path the bytes can take from offset 0 keeps
  // the frame in place under each sequence that reads the frame: a first
  // OP_TSPACE n and no other, temporaries below n, and the top far enough
  // above the temporaries (the number in MOX_FORM_LIST). The depth of the
  // stack at each instruction is bounded from below over all paths, jumps
  // into the middle of instructions included. Then a sequence's handler
  // reads its temporaries and arguments without checks: compiled code is
  // always framed, hand-made code that is not runs from the bytes alone.
  uint32_t argsForCells() const { return argsForCells_; }
  // The same for an activation that starts in the cells at its first
  // instruction: kMoxNoCell when no cell starts at offset 0 (the code
  // begins with a width prefix), so that a call tests one number.
  uint32_t argsToEnter() const { return argsToEnter_; }

 private:
  MoxTranslation() = default;
  ~MoxTranslation() = default;
  uint32_t* starts() const {
    return reinterpret_cast<uint32_t*>(const_cast<MoxCell*>(cells()) + count_);
  }
  bool link();
  uint32_t frame(const uint8_t* code) const;

  // Aligned as a cell, so that the cells can follow the header.
  alignas(MoxCell) uint32_t count_ = 0;
  uint32_t length_ = 0;  // code bytes, one start entry each
  uint32_t literals_ = 0;
  uint32_t argsForCells_ = kMoxNoCell;
  uint32_t argsToEnter_ = kMoxNoCell;
};
static_assert(sizeof(MoxTranslation) % alignof(MoxCell) == 0, "cells follow the header");

// The name of a cell's form ("MF_NUM_OP", "OP_LIT"), for tests and
// diagnostics.
MOX_API const char* moxFormName(uint8_t form);

class MoxBuffer;
// The translation kept with a code buffer for a procedure of literalCount
// elements, made on first use; null when there is no memory for it.
const MoxTranslation* moxTranslationOf(MoxBuffer* code, uint32_t literalCount,
                                       const void* const* handlers = nullptr);

#endif
