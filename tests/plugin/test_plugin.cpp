// The mx2class module inside real machines: registration, several machines
// and reloading, a class name already taken, and methods reached with a
// receiver that is not their own kind of object.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/MoxClass.h"
#include "core/MoxDictionary.h"
#include "core/MoxString.h"
#include "core/MoxVector.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

namespace {

const char* kModulePath = MOX_BIN_DIR "/mx2class.so";

MoxClass* findClass(MoxVirtualMachine& vm, const MoxChar* name) {
  MoxDictionaryEntry* e = vm.classes().find(MoxString(name));
  return e ? static_cast<MoxClass*>(e->getValue()) : nullptr;
}

// bare(class, method, receiver, arguments...): calls the method's native
// function itself, so the receiver may be anything or missing.
bool bare(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  MoxString* className = args[1 - argc];
  MoxString* method = args[2 - argc];
  MoxClass* cls = findClass(*vm, className->c_str());
  MoxDictionaryEntry* e = cls ? cls->funcMembers()->find(*method) : nullptr;
  MoxNativeFunction f = e ? static_cast<MoxNativeFunction>(e->getValue()) : nullptr;
  if (!f) return false;
  // The method's result slot is the slot of the method name.
  if (!f(vm, argc - 2, args)) return false;
  MoxValue result(*args);
  args -= 2;
  *args = result;
  return true;
}

// Compiles source into vm and runs main; the printed text and errors.
std::string run(MoxVirtualMachine& vm, MoxStringPrinter& out, const MoxChar* source) {
  out.clear();
  if (vm.compileText(source)) vm.execute(u"main");
  return out.a_str();
}

const MoxChar* kUseBoth =
    u"#import \"mx2class\"\n"
    u"main(;s, st) { s = new String(\"ab\"); st = new Struct(); st->addInt(\"a\", 1);\n"
    u"  print((s + \"c\")->toString(), \" \", st->addInt8(\"b\", 2), \"\\n\"); return 0; }";

}  // namespace

TEST(PluginModule, NullMachineAndTakenNames) {
  void* handle = dlopen(kModulePath, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << dlerror();
  typedef int (*RegisterProc)(MoxVirtualMachine*);
  RegisterProc reg = reinterpret_cast<RegisterProc>(dlsym(handle, "RegisterNativeModule"));
  ASSERT_NE(reg, nullptr);
  EXPECT_EQ(reg(nullptr), 0);
  {
    MoxVirtualMachine vm;
    EXPECT_NE(reg(&vm), 0);
    MoxClass* str = findClass(vm, u"String");
    MoxClass* st = findClass(vm, u"Struct");
    ASSERT_NE(str, nullptr);
    ASSERT_NE(st, nullptr);
    EXPECT_TRUE(str->getIsNative());
    EXPECT_EQ(str->getMemberIndex(MoxString(u"_str")), 1);
    EXPECT_EQ(st->getMemberIndex(MoxString(u"_data")), 1);
    EXPECT_EQ(st->getMemberIndex(MoxString(u"_dataDict")), 2);
    EXPECT_EQ(str->funcMembers()->count(), 19u);
    EXPECT_EQ(st->funcMembers()->count(), 16u);
    // Registering again finds both names taken and leaves the classes as
    // they were.
    EXPECT_EQ(reg(&vm), 0);
    EXPECT_EQ(findClass(vm, u"String"), str);
    EXPECT_EQ(str->funcMembers()->count(), 19u);
  }
  dlclose(handle);
}

TEST(PluginModule, SeveralMachinesAndReloading) {
  MoxStringPrinter out1, out2, out3;
  std::unique_ptr<MoxVirtualMachine> vm1(new MoxVirtualMachine(&out1));
  std::unique_ptr<MoxVirtualMachine> vm2(new MoxVirtualMachine(&out2));
  EXPECT_EQ(run(*vm1, out1, kUseBoth), "abc 4\n");
  EXPECT_EQ(run(*vm2, out2, kUseBoth), "abc 4\n");
  vm1.reset();
  EXPECT_EQ(run(*vm2, out2, u"main() { print((new String(\"x\") + 1)->length()); return 0; }"),
            "2");
  vm2.reset();
  // Every machine is gone, so the module was unloaded: this loads it anew.
  MoxVirtualMachine vm3(&out3);
  EXPECT_EQ(run(vm3, out3, kUseBoth), "abc 4\n");
  vm3.reinit();
  EXPECT_EQ(run(vm3, out3, kUseBoth), "abc 4\n");
}

TEST(PluginModule, ScriptClassNamedStringKeepsItsName) {
  MoxStringPrinter out;
  MoxVirtualMachine vm(&out);
  // The script's own String stays; Struct still registers.
  EXPECT_EQ(run(vm, out,
                u"class String { a; b; String(); size(); }\n"
                u"String::String() { a = 1; b = 2; }\n"
                u"String::size() { return a + b; }\n"
                u"#import \"mx2class\"\n"
                u"main(;s, st) { s = new String(); st = new Struct(); print(s->size(), \" \", "
                u"st->addInt(\"a\", 1)); return 0; }"),
            "3 0");
}

TEST(PluginModule, ReceiverOfTheWrongKind) {
  MoxStringPrinter out;
  MoxVirtualMachine vm(&out);
  ASSERT_TRUE(vm.registerNativeFunction(u"bare", bare));
  ASSERT_TRUE(vm.loadNativeModule(u"mx2class"));
  EXPECT_EQ(run(vm, out, u"main() { return bare(\"String\", \"length\", 5); }"),
            "invalid 'this' pointer\n");
  EXPECT_EQ(run(vm, out, u"main() { return bare(\"String\", \"String\"); }"),
            "invalid 'this' pointer\n");
  EXPECT_EQ(run(vm, out, u"main() { return bare(\"Struct\", \"getData\", \"x\"); }"),
            "invalid 'this' pointer\n");
  EXPECT_EQ(run(vm, out, u"main() { return bare(\"Struct\", \"addInt\", 1.5, \"a\"); }"),
            "invalid 'this' pointer\n");
  // Members are looked up in the receiver's own class: a String method on a
  // Struct finds no "_str", and the other way round.
  EXPECT_EQ(run(vm, out, u"main() { return bare(\"String\", \"length\", new Struct()); }"),
            "invalid value type MVT_NULL, MVT_STRING expected\n");
  EXPECT_EQ(
      run(vm, out, u"main() { return bare(\"Struct\", \"addInt\", new String(\"s\"), \"a\", 1); }"),
      "invalid value type MVT_NULL, MVT_DICTIONARY expected\n");
  EXPECT_EQ(run(vm, out, u"main() { return bare(\"String\", \"String\", new Struct(), \"x\"); }"),
            "invalid value type MVT_NULL, MVT_STRING expected\n");
  EXPECT_EQ(run(vm, out, u"main() { return bare(\"Struct\", \"Struct\", new String(\"x\")); }"),
            "invalid value type MVT_NULL, MVT_DICTIONARY expected\n");
  EXPECT_EQ(run(vm, out,
                u"main() { print(bare(\"String\", \"length\", new String(\"abc\"))); "
                u"return 0; }"),
            "3");
}
