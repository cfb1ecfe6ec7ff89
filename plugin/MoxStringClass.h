// The script class String: an object around one MoxString (member "_str")
// with editing methods and the operator methods "+" and indexing reach.
#ifndef MOX_STRING_CLASS_H
#define MOX_STRING_CLASS_H

#include "core/MoxConfig.h"

class MoxStringClass {
 public:
  // Enters String into the machine's classes; false when the name is taken.
  static bool registerClass(MoxVirtualMachine& vm);

  static bool Mox_String(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_OP_ADD(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_OP_ADD_R(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_OP_VREF(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_OP_VSET(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_compare(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_icompare(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_length(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_c_str(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_c_buf(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_a_buf(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_w_buf(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_clear(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_substr(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_find(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_replace(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_insert(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_append(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_toString(MoxVirtualMachine* vm, int argc, ValPtr& args);
};

#endif
