// Capabilities of a machine: each group that is off blocks the library
// functions and directives it covers, and nothing else; reinit keeps the
// choice; a new machine offers everything.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "common/TestSupport.h"
#include "core/MoxString.h"
#include "vm/MoxCapabilities.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

namespace {

// Compiles source into vm and runs main; returns everything printed
// (output, run-time and compile errors alike).
std::string run(MoxVirtualMachine& vm, MoxStringPrinter& out, const std::string& source, bool* ok = nullptr) {
  out.clear();
  bool compiled = vm.compileText(utf16(source).c_str());
  bool ran = compiled && vm.execute(u"main", 0, nullptr, false, &out);
  if (ok) *ok = ran;
  return out.a_str();
}

// How often text occurs in s.
int occurrences(const std::string& s, const std::string& text) {
  int n = 0;
  for (size_t at = s.find(text); at != std::string::npos; at = s.find(text, at + 1)) ++n;
  return n;
}

struct Files {
  TempDir dir{"caps"};
  std::string text = dir.write("data.txt", "line\n");
  std::string include = dir.write("inc.mox", "inc() { return 7; }\n");
  std::string module = dir.path() + "/lib.mxm";
  Files() {
    MoxVirtualMachine maker;
    EXPECT_TRUE(maker.compileText(u"lib() { return 5; }"));
    EXPECT_TRUE(maker.writeModule(utf16(module).c_str()));
  }
};

const char* kEnvName = "MOX_CAP_TEST_VARIABLE";

}  // namespace

TEST(Capabilities, ANewMachineOffersEverything) {
  Files files;
  MoxStringPrinter out;
  MoxVirtualMachine vm(&out);
  EXPECT_EQ(vm.getCapabilities(), MOX_CAP_ALL);
  EXPECT_TRUE(vm.allows(MOX_CAP_ALL));
  bool ok = false;
  EXPECT_EQ(run(vm, out,
                "#include \"" + files.include + "\"\n#use \"" + files.module +
                    "\"\n"
                    "main(;f) { f = fopen(\"" + files.text + "\", \"r\"); print(fgets(f), inc(), lib(), \" \");"
                    "fclose(f); setenv(\"" + kEnvName + "\", \"on\"); print(getenv(\"" + kEnvName +
                    "\"), \" \", addr(\"x\") != 0, loadmodule(\"" + files.module + "\")); }",
                &ok),
            "line75 on 11");
  EXPECT_TRUE(ok);
  vm.setCapabilities(MOX_CAP_NONE);
  vm.setCapabilities(~0u);  // unknown bits are dropped
  EXPECT_EQ(vm.getCapabilities(), MOX_CAP_ALL);
  // The store is shared by the other tests of this binary.
  run(vm, out, std::string("main() { setenv(\"") + kEnvName + "\", \"\"); }", &ok);
  EXPECT_TRUE(ok);
}

