// The call trace of a run-time error: collected while a failure unwinds, so
// that running code pays nothing for it.
#include <string>

#include "core/MoxBuffer.h"
#include "core/MoxDictionary.h"
#include "interpreter/MoxInterpreter.h"
#include "interpreter/MoxInterpreterImpl.h"
#include "interpreter/MoxOpCodes.h"
#include "vm/MoxLineTable.h"
#include "vm/MoxNameCheck.h"
#include "vm/MoxVirtualMachine.h"

namespace {

// How code compiled from a text, which has no file name, is shown.
const MoxChar kTextSource[] = u"<text>";

std::u16string decimal(int32_t n) {
  std::string s = std::to_string(n);
  return std::u16string(s.begin(), s.end());
}

}  // namespace

bool MoxInterpreter::startTrace() {
  // Each failure adds its own report; a trace whose error is no longer the
  // newest belongs to a failure that something swallowed (a destructor).
  const bool fresh = errorTrace_.empty() || errors_.length() != traceErrorLength_;
  if (fresh) errorTrace_.clear();
  return fresh;
}

void MoxInterpreter::noteNativeFrame(MoxNativeFunction fn) {
  const bool fresh = startTrace();
  TraceFrame frame;
  frame.name = moxNativeName(vm_, fn);
  if (frame.name.empty()) frame.name = u"<native>";
  frame.line = 0;
  errorTrace_.push_back(frame);
  traceErrorLength_ = errors_.length();
  // A new failure, with every activation still in place: a debugger (the
  // machine's error hook) looks at it now.
  if (fresh)
    if (const auto& hook = vm_.errorHook()) hook();
}

void MoxInterpreter::noteFailure(uint32_t pc) {
  const unsigned int errorStart = errorTrace_.empty() ? 0 : traceErrorLength_;
  const bool fresh = startTrace();
  const MoxLineTables& tables = vm_.lineTables();
  bool innermost = true;
  for (MoxProcInfo* rec = procInfo_; rec; rec = rec->parent_) {
    // The byte before the program counter belongs to the running
    // instruction (or, in a caller, to its call or send).
    const uint32_t next = innermost ? pc : rec->resumePc_;
    const uint32_t at = next > 0 ? next - 1 : 0;
    TraceFrame frame;
    frame.name = moxProcedureName(rec->proc_);
    frame.line = 0;
    const MoxChar* source = nullptr;
    if (tables.lookup(rec->proc_, at, &source, &frame.line)) frame.source = source;
    if (innermost && fresh) frame.note = nullGlobalNote(rec->proc_, at, errorStart);
    errorTrace_.push_back(frame);
    innermost = false;
    if (rec->kind_ == MoxProcInfo::kEntry) break;
  }
  traceErrorLength_ = errors_.length();
  if (fresh)
    if (const auto& hook = vm_.errorHook()) hook();
}

std::u16string MoxInterpreter::nullGlobalNote(MoxVector* proc, uint32_t pc, size_t errorStart) {
  std::u16string report = errors_.c_str();
  if (errorStart > report.size() || report.find(u"MVT_NULL", errorStart) == std::u16string::npos)
    return std::u16string();
  const MoxLineTables& tables = vm_.lineTables();
  const MoxChar* failSource = nullptr;
  int32_t failLine = 0;
  MoxBuffer* code = moxProcCode(proc);
  if (!code || !tables.lookup(proc, pc, &failSource, &failLine)) return std::u16string();
  // The null most likely came from the last global this line read before
  // the failing instruction.
  std::u16string found;
  unsigned width = 1;
  MoxInstruction ins;
  for (size_t at = 0; at < pc && at < code->size(); at += ins.length) {
    if (!moxDecodeInstruction(code->data(), code->size(), at, &width, &ins)) break;
    if (ins.opcode != OP_REF || ins.operand >= proc->size()) continue;
    const MoxChar* source = nullptr;
    int32_t line = 0;
    if (!tables.lookup(proc, uint32_t(at), &source, &line) || line != failLine ||
        std::u16string(source) != failSource)
      continue;
    const MoxValue& lit = (*proc)[ins.operand];
    if (lit.type() != MVT_VAR || !lit.ptr()) continue;
    MoxDictionaryEntry* entry = static_cast<MoxDictionaryEntry*>(lit.ptr());
    if (entry->getKey() && moxIsNeverAssigned(vm_, entry)) found = entry->getKey()->c_str();
  }
  if (found.empty()) return found;
  return u"'" + found + u"' is null (never assigned)";
}

void MoxInterpreter::formatErrorTrace(MoxString& out) const {
  std::u16string text;
  for (const TraceFrame& frame : errorTrace_) {
    if (frame.line > 0) {
      text += frame.source.empty() ? std::u16string(kTextSource) : frame.source;
      text += u":" + decimal(frame.line) + u": ";
    }
    text += u"in " + frame.name;
    if (!frame.note.empty()) text += u": " + frame.note;
    text += u"\n";
  }
  out += text.c_str();
}

void MoxInterpreter::noteLine(const MoxVector* proc, uint32_t pc) {
  const MoxChar* source = nullptr;
  int32_t line = 0;
  if (!vm_.lineTables().lookup(const_cast<MoxVector*>(proc), pc, &source, &line) || line <= 0)
    return;
  if (proc == lineProc_ && line == line_) return;
  lineProc_ = proc;
  line_ = line;
  if (const auto& hook = vm_.lineHook()) hook(source, line);
}
