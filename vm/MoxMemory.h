// What the blocks of one machine's values hold, and the bound a host sets on
// it.
//
// A machine installs its ledger on the running thread (MoxMemoryLedger::Scope)
// for everything it does: compiling, running, reading and writing modules,
// teardown. While a bound is in force, the allocation functions of the value
// model (allocmem and the rest, and the blocks of heap objects) charge the
// ledger of their thread and credit it when the block is freed, so the count
// follows the values wherever they are kept. Without a bound nothing is
// measured. Blocks made or freed with no ledger installed (by a host outside
// every machine call) are not counted; the count never goes below zero.
#ifndef MOX_MEMORY_H
#define MOX_MEMORY_H

#include <cstddef>
#include <cstdint>

#include "core/MoxConfig.h"
#include "core/MoxTrackLink.h"

class MoxDictionary;
class MoxVector;
class MoxVirtualMachine;

class MOX_API MoxMemoryLedger {
 public:
  explicit MoxMemoryLedger(MoxVirtualMachine* owner = nullptr) : owner_(owner) {
    vectors_.makeHead();
    dictionaries_.makeHead();
  }
  ~MoxMemoryLedger() { detachAll(); }
  MoxMemoryLedger(const MoxMemoryLedger&) = delete;
  MoxMemoryLedger& operator=(const MoxMemoryLedger&) = delete;

  void setOwner(MoxVirtualMachine* owner) { owner_ = owner; }
  // 0: no bound of the host's. The bound in force is then three quarters
  // of the process's address-space or data-size limit (ulimit -v, -d) when
  // it has one, so that a script runs out of the machine's memory before
  // the process runs out of its own; otherwise none.
  void setLimit(size_t bytes) {
    const bool was = counting();
    hostLimit_ = bytes;
    limit_ = bytes ? bytes : processBound();
    // Blocks freed while nothing was counted were never credited.
    if (!was) used_ = 0;
  }
  size_t getLimit() const { return hostLimit_; }
  // True while a bound is in force, and so blocks are counted.
  bool counting() const { return limit_ != 0; }
  size_t getUsed() const { return used_; }
  // Most bytes held at once since the ledger was made.
  size_t getPeak() const { return peak_; }
  // True when n more bytes stay within the bound.
  bool fits(size_t n) const { return limit_ == 0 || (used_ <= limit_ && n <= limit_ - used_); }

  // Counts a new block of n bytes. Going over the bound tells the owner,
  // which fails the run in progress; the block itself is still handed out,
  // so no caller has to cope with a missing one.
  void charge(size_t n) {
    used_ += n;
    if (used_ > peak_) peak_ = used_;
    if (limit_ != 0 && used_ > limit_) overLimit();
  }
  // A block of n bytes was freed. Blocks made by another machine may be
  // freed here; the count never goes below zero.
  void credit(size_t n) { used_ = n > used_ ? 0 : used_ - n; }
  // The system refused a block: the same as going over the bound.
  void exhaust() { overLimit(); }

  // Containers made on this thread join the list of the ledger installed
  // (nothing happens without one).
  static void track(MoxVector* v);
  static void track(MoxDictionary* d);
  // Frees the containers (and the objects among them) that nothing but
  // references among themselves keeps alive: cycles the machine's values
  // made. What anything else still holds (a host's copy of a result) stays
  // as it is. Run when the machine is torn down or reinitialised, after its
  // dictionaries are cleared.
  void collectCycles();
  // Forgets every container still listed; they live on unlisted.
  void detachAll();

  // The ledger installed on this thread, or null.
  static MoxMemoryLedger* current();

  // Installs a ledger on this thread for its lifetime and puts the one that
  // was installed before back afterwards.
  class MOX_API Scope {
   public:
    explicit Scope(MoxMemoryLedger* ledger);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    MoxMemoryLedger* saved_;
  };

 private:
  void overLimit();
  static size_t processBound();

  MoxVirtualMachine* owner_;
  MoxTrackLink vectors_;
  MoxTrackLink dictionaries_;
  size_t hostLimit_ = 0;
  size_t limit_ = processBound();
  size_t used_ = 0;
  size_t peak_ = 0;
};

#endif
