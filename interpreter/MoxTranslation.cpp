// Translating a procedure's code into cells.
#include "interpreter/MoxTranslation.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/MoxBuffer.h"
#include "interpreter/MoxOpCodes.h"

static_assert(int(MF_FIRST) > int(OP_DUPX2) && int(MF_LAST) < int(OP_TRON),
              "sequence forms must lie outside the opcode set");
static_assert(int(MR_BEFORE_FIRST) == int(OP_TRSTEP) && int(MR_LAST) < int(OP_RBYTE),
              "the runs of sequences must lie outside the opcode set");

namespace {

struct FormInfo {
  MoxForm form;
  const char* name;
  const char* pattern;
  int low;
};

const FormInfo kForms[] = {
#define MOX_FORM_INFO(form, pattern, low) {form, #form, pattern, low},
    MOX_FORM_LIST(MOX_FORM_INFO)
#undef MOX_FORM_INFO
};

// One instruction of the linear decode from offset 0.
struct Decoded {
  uint32_t pc;
  uint32_t length;
  uint32_t operand;
  uint8_t op;
  bool narrow;    // decoded with width 1 and complete: it may start or join a cell
  bool isTarget;  // some branch of the code goes here
};

// The instructions of code as the byte loop meets them running from offset
// 0 without jumps, in a malloc'd array of *count entries; null when memory
// runs out.
Decoded* decodeAll(const uint8_t* code, uint32_t len, uint32_t* count) {
  Decoded* out = static_cast<Decoded*>(malloc(sizeof(Decoded) * (len ? len : 1)));
  if (!out) return nullptr;
  uint32_t n = 0;
  unsigned width = 1;
  for (uint32_t pc = 0; pc < len;) {
    MoxInstruction in;
    const unsigned before = width;
    const bool complete = moxDecodeInstruction(code, len, pc, &width, &in);
    Decoded& d = out[n++];
    d.pc = pc;
    d.length = complete ? uint32_t(in.length) : len - pc;
    d.operand = in.operand;
    d.op = code[pc];
    d.narrow = complete && before == 1 && moxPrefixWidth(d.op) == 0;
    d.isTarget = false;
    pc += d.length;
  }
  *count = n;
  return out;
}

// Marks the instructions that branches go to. Returns the first index whose
// pc is at least target, by binary search over the ordered offsets.
uint32_t indexAt(const Decoded* d, uint32_t n, uint32_t pc) {
  uint32_t lo = 0, hi = n;
  while (lo < hi) {
    const uint32_t mid = lo + (hi - lo) / 2;
    if (d[mid].pc < pc) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}

void markTargets(Decoded* d, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t op = d[i].op;
    if (d[i].length != 1 + MOX_BRANCH_SIZE || (op != OP_BR && op != OP_BRT && op != OP_BRF))
      continue;
    const uint32_t k = indexAt(d, n, d[i].operand);
    if (k < n && d[k].pc == d[i].operand) d[k].isTarget = true;
  }
}

bool isBranch(uint8_t op) { return op == OP_BR || op == OP_BRT || op == OP_BRF; }

bool isValue(uint8_t op) { return op == OP_TREF || op == OP_AREF || op == OP_LIT; }

MoxOperandSource sourceOf(uint8_t op) {
  return op == OP_TREF ? MOS_TEMP : op == OP_AREF ? MOS_ARG : MOS_LIT;
}

// Does one token of a pattern accept instruction d? Fills the cell as the
// token says. A literal operand must be one of the procedure's elements, so
// that handlers need not check it again.
bool takeToken(char token, const Decoded& d, uint32_t literals, MoxCell* cell,
               unsigned* operands) {
  const uint8_t op = d.op;
  bool operand = false;
  switch (token) {
    case 'P': return op == OP_PUSH;
    case 'D': return op == OP_DUP;
    case 'O': return op == OP_POP;
    case 'E': return op == OP_VREF;
    case 'W': return op == OP_VSET;
    case '!': return op == OP_NOT;
    case 'T': operand = op == OP_TREF; break;
    case 'X': operand = op == OP_TREF || op == OP_AREF; break;
    case 'V': operand = isValue(op); break;
    case 'L': operand = op == OP_LIT; break;
    case 'M': operand = op == OP_MREF; break;
    case 'N': operand = op == OP_MSET; break;
    case 'R': operand = op == OP_REF; break;
    case 'S': operand = op == OP_TSET; break;
    case 's': return op == OP_TSET && *operands > 0 && d.operand == cell->opd[0];
    case '+': if (op != OP_ADD && op != OP_SUB) return false; cell->op = op; return true;
    case 'A': if (op < OP_ADD || op > OP_MUL) return false; cell->op = op; return true;
    case 'C': if (op < OP_LT || op > OP_GT) return false; cell->op = op; return true;
    case 'K':
      if (!(op >= OP_ADD && op <= OP_MUL) && !(op >= OP_LT && op <= OP_GT)) return false;
      cell->op = op;
      return true;
    case 'I': if (op != OP_INC && op != OP_DEC) return false; cell->op = op; return true;
    case 'B':
      if (op != OP_BRT && op != OP_BRF) return false;
      cell->jumpIfTrue = op == OP_BRT;
      cell->target = d.operand;
      return true;
    default: return false;
  }
  if (!operand || *operands >= 3 || ((op == OP_LIT || op == OP_REF) && d.operand >= literals))
    return false;
  if (*operands < 2) cell->src[*operands] = sourceOf(op);
  cell->opd[*operands] = d.operand;
  ++*operands;
  return true;
}

// Can instruction k join the sequence that starts at instruction i? It must
// be narrow. A branch target may lie inside: the jump there finds the
// cell of that instruction itself, as every instruction starts one.
bool joins(const Decoded* d, uint32_t n, uint32_t i, uint32_t k) {
  (void)i;
  return k < n && d[k].narrow;
}

// Are instructions k .. k + length - 1 there and can they join the
// sequence that starts at i?
bool allJoin(const Decoded* d, uint32_t n, uint32_t i, uint32_t k, uint32_t length) {
  for (uint32_t j = k; j < k + length; ++j)
    if (!joins(d, n, i, j)) return false;
  return true;
}

// Is instruction k the start of P L + E, the offset of an element at i +/-
// a literal? Sets the cell's offset fields for operand m.
bool takeOffset(const Decoded* d, uint32_t n, uint32_t i, uint32_t k, uint32_t literals,
                MoxCell* cell, unsigned m) {
  if (!allJoin(d, n, i, k, 4) || d[k].op != OP_PUSH || d[k + 1].op != OP_LIT ||
      d[k + 1].operand >= literals || (d[k + 2].op != OP_ADD && d[k + 2].op != OP_SUB) ||
      d[k + 3].op != OP_VREF)
    return false;
  cell->offsetOp[m] = d[k + 2].op;
  cell->offset[m] = d[k + 1].operand;
  return true;
}

// A Y or Z token at instruction k as an element, X P T E or X P T P L + E,
// or a Q token, X P T (the VREF left out): the container's source and index
// fill the operand, the index temporary the cell's index field and an
// offset its offset fields. Returns the number of instructions taken, or 0
// when they are no element.
uint32_t takeElement(const Decoded* d, uint32_t n, uint32_t i, uint32_t k, uint32_t literals,
                     MoxCell* cell, unsigned* operands, bool read, bool offset) {
  if (!allJoin(d, n, i, k, 3)) return 0;
  const uint8_t c = d[k].op;
  if ((c != OP_TREF && c != OP_AREF) || d[k + 1].op != OP_PUSH || d[k + 2].op != OP_TREF ||
      *operands >= 2)
    return 0;
  uint32_t length = 3;
  if (read) {
    if (allJoin(d, n, i, k + 3, 1) && d[k + 3].op == OP_VREF)
      length = 4;
    else if (offset && takeOffset(d, n, i, k + 3, literals, cell, *operands))
      length = 7;
    else
      return 0;
  }
  cell->src[*operands] = c == OP_TREF ? MOS_ELEM_TEMP : MOS_ELEM_ARG;
  cell->opd[*operands] = d[k].operand;
  cell->index[*operands] = d[k + 2].operand;
  ++*operands;
  return length;
}

// Matches pattern at instruction i; on success fills *cell and returns the
// number of instructions the sequence covers, else 0. Every instruction
// must join the sequence (see joins).
uint32_t matchPattern(const char* pattern, const Decoded* d, uint32_t n, uint32_t i,
                      uint32_t literals, MoxCell* cell) {
  MoxCell c{};
  unsigned operands = 0;
  uint32_t k = i;
  for (const char* p = pattern; *p; ++p) {
    if (*p == ' ') continue;
    if (*p == 'Q') {
      const uint32_t taken = takeElement(d, n, i, k, literals, &c, &operands, false, false);
      if (!taken) return 0;
      k += taken;
      continue;
    }
    if (strchr("YZyz", *p)) {
      // An element first: its first instruction would pass as the value.
      const bool offset = *p == 'y' || *p == 'z';
      if (const uint32_t taken = takeElement(d, n, i, k, literals, &c, &operands, true, offset)) {
        k += taken;
        continue;
      }
      const char value = *p == 'Y' || *p == 'y' ? 'X' : 'V';
      if (!joins(d, n, i, k) || !takeToken(value, d[k], literals, &c, &operands)) return 0;
      ++k;
      continue;
    }
    if (*p == '>') {
      // Lookahead: the next instruction must be the token after '>'.
      ++p;
      MoxCell scratch{};
      unsigned none = 0;
      if (k >= n || !takeToken(*p, d[k], literals, &scratch, &none)) return 0;
      continue;
    }
    if (!joins(d, n, i, k) || !takeToken(*p, d[k], literals, &c, &operands)) return 0;
    ++k;
  }
  c.pc = d[i].pc;
  c.next = k < n ? d[k].pc : d[n - 1].pc + d[n - 1].length;
  *cell = c;
  return k - i;
}

// The handler of a sequence's cell: the one for its pair of sources or its
// first source where the form has them (MOX_SPECIAL_FORM_LIST,
// MOX_SINGLE_FORM_LIST), else the form's own.
uint8_t runOf(const MoxCell& c) {
  struct Row {
    uint8_t form, run, a, b;
  };
  static const Row kRuns[] = {
#define MOX_ROW(form, pair, a, b) {uint8_t(form), uint8_t(form##_##pair), uint8_t(a), uint8_t(b)},
#define MOX_ROWS(form, pairs) pairs(MOX_ROW, form)
      MOX_SPECIAL_FORM_LIST(MOX_ROWS)
#undef MOX_ROWS
#undef MOX_ROW
#define MOX_ROW(form, source, a) {uint8_t(form), uint8_t(form##_##source), uint8_t(a), 0xFF},
#define MOX_ROWS(form, sources) sources(MOX_ROW, form)
      MOX_SINGLE_FORM_LIST(MOX_ROWS)
#undef MOX_ROWS
#undef MOX_ROW
  };
  for (const Row& r : kRuns)
    if (r.form == c.form && r.a == c.src[0] && (r.b == 0xFF || r.b == c.src[1]))
      return r.run;
  return c.form;
}

// The cell that starts at instruction i: the first sequence that matches
// there, else the instruction alone.
void makeCell(const Decoded* d, uint32_t n, uint32_t i, uint32_t literals, MoxCell* cell) {
  for (const FormInfo& f : kForms) {
    if (matchPattern(f.pattern, d, n, i, literals, cell)) {
      cell->form = f.form;
      cell->run = runOf(*cell);
      return;
    }
  }
  MoxCell c{};
  c.form = moxIsKnownOpcode(d[i].op) ? d[i].op : uint8_t(OP_NOP);
  c.op = d[i].op;
  c.pc = d[i].pc;
  c.next = d[i].pc + d[i].length;
  c.opd[0] = d[i].operand;
  if (isBranch(c.form)) c.target = d[i].operand;
  c.run = c.form == OP_CALL     ? uint8_t(MR_CALL)
          : c.form == OP_SEND   ? uint8_t(MR_SEND)
          : c.form == OP_RETURN ? uint8_t(MR_RETURN)
                                : c.form;
  *cell = c;
}

}  // namespace

