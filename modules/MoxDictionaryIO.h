// Module files: the binary image of a machine's native modules, classes and
// global symbols with every value they reach, and the encoding of single
// values used by the script functions that write and read values to files.
//
// Module files are untrusted input. The reader checks every count and width
// against what is left of the file before allocating, bounds nesting, and
// fails (with a message on the machine's printer) on unknown value types,
// bad widths, truncation and back-references that name no object or an
// object of another kind. Object identifiers are handed out per operation
// by a counter.
#ifndef MOX_DICTIONARY_IO_H
#define MOX_DICTIONARY_IO_H

#include <cstdint>
#include <cstdio>

#include "core/MoxConfig.h"

class MoxDictionaryIOState;

class MOX_API MoxDictionaryIO {
 public:
  explicit MoxDictionaryIO(MoxVirtualMachine& vm);
  ~MoxDictionaryIO();
  MoxDictionaryIO(const MoxDictionaryIO&) = delete;
  MoxDictionaryIO& operator=(const MoxDictionaryIO&) = delete;

  // Writes the native modules, classes and symbols of the machine to path.
  // A failed write leaves the partial file.
  bool writeModule(const MoxString& path);
  // Loads a module file into the machine: loads the native modules it names,
  // then enters its classes and symbols (replacing entries of the same name).
  // What was read before a failure stays in the machine.
  bool readModule(const MoxString& path);

  // One value as at top level (a class value carries its definition).
  bool writeSingleValue(FILE* stream, MoxValue& value);
  // One value; a class definition read here is not entered into the
  // machine's class dictionary.
  bool readSingleValue(FILE* stream, MoxValue& value);

  // Bound on the nesting of values (containers, objects, class definitions)
  // in both directions; deeper structures fail the operation.
  static const int kMaxDepth = 200;

 private:
  // Opens a module file, telling the printer when it cannot.
  FILE* openFile(const MoxString& path, bool write);
  bool readNativeModules();

  MoxVirtualMachine& vm_;
  MoxDictionary* classes_;
  MoxDictionary* symbols_;
  IMoxPrinter* printer_;
  // Object, reference and variable lists of the current operation.
  MoxDictionaryIOState* state_;
};

#endif
