// The four printers.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include <unistd.h>

#include "common/TestSupport.h"
#include "vm/MoxPrinter.h"

namespace {

std::string readAll(FILE* f) {
  std::string text;
  rewind(f);
  int c;
  while ((c = fgetc(f)) != EOF) text.push_back(static_cast<char>(c));
  return text;
}

std::string received;
int calls = 0;
void collect(const char* text) {
  received += text;
  ++calls;
}

// A callback that prints again through the printer that called it.
MoxCallbackPrinter* reentrant = nullptr;
void collectAndReprint(const char* text) {
  received += text;
  if (++calls == 1) (*reentrant)(u"[%s]", u"inner");
  received += "|";
}

}  // namespace

TEST(Printer, DummyDiscards) {
  MoxDummyPrinter p;
  EXPECT_EQ(p(u"%s %d", u"x", 5), 0);
  EXPECT_EQ(p(nullptr), 0);
  IMoxPrinter& base = p;
  EXPECT_EQ(base(u"abc"), 0);
}

TEST(Printer, FileStreamWritesUtf8AndCountsUnits) {
  FILE* f = tmpfile();
  ASSERT_NE(f, nullptr);
  {
    MoxFileStreamPrinter p(f, false);
    EXPECT_EQ(p.stream(), f);
    EXPECT_EQ(p(u"class %s\n", u"\u00e9t\u00e9"), 10);
    EXPECT_EQ(p(u"%S|%d|%c", "\xf0\x9f\x98\x80", -3, 0x20AC), 7);
    EXPECT_EQ(p(u""), 0);
    EXPECT_EQ(p(nullptr), -1);
  }
  // Not owned: still open after the printer is gone.
  EXPECT_EQ(fputs("!", f), 1);
  EXPECT_EQ(readAll(f), "class \xc3\xa9t\xc3\xa9\n\xf0\x9f\x98\x80|-3|\xe2\x82\xac!");
  fclose(f);
}

TEST(Printer, FileStreamOverAPath) {
  TempDir dir("printer");
  ASSERT_FALSE(dir.path().empty());
  std::string path = dir.path() + "/out.txt";
  std::u16string wpath(path.begin(), path.end());
  {
    // "t" has no meaning on Linux and must not make the open fail.
    MoxFileStreamPrinter p(wpath.c_str(), u"wt");
    ASSERT_NE(p.stream(), nullptr);
    EXPECT_EQ(p(u"%d\n", 42), 3);
  }  // owned: closed and flushed here
  FILE* f = fopen(path.c_str(), "r");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(readAll(f), "42\n");
  fclose(f);
  {
    MoxFileStreamPrinter p(wpath.c_str(), u"at");
    EXPECT_EQ(p(u"more"), 4);
  }
  f = fopen(path.c_str(), "r");
  EXPECT_EQ(readAll(f), "42\nmore");
  fclose(f);
}

TEST(Printer, FileStreamWithoutAStream) {
  MoxFileStreamPrinter missing(u"/nonexistent/folder/file", u"r");
  EXPECT_EQ(missing.stream(), nullptr);
  EXPECT_EQ(missing(u"text %d", 1), -1);
  MoxFileStreamPrinter nullPath(nullptr, u"w");
  EXPECT_EQ(nullPath.stream(), nullptr);
  EXPECT_EQ(nullPath(u"x"), -1);
  MoxFileStreamPrinter nullMode(u"/tmp/never_created_by_mox", nullptr);
  EXPECT_EQ(nullMode.stream(), nullptr);
  EXPECT_NE(access("/tmp/never_created_by_mox", F_OK), 0);
  MoxFileStreamPrinter nullStream(nullptr, true);
  EXPECT_EQ(nullStream(u"x"), -1);
}

TEST(Printer, CallbackGetsUtf8Once) {
  received.clear();
  calls = 0;
  MoxCallbackPrinter p(collect);
  EXPECT_EQ(p(u"%s=%d;", u"n\u00e9", 7), 5);
  EXPECT_EQ(received, "n\xc3\xa9=7;");
  EXPECT_EQ(calls, 1);
  // An empty result calls nothing.
  EXPECT_EQ(p(u""), 0);
  EXPECT_EQ(p(u"%s", u""), 0);
  EXPECT_EQ(p(nullptr), -1);
  EXPECT_EQ(calls, 1);
  MoxCallbackPrinter copy(p);
  EXPECT_EQ(copy(u"c"), 1);
  EXPECT_EQ(received, "n\xc3\xa9=7;c");
}

TEST(Printer, CallbackWithoutAFunction) {
  MoxCallbackPrinter p(nullptr);
  EXPECT_EQ(p(u"%s", u"abc"), 0);
  EXPECT_EQ(p(nullptr), 0);
}

TEST(Printer, CallbackMayPrintAgain) {
  received.clear();
  calls = 0;
  MoxCallbackPrinter p(collectAndReprint);
  reentrant = &p;
  EXPECT_EQ(p(u"outer %s", u"text"), 10);
  EXPECT_EQ(received, "outer text[inner]||");
  reentrant = nullptr;
}

TEST(Printer, StringCollectsInOrder) {
  MoxStringPrinter p;
  EXPECT_EQ(p(u"function %s\n", u"main"), 14);
  EXPECT_EQ(p(u"%d%%", 50), 3);
  EXPECT_EQ(std::u16string(p.c_str()), u"function main\n50%");
  EXPECT_EQ(std::u16string(p.w_str()), u"function main\n50%");
  EXPECT_STREQ(p.a_str(), "function main\n50%");
  EXPECT_EQ(p(u""), 0);
  EXPECT_EQ(p(nullptr), -1);
  EXPECT_EQ(p.text.length(), 17u);
  MoxStringPrinter copy(p);
  p.clear();
  EXPECT_EQ(std::u16string(p.c_str()), u"");
  EXPECT_EQ(std::u16string(copy.c_str()), u"function main\n50%");
  EXPECT_EQ(p(u"%S", "\xc3\xa9"), 1);
  EXPECT_STREQ(p.a_str(), "\xc3\xa9");
  copy = p;
  EXPECT_EQ(std::u16string(copy.c_str()), u"\u00e9");
}
