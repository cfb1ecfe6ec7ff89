// Questions about the global names a machine's procedures use, asked when
// something has gone wrong or when a user wants warnings: which globals are
// read but never defined or assigned, and what a native function is called.
#ifndef MOX_NAME_CHECK_H
#define MOX_NAME_CHECK_H

#include <string>
#include <vector>

#include "core/MoxConfig.h"
#include "core/MoxValue.h"

class MoxDictionaryEntry;
class MoxVirtualMachine;

// One use of an undefined name: the global, and where it is read.
struct MoxUndefinedUse {
  std::u16string name;
  std::u16string function;  // "f" or "Class::method"
  std::u16string source;    // empty when the procedure has no line table
  int32_t line;             // 0 when unknown
};

// "Class::method" for a method, the name for a global function.
MOX_API std::u16string moxProcedureName(MoxVector* proc);

// True when the entry is a global that holds null, was never declared and
// that no procedure of the machine assigns.
MOX_API bool moxIsNeverAssigned(MoxVirtualMachine& vm, MoxDictionaryEntry* entry);

// Every global that a procedure reads but nothing defines or assigns, one
// element per name and reading procedure, in dictionary order.
MOX_API std::vector<MoxUndefinedUse> moxFindUndefinedNames(MoxVirtualMachine& vm);

// A global that several functions assign without anyone declaring it: the
// loop variable two functions forgot to make local, which they then share.
struct MoxSharedAssignment {
  std::u16string name;
  std::u16string first;   // the first function that assigns it
  std::u16string second;  // another one
  std::u16string source;  // where the other one assigns it; empty when unknown
  int32_t line;           // 0 when unknown
};

// Every undeclared global (no declaration, no #defvar) that two or more
// procedures assign, in dictionary order of the procedures.
MOX_API std::vector<MoxSharedAssignment> moxFindSharedAssignments(MoxVirtualMachine& vm);

// The script name of a native function ("strlen", "String::length"), or
// empty when the machine does not know it.
MOX_API std::u16string moxNativeName(MoxVirtualMachine& vm, MoxNativeFunction fn);

#endif