TEST(Capabilities, EachGroupBlocksWhatItCovers) {
  Files files;
  MoxStringPrinter out;
  const std::string open = "open() { f = fopen(\"" + files.text + "\", \"r\"); }";
  auto without = [&](MoxVirtualMachine& vm, uint32_t group) {
    vm.setCapabilities(MOX_CAP_ALL & ~group);
    EXPECT_FALSE(vm.allows(group));
    EXPECT_TRUE(vm.allows(MOX_CAP_ALL & ~group));
  };

  {  // Files: opening and every read; a stream opened before still closes.
    MoxVirtualMachine vm(&out);
    ASSERT_TRUE(vm.compileText(utf16(open).c_str()));
    ASSERT_TRUE(vm.execute(u"open"));
    without(vm, MOX_CAP_FILES);
    const char* fileReads[] = {"getc(f)", "getwc(f)", "fgets(f)", "fgetws(f)", "freadval(f)",
                               "fread(newbuffer(0), f)", "fread(newbuffer(0), 1, 1, f)", "compile(f)",
                               "fopen(\"x\", \"r\")", "fgets()"};
    for (const char* call : fileReads)
      EXPECT_EQ(run(vm, out, std::string("main() { return ") + call + "; }"), "file access is disabled\n")
          << call;
    const char* consoleReads[] = {"gets()", "gets(1)", "getc(stdin)", "fgets(stdin)", "fgetws(stdin)",
                                  "getwc(stdin)", "fread(newbuffer(0), stdin)", "freadval(stdin)",
                                  "compile(stdin)"};
    for (const char* call : consoleReads)
      EXPECT_EQ(run(vm, out, std::string("main() { return ") + call + "; }"), "console input is disabled\n")
          << call;
    bool ok = false;
    EXPECT_EQ(run(vm, out, "main() { print(fputs(\"\", stdout) >= 0, feof(f), fclose(f)); }", &ok), "100");
    EXPECT_TRUE(ok);
  }
  {  // Reading the environment; writing stays.
    MoxVirtualMachine vm(&out);
    without(vm, MOX_CAP_ENV_READ);
    EXPECT_EQ(run(vm, out, "main() { return getenv(\"HOME\"); }"), "reading the environment is disabled\n");
    EXPECT_EQ(run(vm, out, "main() { return getenv(); }"), "reading the environment is disabled\n");
    EXPECT_EQ(run(vm, out, std::string("main() { print(setenv(\"") + kEnvName + "\", \"\")); }"), "1");
  }
  {  // Writing the environment: neither the store nor the process changes.
    MoxVirtualMachine vm(&out);
    without(vm, MOX_CAP_ENV_WRITE);
    EXPECT_EQ(run(vm, out, std::string("main() { return setenv(\"") + kEnvName + "\", \"blocked\"); }"),
              "writing the environment is disabled\n");
    EXPECT_EQ(getenv(kEnvName), nullptr);
    EXPECT_EQ(run(vm, out, std::string("main() { print(\"[\", getenv(\"") + kEnvName + "\"), \"]\"); }"),
              "[]");
  }
  {  // Native library calls, whatever their arguments.
    MoxVirtualMachine vm(&out);
    without(vm, MOX_CAP_NATIVE_CALLS);
    const char* calls[] = {"LoadLibrary(\"libc.so.6\")", "GetProcAddress(0, \"puts\")", "CallLibFunc(0)",
                           "CallLibFunc()", "FreeLibrary(0)", "addr(\"x\")"};
    for (const char* call : calls)
      EXPECT_EQ(run(vm, out, std::string("main() { return ") + call + "; }"),
                "native library calls are disabled\n")
          << call;
  }
  {  // Native modules: a compile error, also inside compile(); nothing is loaded.
    MoxVirtualMachine vm(&out);
    without(vm, MOX_CAP_NATIVE_MODULES);
    bool ok = true;
    std::string text = run(vm, out, "#import \"mx2class\"\nmain() { return 1; }", &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(occurrences(text, "native modules are disabled"), 1) << text;
    EXPECT_EQ(occurrences(text, "-->"), 1) << text;  // the name is taken: no error follows
    EXPECT_EQ(vm.modules().count(), 0u);
    EXPECT_EQ(vm.classes().find(MoxString(u"String")), nullptr);
    text = run(vm, out,
               "main() { print(compile(\"#import \\\"mx2class\\\" g() { return 2; }\"), "
               "compile(\"h() { return 3; }\"), h()); }",
               &ok);
    EXPECT_TRUE(ok);
    EXPECT_NE(text.find("native modules are disabled"), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.size() - 3), "013") << text;
    EXPECT_EQ(vm.modules().count(), 0u);
  }
  {  // Precompiled modules: the directive and loadmodule.
    MoxVirtualMachine vm(&out);
    without(vm, MOX_CAP_MODULES);
    bool ok = true;
    std::string text = run(vm, out, "#use \"" + files.module + "\"\nmain() { return 1; }", &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(occurrences(text, "precompiled modules are disabled"), 1) << text;
    EXPECT_EQ(occurrences(text, "-->"), 1) << text;
    EXPECT_EQ(vm.symbols().find(MoxString(u"lib")), nullptr);
    EXPECT_EQ(run(vm, out, "main() { return loadmodule(\"" + files.module + "\"); }"),
              "precompiled modules are disabled\n");
    EXPECT_EQ(vm.symbols().find(MoxString(u"lib")), nullptr);
  }
  {  // Source includes: the name is taken in both forms and nothing is read.
    MoxVirtualMachine vm(&out);
    without(vm, MOX_CAP_INCLUDE);
    bool ok = true;
    std::string text = run(vm, out,
                           "#include \"" + files.include + "\"\n#include <some/where.mox>\n"
                           "main() { return 1; }\nlater() { return 2; }",
                           &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(occurrences(text, "source includes are disabled"), 2) << text;
    EXPECT_EQ(occurrences(text, "-->"), 2) << text;
    EXPECT_EQ(vm.symbols().find(MoxString(u"inc")), nullptr);
    EXPECT_NE(vm.symbols().find(MoxString(u"later")), nullptr);  // the rest is still compiled
  }
}

TEST(Capabilities, WithNothingOnThePureLibraryAndOutputStay) {
  MoxStringPrinter out;
  MoxVirtualMachine vm(&out);
  std::u16string w0(u"mx2"), w1(u"#a"), w2(u"b");
  MoxChar* argv[] = {&w0[0], &w1[0], &w2[0]};
  vm.cmdargc() = 3;
  vm.cmdargv() = argv;
  vm.setCapabilities(MOX_CAP_NONE);
  bool ok = false;
  EXPECT_EQ(run(vm, out,
                "two(x, y) { return arg(1); }\n"
                "main(;u) { u = getusrargs(); compile(\"c() { return 4; }\");"
                "print(strlen(\"abc\"), int(sin(0)), vecsize(u), u[0], two(1, 9), c(), \" \");"
                "fputs(\"\", stderr); fwrite(newbuffer(0), stderr);"
                "print(newstring(\"%03d\", 7), time() > 0, argcnt()); }",
                &ok),
            "302a94 00710");
  EXPECT_TRUE(ok);
  vm.cmdargc() = 0;
  vm.cmdargv() = nullptr;
}

TEST(Capabilities, ReinitKeepsTheChoice) {
  MoxStringPrinter out;
  MoxVirtualMachine vm(&out);
  vm.setCapabilities(MOX_CAP_ALL & ~(MOX_CAP_ENV_READ | MOX_CAP_INCLUDE));
  vm.reinit();
  EXPECT_EQ(vm.getCapabilities(), MOX_CAP_ALL & ~(MOX_CAP_ENV_READ | MOX_CAP_INCLUDE));
  EXPECT_EQ(run(vm, out, "main() { return getenv(\"HOME\"); }"), "reading the environment is disabled\n");
  EXPECT_NE(run(vm, out, "#include \"x.mox\"\nmain() { return 0; }").find("source includes are disabled"),
            std::string::npos);
  vm.setCapabilities(MOX_CAP_ALL);
  vm.reinit();
  bool ok = false;
  run(vm, out, "main() { return getenv(\"HOME\"); }", &ok);
  EXPECT_TRUE(ok);
}
