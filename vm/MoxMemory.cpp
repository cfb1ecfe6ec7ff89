// Allocation of the blocks values hold, the ledger that counts them for the
// machine at work on this thread, and the bound on single requests.
#include "vm/MoxMemory.h"

#include <atomic>
#include <cstdlib>

#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include "core/MoxDictionary.h"
#include "core/MoxVector.h"
#include "vm/MoxPlatform.h"
#include "vm/MoxVirtualMachine.h"

namespace {

// Every allocation of a value reaches this variable; initial-exec keeps it a
// plain fs-relative load in a shared library (see the deletion state in the
// value model, which fits the same static TLS reserve).
__attribute__((tls_model("initial-exec"))) thread_local MoxMemoryLedger* currentLedger = nullptr;

// Blocks are measured only for a ledger with a bound in force: asking the
// allocator for a block's size costs a call per allocation and per free.
inline MoxMemoryLedger* countingLedger() {
  MoxMemoryLedger* l = currentLedger;
  return l && l->counting() ? l : nullptr;
}

inline void chargeBlock(void* p) {
  if (MoxMemoryLedger* l = countingLedger()) l->charge(malloc_usable_size(p));
}

inline void creditBlock(void* p) {
  if (MoxMemoryLedger* l = countingLedger()) l->credit(malloc_usable_size(p));
}

// The system has no memory left for a block. A machine at work on this
// thread fails its run and gets one more try; without one, or when the retry
// fails too, the process ends as it always did.
void* exhausted(void* (*retry)(void*, size_t, size_t), void* block, size_t a, size_t b) {
  MoxMemoryLedger* l = currentLedger;
  if (l) {
    l->exhaust();
    void* p = retry(block, a, b);
    if (p) return p;
  }
  mox::errorExit(1);
}

void* retryMalloc(void*, size_t size, size_t) { return malloc(size); }
void* retryRealloc(void* block, size_t size, size_t) { return realloc(block, size); }
void* retryCalloc(void*, size_t count, size_t unit) { return calloc(count, unit); }

std::atomic<size_t> blockLimit{0};

size_t physicalBlockLimit() {
  const size_t kCap = size_t(1) << 30;
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return kCap;
  const size_t physical = size_t(pages) * size_t(pageSize);
  return physical < kCap ? physical : kCap;
}

// Asked of the system once: sysconf(_SC_PHYS_PAGES) is a system call, and
// every growth of a vector or string checks the limit.
size_t defaultBlockLimit() {
  static const size_t limit = physicalBlockLimit();
  return limit;
}

}  // namespace

MoxMemoryLedger* MoxMemoryLedger::current() { return currentLedger; }

void MoxMemoryLedger::track(MoxVector* v) {
  if (MoxMemoryLedger* l = currentLedger) v->linkAfter(&l->vectors_);
}

void MoxMemoryLedger::track(MoxDictionary* d) {
  if (MoxMemoryLedger* l = currentLedger) d->linkAfter(&l->dictionaries_);
}

void MoxMemoryLedger::detachAll() {
  while (vectors_.next() != &vectors_) vectors_.next()->unlink();
  while (dictionaries_.next() != &dictionaries_) dictionaries_.next()->unlink();
}

MoxMemoryLedger::Scope::Scope(MoxMemoryLedger* ledger) : saved_(currentLedger) {
  currentLedger = ledger;
}

MoxMemoryLedger::Scope::~Scope() { currentLedger = saved_; }

size_t MoxMemoryLedger::processBound() {
  size_t bound = 0;
  for (int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    struct rlimit r;
    if (getrlimit(resource, &r) != 0 || r.rlim_cur == RLIM_INFINITY) continue;
    const size_t quarterBelow = size_t(r.rlim_cur) / 4 * 3;
    if (bound == 0 || quarterBelow < bound) bound = quarterBelow;
  }
  return bound;
}

void MoxMemoryLedger::overLimit() {
  if (owner_) owner_->memoryExhausted();
}

namespace mox {

namespace {

// Blocks this large (a long vector, a big text or index) are filled by the
// program as a rule, so their memory may come in the processor's large
// pages: one page fault for each 2 MB instead of one for each 4 kB. A hint
// only; where the system keeps large pages off, nothing changes.
const size_t kLargePageBlock = size_t(8) << 20;
const uintptr_t kLargePage = uintptr_t(2) << 20;

void adviseLargePages(void* block, size_t size) {
#ifdef MADV_HUGEPAGE
  if (!block || size < kLargePageBlock) return;
  const uintptr_t from = (reinterpret_cast<uintptr_t>(block) + kLargePage - 1) & ~(kLargePage - 1);
  const uintptr_t to = (reinterpret_cast<uintptr_t>(block) + size) & ~(kLargePage - 1);
  if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
  (void)block;
  (void)size;
#endif
}

}  // namespace

void* allocmem(size_t size) {
  if (size == 0) size = 1;
  void* p = malloc(size);
  if (!p) p = exhausted(retryMalloc, nullptr, size, 0);
  adviseLargePages(p, size);
  chargeBlock(p);
  return p;
}

void* growmem(void* block, size_t size, size_t* counted) {
  if (size == 0) size = 1;
  *counted = block && countingLedger() ? malloc_usable_size(block) : 0;
  void* p = realloc(block, size);
  if (p) adviseLargePages(p, size);
  return p;
}

void growCharge(void* block, size_t counted) {
  if (MoxMemoryLedger* l = countingLedger()) {
    l->credit(counted);
    l->charge(malloc_usable_size(block));
  }
}

void* reallocmem(void* block, size_t size) {
  if (size == 0) size = 1;
  size_t counted = 0;
  void* p = growmem(block, size, &counted);
  if (!p) {
    p = exhausted(retryRealloc, block, size, 0);
    adviseLargePages(p, size);
  }
  growCharge(p, counted);
  return p;
}

void* callocmem(size_t count, size_t unit) {
  if (count == 0) count = 1;
  if (unit == 0) unit = 1;
  void* p = calloc(count, unit);
  if (!p) p = exhausted(retryCalloc, nullptr, count, unit);
  adviseLargePages(p, count * unit);
  chargeBlock(p);
  return p;
}

void freemem(void* block) {
  if (!block) return;
  creditBlock(block);
  free(block);
}

void setBlockLimit(size_t bytes) { blockLimit.store(bytes, std::memory_order_relaxed); }

size_t getBlockLimit() {
  const size_t set = blockLimit.load(std::memory_order_relaxed);
  return set ? set : defaultBlockLimit();
}

bool blockFits(size_t count, size_t unit) {
  if (unit == 0) return true;
  if (count > getBlockLimit() / unit) return false;
  MoxMemoryLedger* l = countingLedger();
  return !l || l->fits(count * unit);
}

}  // namespace mox
