// State shared by the compiler's source files: the per-function context and
// the head of a class member declaration. Not part of the public interface.
#ifndef MOX_COMPILER_INTERNAL_H
#define MOX_COMPILER_INTERNAL_H

#include <string>
#include <unordered_map>
#include <vector>

#include "compiler/MoxCompiler.h"
#include "core/MoxBuffer.h"
#include "core/MoxClass.h"
#include "core/MoxDictionary.h"
#include "core/MoxString.h"
#include "core/MoxValue.h"
#include "core/MoxVector.h"
#include "vm/MoxLineTable.h"

struct MoxFuncContext {
  // Parameter names; for an object method "this" is entry 0.
  std::vector<std::u16string> arguments;
  // Local variable names.
  std::vector<std::u16string> temporaries;
  // One entry per enclosing loop: head of its chain of unpatched exits.
  std::vector<uint32_t> breaks;
  // One entry per enclosing loop: the offset a continue jumps to.
  std::vector<uint32_t> continues;
  // The procedure being built; holder keeps it alive.
  MoxValue holder;
  MoxVector* proc = nullptr;
  MoxBuffer* code = nullptr;
  // The class bare member names are looked up in (the procedure's class;
  // switched to another class while Class::member is resolved).
  MoxClass* lookupClass = nullptr;
  // A static member function: it has no "this" and no object members.
  bool isStatic = false;
  // Pool indices of the first string of each text and of each variable
  // reference, so that finding them again does not search the whole pool.
  std::unordered_map<std::u16string, uint32_t> strings;
  std::unordered_map<const MoxDictionaryEntry*, uint32_t> variables;
  // Code offset to source line, handed to the machine with the procedure.
  std::vector<MoxLineRow> lines;
  // Slot of each argument and temporary name, made on the first lookup;
  // the first of equal names wins, arguments before temporaries.
  std::unordered_map<std::u16string, MoxVarInfo> slots;
  bool slotsIndexed = false;
};

// What precedes a class member's parameter list or data names.
struct MoxMemberHead {
  std::u16string name;  // "dtor" for a destructor
  bool isStatic = false;
  bool isDtor = false;
};

#endif