const char* moxFormName(uint8_t form) {
  for (const FormInfo& f : kForms)
    if (f.form == form) return f.name;
  return moxOpInfo(form).narrowName;
}

MoxTranslation* MoxTranslation::make(const uint8_t* code, uint32_t len, uint32_t literalCount,
                                     const void* const* handlers) {
  uint32_t n = 0;
  Decoded* d = decodeAll(code, len, &n);
  MoxCell* made = static_cast<MoxCell*>(malloc(sizeof(MoxCell) * (n ? n : 1)));
  if (!d || !made) {
    free(d);
    free(made);
    return nullptr;
  }
  markTargets(d, n);
  // Every instruction starts a cell, also one inside a sequence: the run
  // goes on through the cells that follow each other, and the others serve
  // where the bytes take over from a sequence whose checks failed (after
  // its first instruction they find the cells of the rest again) and where
  // a jump lands.
  uint32_t count = 0;
  for (uint32_t i = 0; i < n; ++i)
    if (d[i].narrow) makeCell(d, n, i, literalCount, &made[count++]);
  free(d);
  for (uint32_t k = 0; k < count; ++k) made[k].handler = handlers ? handlers[made[k].run] : nullptr;
  // One block: this header, the cells, and the cell number of each offset.
  void* block = malloc(sizeof(MoxTranslation) + sizeof(MoxCell) * count + sizeof(uint32_t) * len);
  if (!block) {
    free(made);
    return nullptr;
  }
  MoxTranslation* t = new (block) MoxTranslation();
  t->count_ = count;
  t->length_ = len;
  t->literals_ = literalCount;
  MoxCell* cells = const_cast<MoxCell*>(t->cells());
  if (count) memcpy(cells, made, sizeof(MoxCell) * count);
  free(made);
  uint32_t* starts = t->starts();
  for (uint32_t pc = 0; pc < len; ++pc) starts[pc] = kMoxNoCell;
  for (uint32_t k = 0; k < count; ++k) starts[cells[k].pc] = k;
  if (!t->link()) {
    destroy(t);
    return nullptr;
  }
  t->argsForCells_ = t->frame(code);
  t->argsToEnter_ = count && t->cells()->pc == 0 ? t->argsForCells_ : kMoxNoCell;
  return t;
}

