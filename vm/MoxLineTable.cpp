// Line tables of compiled procedures.
#include "vm/MoxLineTable.h"

#include <algorithm>

#include "core/MoxVector.h"

namespace {
// Tables below this count are never swept.
const size_t kFirstSweep = 256;
}  // namespace

MoxLineTables::MoxLineTables() : sweepAt_(kFirstSweep) {}

MoxLineTables::~MoxLineTables() { clear(); }

uint32_t MoxLineTables::internSource(const MoxChar* name) {
  std::u16string key = name ? name : u"";
  auto it = sourceIndex_.find(key);
  if (it != sourceIndex_.end()) return it->second;
  uint32_t index = uint32_t(sources_.size());
  sources_.push_back(key);
  sourceIndex_.emplace(key, index);
  return index;
}

const MoxChar* MoxLineTables::sourceName(uint32_t index) const {
  return index < sources_.size() ? sources_[index].c_str() : u"";
}

void MoxLineTables::add(MoxVector* proc, std::vector<MoxLineRow> rows) {
  if (!proc) return;
  auto it = tables_.find(proc);
  if (it != tables_.end()) {
    it->second = std::move(rows);
    return;
  }
  proc->addRef();
  tables_.emplace(proc, std::move(rows));
  // Procedures replaced by later compiles would otherwise stay alive here;
  // sweeping when the count has doubled keeps the cost linear.
  if (tables_.size() >= sweepAt_) {
    sweep();
    sweepAt_ = std::max(kFirstSweep, tables_.size() * 2);
  }
}

const std::vector<MoxLineRow>* MoxLineTables::rows(MoxVector* proc) const {
  auto it = tables_.find(proc);
  return it == tables_.end() ? nullptr : &it->second;
}

bool MoxLineTables::lookup(MoxVector* proc, uint32_t offset, const MoxChar** source,
                           int32_t* line) const {
  const std::vector<MoxLineRow>* r = rows(proc);
  if (!r || r->empty()) return false;
  auto after = std::upper_bound(r->begin(), r->end(), offset,
                                [](uint32_t off, const MoxLineRow& row) { return off < row.offset; });
  const MoxLineRow& row = after == r->begin() ? *after : *(after - 1);
  if (source) *source = sourceName(row.source);
  if (line) *line = row.line;
  return true;
}

void MoxLineTables::copyFrom(const MoxLineTables& other) {
  if (&other == this) return;
  for (const auto& kv : other.tables_) {
    std::vector<MoxLineRow> rows = kv.second;
    for (MoxLineRow& row : rows) row.source = internSource(other.sourceName(row.source));
    add(kv.first, std::move(rows));
    if (const MoxProcNames* n = other.names(kv.first)) setNames(kv.first, *n);
  }
}

void MoxLineTables::setNames(MoxVector* proc, MoxProcNames names) {
  if (tables_.count(proc)) names_[proc] = std::move(names);
}

const MoxProcNames* MoxLineTables::names(MoxVector* proc) const {
  auto it = names_.find(proc);
  return it == names_.end() ? nullptr : &it->second;
}

void MoxLineTables::sweep() {
  std::vector<MoxVector*> dead;
  for (const auto& kv : tables_)
    if (kv.first->getRefCnt() <= 1) dead.push_back(kv.first);
  for (MoxVector* proc : dead) {
    tables_.erase(proc);
    names_.erase(proc);
    proc->release();
  }
}

void MoxLineTables::clear() {
  // Taken out first: releasing a procedure may run code that looks here.
  std::unordered_map<MoxVector*, std::vector<MoxLineRow>> old;
  old.swap(tables_);
  names_.clear();
  for (auto& kv : old) kv.first->release();
  sources_.clear();
  sourceIndex_.clear();
  sweepAt_ = kFirstSweep;
}
