// Compiler diagnostics: formatting, printing and counting of errors, the
// expected-token checks, the nesting bound and information lines.
//
// Every report is formatted by the scanner at its current position and
// printed through the compiler's printer. Printing and counting are separate
// steps because some callers report a fault that their caller counts.
#include <cstring>
#include <string>

#include "compiler/MoxCompilerInternal.h"
#include "core/MoxUtf8.h"
#include "vm/MoxPrinter.h"

void MoxCompiler::_count() {
  ++errors_;
  // Past the limit nothing more is read: the token stream ends, every rule
  // unwinds at once and no further report is printed.
  if (errors_ >= MOX_MAX_ERRORS) aborted_ = true;
}

void MoxCompiler::_report(const MoxChar* message) {
  if (aborted_) return;
  scanner_->parseError(message);
  (*printer_)(u"%s", scanner_->getTokenString());
}

void MoxCompiler::_error(const MoxChar* message) {
  _report(message);
  _count();
}

void MoxCompiler::_error(const char* message) {
  std::u16string m;
  moxUtf8Decode(message, strlen(message), m);
  _error(m.c_str());
}

void MoxCompiler::_reportScannerError() {
  if (!aborted_) (*printer_)(u"%s", scanner_->getTokenString());
  _count();
}

bool MoxCompiler::_require(MoxToken expected, MoxToken found, MoxChar ch) {
  if (found == expected && (expected != TOK_ANY || scanner_->getChar() == ch)) return true;
  // The found token is named by its kind ("<ident>"), never by its text.
  std::u16string m = u"expected '";
  if (expected == TOK_ANY) m += ch;
  else m += scanner_->getTokenName(expected);
  m += u"', found '";
  m += scanner_->getTokenName(found);
  m += u"'";
  _report(m.c_str());
  return false;
}

bool MoxCompiler::_fetchRequire(MoxToken expected, MoxChar ch) {
  return _require(expected, _next(), ch);
}

bool MoxCompiler::_expect(MoxChar ch) {
  if (_fetchRequire(TOK_ANY, ch)) return true;
  _count();
  return false;
}

bool MoxCompiler::_enter() {
  if (++depth_ <= MOX_MAX_NESTING) return true;
  _error("nesting too deep");
  // Unwinding a thousand levels would otherwise report a thousand follow-up
  // errors; the compilation ends here.
  aborted_ = true;
  return false;
}

void MoxCompiler::_info(const MoxChar* format, const MoxChar* a, const MoxChar* b) {
  if (!showInfo_) return;
  if (b != nullptr) (*printer_)(format, a, b);
  else (*printer_)(format, a);
}