void MoxTranslation::destroy(MoxTranslation* t) {
  if (!t) return;
  t->~MoxTranslation();
  free(t);
}

namespace {

// The distance in bytes from cell from to cell to, or 0 when to is no cell,
// is from itself, or lies too far for the field: the loop then runs the
// bytes at the cell's offset, which find the cell again.
int32_t stepTo(uint32_t from, uint32_t to) {
  if (to == kMoxNoCell || to == from) return 0;
  const int64_t d = (int64_t(to) - int64_t(from)) * int64_t(sizeof(MoxCell));
  return d > INT32_MAX || d < -INT32_MAX ? 0 : int32_t(d);
}

const FormInfo* formInfo(uint8_t form) {
  for (const FormInfo& f : kForms)
    if (f.form == form) return &f;
  return nullptr;
}

// Does the sequence form end in a branch (a B token in its pattern)?
bool endsInBranch(uint8_t form) {
  const FormInfo* f = formInfo(form);
  return f && strchr(f->pattern, 'B') != nullptr;
}

// The loops of the cells: loop[k] names the strongly connected part of the
// graph of next and target links that cell k lies in, so that two cells
// with the same name can each reach the other. Tarjan's search, with its
// own stack instead of recursion, since code may be long. False when
// memory runs out.
bool findLoops(uint32_t n, const uint32_t* next, const uint32_t* target, uint32_t* loop) {
  uint32_t* number = static_cast<uint32_t*>(malloc(sizeof(uint32_t) * n));
  uint32_t* low = static_cast<uint32_t*>(malloc(sizeof(uint32_t) * n));
  uint32_t* open = static_cast<uint32_t*>(malloc(sizeof(uint32_t) * n));   // cells not yet in a part
  uint32_t* path = static_cast<uint32_t*>(malloc(sizeof(uint32_t) * n));   // the search's own stack
  uint8_t* edge = static_cast<uint8_t*>(malloc(n));                        // next link to look at
  const bool ok = number && low && open && path && edge;
  if (ok) {
    const uint32_t kUnseen = kMoxNoCell;
    for (uint32_t k = 0; k < n; ++k) number[k] = kUnseen, loop[k] = kUnseen;
    uint32_t counter = 0, opened = 0;
    for (uint32_t root = 0; root < n; ++root) {
      if (number[root] != kUnseen) continue;
      uint32_t depth = 0;
      path[depth++] = root;
      number[root] = low[root] = counter++;
      open[opened++] = root;
      edge[root] = 0;
      while (depth) {
        const uint32_t k = path[depth - 1];
        if (edge[k] < 2) {
          const uint32_t s = edge[k]++ == 0 ? next[k] : target[k];
          if (s == kMoxNoCell) continue;
          if (number[s] == kUnseen) {
            number[s] = low[s] = counter++;
            open[opened++] = s;
            edge[s] = 0;
            path[depth++] = s;
          } else if (loop[s] == kUnseen && number[s] < low[k]) {
            low[k] = number[s];
          }
          continue;
        }
        --depth;
        if (depth && low[k] < low[path[depth - 1]]) low[path[depth - 1]] = low[k];
        if (low[k] == number[k]) {
          uint32_t m;
          do {
            m = open[--opened];
            loop[m] = k;
          } while (m != k);
        }
      }
    }
  }
  free(number);
  free(low);
  free(open);
  free(path);
  free(edge);
  return ok;
}

// The order the cells are laid out in: order[i] is the cell that goes to
// place i. Going from a cell to the one right after it lets the loop add a
// constant instead of a distance it has to load first, so the run goes on
// at once (see GO_CELL); the cells are laid out in chains that follow the
// way a run most likely takes. A chain starts with the first cell and
// goes on to the next cell, or to the branch target where only the target
// lies in the cell's loop (a loop's test goes on into its body rather than
// to its exit). The successor not taken starts a chain of its own later;
// cells no link reaches come last, in the order of their offsets. False
// when memory runs out.
bool layOut(uint32_t n, uint32_t first, const uint32_t* next, const uint32_t* target,
            uint32_t* order) {
  uint32_t* loop = static_cast<uint32_t*>(malloc(sizeof(uint32_t) * n));
  uint32_t* later = static_cast<uint32_t*>(malloc(sizeof(uint32_t) * n));
  uint8_t* placed = static_cast<uint8_t*>(calloc(n, 1));
  const bool ok = loop && later && placed && findLoops(n, next, target, loop);
  if (ok) {
    uint32_t count = 0, waiting = 0;
    auto unplaced = [&](uint32_t k) { return k != kMoxNoCell && !placed[k]; };
    auto chain = [&](uint32_t k) {
      while (unplaced(k)) {
        placed[k] = 1;
        order[count++] = k;
        uint32_t go = unplaced(next[k]) ? next[k] : kMoxNoCell;
        uint32_t other = unplaced(target[k]) ? target[k] : kMoxNoCell;
        if (go == kMoxNoCell ||
            (other != kMoxNoCell && loop[other] == loop[k] && loop[go] != loop[k])) {
          const uint32_t swap = go;
          go = other;
          other = swap;
        }
        if (other != kMoxNoCell) later[waiting++] = other;
        k = go;
      }
    };
    chain(first);
    while (waiting) chain(later[--waiting]);
    for (uint32_t k = 0; k < n; ++k) chain(k);
  }
  free(loop);
  free(later);
  free(placed);
  return ok;
}

}  // namespace

