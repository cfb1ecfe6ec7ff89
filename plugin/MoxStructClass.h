// The script class Struct: lays out a native memory structure field by field
// in a byte buffer ("_data") and keeps each field's description and script
// value in a dictionary ("_dataDict").
//
// A field entry is a vector of exactly four values: offset, value, size and
// kind (0 inline, 1 pointer). It is created with capacity 4 and never grows,
// so the address of its value element stays valid for the field's life;
// pointer fields of numbers point there. Pointer fields are 8 bytes wide and
// hold the whole address, little-endian like every other field.
#ifndef MOX_STRUCT_CLASS_H
#define MOX_STRUCT_CLASS_H

#include "core/MoxConfig.h"

class MoxStructClass {
 public:
  // Enters Struct into the machine's classes; false when the name is taken.
  static bool registerClass(MoxVirtualMachine& vm);

  static bool Mox_Struct(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_addInt(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_addIntPtr(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_addInt8(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_addInt16(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_addDouble(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_addDoublePtr(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_addFloat(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_addFloatPtr(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_addString(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_addCBuffer(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_addBuffer(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_addStruct(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_getValue(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_getData(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_update(MoxVirtualMachine* vm, int argc, ValPtr& args);
};

#endif
