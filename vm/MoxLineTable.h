// Source positions of compiled procedures, kept by the machine beside the
// procedures themselves (a procedure vector and the module files never carry
// them). The compiler enters one table per procedure it finishes; the
// interpreter asks for a position only when a run-time error unwinds, so
// running code never touches these tables.
//
// A table is a list of rows, each giving the source and line of the code from
// its offset up to the next row's offset. Rows are made only where the line
// or the source changes, so a procedure of n lines has at most about n rows.
#ifndef MOX_LINE_TABLE_H
#define MOX_LINE_TABLE_H

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/MoxConfig.h"

class MoxVector;

struct MoxLineRow {
  uint32_t offset;  // first code byte the row covers
  int32_t line;     // 1-based source line
  uint32_t source;  // index of the source name (MoxLineTables::sourceName)
};

// The names of a procedure's arguments (for a method, "this" first) and of
// its local variables, in slot order: what a debugger shows.
struct MoxProcNames {
  std::vector<std::u16string> arguments;
  std::vector<std::u16string> temporaries;
};

class MOX_API MoxLineTables {
 public:
  MoxLineTables();
  ~MoxLineTables();
  MoxLineTables(const MoxLineTables&) = delete;
  MoxLineTables& operator=(const MoxLineTables&) = delete;

  // Index of a source name, entered on first use. Indices stay valid until
  // clear().
  uint32_t internSource(const MoxChar* name);
  const MoxChar* sourceName(uint32_t index) const;

  // Enters the rows of proc, replacing any earlier table of it. The table
  // holds a counted reference to proc, so an entry can never be matched by
  // a later procedure that happens to get the same address.
  void add(MoxVector* proc, std::vector<MoxLineRow> rows);
  // The source and line of the code byte at offset of proc; false when proc
  // has no table (read from a module file, or built by hand).
  bool lookup(MoxVector* proc, uint32_t offset, const MoxChar** source, int32_t* line) const;
  const std::vector<MoxLineRow>* rows(MoxVector* proc) const;
  // The names of a procedure that has a table; set after add().
  void setNames(MoxVector* proc, MoxProcNames names);
  const MoxProcNames* names(MoxVector* proc) const;

  // Copies every table of other (sharing its procedures).
  void copyFrom(const MoxLineTables& other);
  void clear();
  size_t size() const { return tables_.size(); }
  // Drops the tables of procedures that nothing but this table holds.
  void sweep();

 private:
  std::unordered_map<MoxVector*, std::vector<MoxLineRow>> tables_;
  std::unordered_map<MoxVector*, MoxProcNames> names_;
  std::vector<std::u16string> sources_;
  std::unordered_map<std::u16string, uint32_t> sourceIndex_;
  // Table count at which the next sweep runs.
  size_t sweepAt_;
};

#endif