// Links between cells. A sequence followed by an unconditional branch goes
// straight on to its target (the end of a loop's body to its test), which
// nobody can tell while no hook is on; a few hops at most, so that a branch
// to itself does not keep the translator busy. A single instruction keeps
// its own next offset: a failure there is reported at its line. Then the
// cells take the places layOut gives them, and each notes the distances
// to its successors' new places. False when memory runs out.
bool MoxTranslation::link() {
  MoxCell* cells = const_cast<MoxCell*>(this->cells());
  const uint32_t n = count_;
  auto follow = [&](uint32_t* pc) {
    uint32_t cell = cellAt(*pc);
    for (int hop = 0; hop < 4 && cell != kMoxNoCell; ++hop) {
      const MoxCell& b = cells[cell];
      if (b.form != OP_BR) break;
      *pc = b.target;
      cell = cellAt(*pc);
    }
    return cell;
  };
  uint32_t* next = static_cast<uint32_t*>(malloc(sizeof(uint32_t) * (n + 1)));
  uint32_t* target = static_cast<uint32_t*>(malloc(sizeof(uint32_t) * (n + 1)));
  uint32_t* order = static_cast<uint32_t*>(malloc(sizeof(uint32_t) * (n + 1)));
  uint32_t* place = static_cast<uint32_t*>(malloc(sizeof(uint32_t) * (n + 1)));
  MoxCell* old = static_cast<MoxCell*>(malloc(sizeof(MoxCell) * (n + 1)));
  bool ok = next && target && order && place && old;
  for (uint32_t k = 0; ok && k < n; ++k) {
    MoxCell& c = cells[k];
    const bool sequence = c.form >= MF_FIRST;
    next[k] = sequence ? follow(&c.next) : cellAt(c.next);
    const bool jumps = isBranch(c.form) || endsInBranch(c.form);
    target[k] = jumps ? follow(&c.target) : kMoxNoCell;
  }
  // The cell at offset 0 stays first: a call enters there.
  const uint32_t first = length_ ? cellAt(0) : kMoxNoCell;
  ok = ok && (n == 0 || layOut(n, first == kMoxNoCell ? 0 : first, next, target, order));
  if (ok) {
    if (n) memcpy(old, cells, sizeof(MoxCell) * n);
    for (uint32_t i = 0; i < n; ++i) place[order[i]] = i;
    auto moved = [&](uint32_t k) { return k == kMoxNoCell ? k : place[k]; };
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t k = order[i];
      MoxCell& c = cells[i];
      c = old[k];
      c.nextCell = moved(next[k]);
      c.nextStep = stepTo(i, c.nextCell);
      c.targetStep = stepTo(i, moved(target[k]));
    }
    uint32_t* starts = this->starts();
    for (uint32_t pc = 0; pc < length_; ++pc) starts[pc] = moved(starts[pc]);
  }
  free(next);
  free(target);
  free(order);
  free(place);
  free(old);
  return ok;
}

namespace {

const int32_t kNoNeed = INT32_MIN;

// What a cell asks of the frame: the least stack depth (slots above the
// temporaries' base) at which the temporaries and arguments it reads lie
// below the first slot it writes, or kNoNeed; false when it reads a
// temporary at or past n. *args grows to one more than the highest argument.
bool frameNeed(const MoxCell& c, uint32_t n, int32_t* need, uint32_t* args) {
  *need = kNoNeed;
  const FormInfo* f = formInfo(c.form);
  if (!f) return true;  // one instruction: its handler checks for itself
  bool temps = false, arguments = false;
  unsigned k = 0;
  for (const char* p = f->pattern; *p; ++p) {
    if (*p == '>') {
      ++p;
      continue;
    }
    if (!strchr("TXVLMNRSYZyzQ", *p)) continue;
    const bool stack = strchr("TXVSYZyzQ", *p) != nullptr;
    const uint8_t source = k < 2 ? c.src[k] : uint8_t(MOS_TEMP);
    const bool temp =
        *p == 'T' || *p == 'S' || (stack && (source == MOS_TEMP || source == MOS_ELEM_TEMP));
    if (stack && temp) {
      if (c.opd[k] >= n) return false;
      temps = true;
    } else if (stack && (source == MOS_ARG || source == MOS_ELEM_ARG)) {
      arguments = true;
      if (c.opd[k] + 1 > *args) *args = c.opd[k] + 1;
    }
    // An element's index is a temporary too.
    if (stack && k < 2 && (source == MOS_ELEM_TEMP || source == MOS_ELEM_ARG)) {
      if (c.index[k] >= n) return false;
      temps = true;
    }
    ++k;
  }
  // A temporary j lies at depth j + 1, an argument at depth 0 or below.
  if (temps) *need = int32_t(n) + 1 - f->low;
  else if (arguments) *need = 1 - f->low;
  return true;
}

}  // namespace

uint32_t MoxTranslation::frame(const uint8_t* code) const {
  const uint32_t len = length_;
  if (!count_) return kMoxNoCell;
  // The frame: OP_TSPACE n first (after width prefixes), or no temporaries.
  uint32_t n = 0, frameAt = 0;
  unsigned w0 = 1;
  while (frameAt < len && moxPrefixWidth(code[frameAt])) w0 = moxPrefixWidth(code[frameAt++]);
  MoxInstruction first;
  if (frameAt < len && code[frameAt] == OP_TSPACE &&
      moxDecodeInstruction(code, len, frameAt, &w0, &first))
    n = first.operand;
  if (n > (1u << 20)) return kMoxNoCell;  // more than OP_TSPACE accepts
  uint32_t args = 0;
  int32_t* need = static_cast<int32_t*>(malloc(sizeof(int32_t) * count_));
  int32_t* depth = static_cast<int32_t*>(malloc(sizeof(int32_t) * len));
  uint8_t* width = static_cast<uint8_t*>(calloc(len, 1));  // 0: not reached
  uint32_t* work = static_cast<uint32_t*>(malloc(sizeof(uint32_t) * len));
  uint8_t* waiting = static_cast<uint8_t*>(calloc(len, 1));
  bool framed = need && depth && width && work && waiting;
  for (uint32_t k = 0; framed && k < count_; ++k)
    framed = frameNeed(cells()[k], n, &need[k], &args);
  // Depths from offset 0 over every path of the bytes, each offset keeping
  // the least depth it is reached with, until nothing lowers any more. A
  // depth that keeps falling (a loop that pops) ends the search.
  uint32_t queued = 0;
  auto reach = [&](uint32_t pc, int32_t d, unsigned w) {
    if (pc >= len) return true;  // past the end: the activation ends there
    if (width[pc] && width[pc] != w) return false;
    if (width[pc] && depth[pc] <= d) return true;
    if (d < -(1 << 20)) return false;
    width[pc] = uint8_t(w);
    depth[pc] = d;
    if (!waiting[pc]) {
      waiting[pc] = 1;
      work[queued++] = pc;
    }
    return true;
  };
  if (framed) framed = reach(0, 0, 1);
  uint64_t steps = 0;
  const uint64_t maxSteps = uint64_t(len) * 64 + 1024;
  while (framed && queued) {
    const uint32_t pc = work[--queued];
    waiting[pc] = 0;
    const int32_t d = depth[pc];
    if (++steps > maxSteps) {
      framed = false;
      break;
    }
    unsigned w = width[pc];
    const uint32_t k = w == 1 ? starts()[pc] : kMoxNoCell;
    if (k != kMoxNoCell && need[k] != kNoNeed && d < need[k]) {
      framed = false;
      break;
    }
    MoxInstruction in;
    if (!moxDecodeInstruction(code, len, pc, &w, &in)) continue;  // cut off: the run ends
    const uint8_t op = code[pc];
    const uint32_t next = pc + uint32_t(in.length);
    const MoxOpInfo& info = moxOpInfo(op);
    int32_t after = d;
    switch (info.known ? op : uint8_t(OP_NOP)) {
      case OP_RETURN: continue;
      case OP_TSPACE:
        // Only the first: the arguments lie at or below its base.
        if (pc != frameAt || d < 0) framed = false;
        after = int32_t(in.operand);
        break;
      case OP_CALL:
      case OP_SEND:
        if (in.operand > (1u << 20)) framed = false;  // not from the compiler
        after = d - int32_t(in.operand & 0xFFFFFu);
        break;
      case OP_BR: framed = reach(in.operand, d, w); continue;
      case OP_BRT:
      case OP_BRF: framed = reach(in.operand, d, w); break;
      default: after = d + (info.stackEffect == MOX_STACK_VARIES ? 0 : info.stackEffect);
    }
    framed = framed && reach(next, after, w);
  }
  free(need);
  free(depth);
  free(width);
  free(work);
  free(waiting);
  return framed ? args : kMoxNoCell;
}

namespace {
void freeTranslation(void* t) { MoxTranslation::destroy(static_cast<MoxTranslation*>(t)); }
}  // namespace

const MoxTranslation* moxTranslationOf(MoxBuffer* code, uint32_t literalCount,
                                       const void* const* handlers) {
  const MoxTranslation* kept = static_cast<const MoxTranslation*>(code->derived());
  if (kept && kept->literalCount() == literalCount) return kept;
  MoxTranslation* t = MoxTranslation::make(code->data(), code->size(), literalCount, handlers);
  if (!t) return nullptr;
  code->setDerived(t, freeTranslation);
  return t;
}
