// The compiler: turns script source into procedures, classes and global
// variables, entered straight into a virtual machine's dictionaries.
//
// One compiler serves one or more compilations. Everything it enters stays in
// the machine, also after a failed compile. Diagnostics go to the printer in
// the scanner's report format; after ten counted errors the compilation
// stops. A compile succeeds only without any counted error.
//
// Code generation targets an accumulator-on-stack machine (see
// interpreter/MoxOpCodes.h): the top stack slot holds the current value,
// OP_PUSH opens a new slot, binary operators combine the slot below the top
// with the top.
#ifndef MOX_COMPILER_H
#define MOX_COMPILER_H

#include <cstdint>
#include <cstdio>

#include "compiler/MoxScanner.h"
#include "core/MoxConfig.h"
#include "core/MoxValue.h"

// Kind of a pending operand: loaded or stored once the code generator knows
// which of the two is needed.
enum MoxVarInfoKind {
  VI_NONE = 0,       // nothing pending (unresolved or erroneous operand)
  VI_ARGUMENT = 1,   // argument slot; "this" is 0 in methods
  VI_TEMPORARY = 2,  // local variable slot
  VI_VARIABLE = 3,   // global or static member, through an MVT_VAR literal
  VI_MEMBER = 4,     // data member of the object in argument 0
  VI_INDEXED = 5,    // container in the slot below, index in the accumulator
  VI_VALUE = 6,      // computed value already in the accumulator
};

struct MoxVarInfo {
  MoxVarInfoKind kind = VI_NONE;
  int32_t index = -1;
};

enum MoxVarAccessType {
  VA_LOAD = 1,
  VA_STORE = 2,
  VA_DUPLICATE = 4,  // OP_DUP2 for VI_INDEXED before a read-modify-write
};

// Deepest nesting of expressions, blocks, statements and literals the
// compiler follows before it stops with "nesting too deep".
enum { MOX_MAX_NESTING = 1000 };
// Deepest chain of included files.
enum { MOX_MAX_INCLUDE_DEPTH = 64 };
// Counted errors after which a compilation stops.
enum { MOX_MAX_ERRORS = 10 };

struct MoxFuncContext;
struct MoxMemberHead;

class MOX_API MoxCompiler {
 public:
  // printer null: the machine's printer.
  explicit MoxCompiler(MoxVirtualMachine& vm, IMoxPrinter* printer = nullptr);
  ~MoxCompiler();
  MoxCompiler(const MoxCompiler&) = delete;
  MoxCompiler& operator=(const MoxCompiler&) = delete;

  bool getShowInfo() const { return showInfo_; }
  void setShowInfo(bool on) { showInfo_ = on; }
  // When set, every finished procedure is handed to it for a listing.
  void setDebugger(MoxDebugger* debugger) { debugger_ = debugger; }

  // Compiles from a caller's stream, which stays open and the caller's.
  bool compile(FILE* stream, const MoxChar* name);
  // Compiles a UTF-16 text.
  bool compile(const MoxChar* text, const MoxChar* name);

 private:
  // Recursive descent: every parsing function carries its grammar rule
  // ("rule -> ...") at its definition.

  // Top level and declarations (MoxCompilerDecl.cpp).
  bool _compileWith(MoxScanner& scanner);
  bool compile();
  bool _doFunction(const MoxChar* name);
  bool _doRegularFunction(const MoxChar* name);
  bool _doMemberFunction(const MoxChar* className);
  bool _doClass();
  bool _doClassHead(const std::u16string& name, MoxClass* cls, bool& forward, MoxClass*& base);
  MoxClass* _newClass(const MoxString& key);
  bool _doClassBody(MoxClass* cls, bool isBase);
  void _doClassMember(MoxClass* cls, bool isBase, MoxVector& objectMembers);
  bool _doMemberHead(MoxClass* cls, MoxMemberHead& head);
  void _doMethodDeclaration(MoxClass* cls, const MoxMemberHead& head);
  void _doStaticMembers(MoxClass* cls, std::u16string name, MoxToken t);
  void _doObjectMembers(MoxClass* cls, const std::u16string& name, MoxToken t, bool isBase,
                        MoxVector& objectMembers);
  bool _doPreproc();
  bool _doInclude();
  bool _doLiteralValue(MoxToken token, MoxValue& out);
  bool _doLiteralElement(MoxToken t, MoxValue& out);
  bool _literalListGoesOn(MoxChar closer, const char* notCharMessage);
  bool _doVectorLiteral(MoxValue& out);
  bool _doDictionaryLiteral(MoxValue& out);
  MoxClass* _findClass(const MoxChar* name);
  int _getIdList(MoxVector& names, const char* terminators);
  // The token stream: lexical errors are reported and skipped, and the
  // stream ends once the compilation is aborted.
  MoxToken _next();
  void _back();
  bool _isChar(MoxToken token, MoxChar ch) const;

  // Diagnostics (MoxCompilerDiagnostics.cpp). Reports are printed as they
  // are met, nothing once the compilation is aborted.
  // Formats message at the scanner's position and prints it, uncounted.
  void _report(const MoxChar* message);
  // Formats message at the scanner's position, prints and counts it.
  void _error(const MoxChar* message);
  void _error(const char* message);
  // Prints and counts the report of a lexical error already formatted.
  void _reportScannerError();
  // Counts an error whose report was already printed.
  void _count();
  // True when found is expected (for TOK_ANY: the character ch); otherwise
  // reports "expected '..', found '..'" and leaves the counting to the caller.
  bool _require(MoxToken expected, MoxToken found, MoxChar ch);
  bool _fetchRequire(MoxToken expected, MoxChar ch);
  // Reads the next token; when it is not the character ch, the error is
  // reported and counted and the result is false.
  bool _expect(MoxChar ch);
  // Enters one nesting level; false (with an error) beyond MOX_MAX_NESTING.
  bool _enter();
  void _leave() { --depth_; }
  void _info(const MoxChar* format, const MoxChar* a, const MoxChar* b = nullptr);

  // Function bodies and statements (MoxCompilerStmt.cpp).
  // cls null: a global function. isStatic: a static member function, which
  // has no "this".
  // Returns the procedure as an MVT_BYTECODE value, or null when the
  // parameter list is not closed.
  MoxValue _codeFunctionBody(const MoxChar* name, MoxClass* cls, bool isStatic);
  bool _codeParameterList(MoxFuncContext& ctx);
  void _codeMethodEpilogue(MoxFuncContext& ctx, const MoxChar* name, MoxClass* cls);
  void _codeBlock(MoxFuncContext& ctx);
  void _codeStatement(MoxFuncContext& ctx);
  void _codeIf(MoxFuncContext& ctx);
  void _codeWhile(MoxFuncContext& ctx);
  void _codeDoWhile(MoxFuncContext& ctx);
  void _codeFor(MoxFuncContext& ctx);
  void _codeBreak(MoxFuncContext& ctx);
  void _codeContinue(MoxFuncContext& ctx);
  void _codeReturn(MoxFuncContext& ctx);
  void _codeCondition(MoxFuncContext& ctx);
  uint32_t _codeLoopBody(MoxFuncContext& ctx, uint32_t exits, uint32_t continueAt);
  void _fixupRefChain(MoxFuncContext& ctx, uint32_t chain, uint32_t target);
  // Emits a branch with the given operand; returns the operand's offset.
  uint32_t _codeBranch(MoxFuncContext& ctx, uint8_t opcode, uint32_t operand);
  void _codeIndexedOpcode(MoxFuncContext& ctx, uint8_t opcode, uint32_t index);
  void _codeOp(MoxFuncContext& ctx, uint8_t opcode);
  void _codeLiteral(MoxFuncContext& ctx, uint32_t index);
  uint32_t _codeOffset(MoxFuncContext& ctx) const;
  // Starts a line-table row for the code emitted next when the source
  // position of the last consumed token differs from the current row's.
  void _noteLine(MoxFuncContext& ctx);
  // Called for every token delivered; keeps the positions below current.
  void _trackToken();

  // Expressions and name resolution (MoxCompilerExpr.cpp).
  void _codeExpr(MoxFuncContext& ctx, MoxVarInfo& vi);
  void _codeExpr1(MoxFuncContext& ctx, MoxVarInfo& vi);
  void _codeExpr2(MoxFuncContext& ctx, MoxVarInfo& vi);
  void _codeExpr3(MoxFuncContext& ctx, MoxVarInfo& vi);
  void _codeLogical(MoxFuncContext& ctx, MoxVarInfo& vi, int level);
  void _codeBinary(MoxFuncContext& ctx, MoxVarInfo& vi, int minLevel);
  void _codeExpr14(MoxFuncContext& ctx, MoxVarInfo& vi);
  void _codeExpr15(MoxFuncContext& ctx, MoxVarInfo& vi);
  void _codePostfix(MoxFuncContext& ctx, MoxVarInfo& vi);
  void _codeAssign(MoxFuncContext& ctx, MoxVarInfo& vi, MoxToken op);
  void _codePreIncDec(MoxFuncContext& ctx, MoxVarInfo& vi, uint8_t opcode);
  void _codePostIncDec(MoxFuncContext& ctx, MoxVarInfo& vi, uint8_t opcode);
  void _codeNew(MoxFuncContext& ctx, MoxVarInfo& vi);
  void _codeDelete(MoxFuncContext& ctx, MoxVarInfo& vi);
  void _codePrimary(MoxFuncContext& ctx, MoxVarInfo& vi);
  void _codeFunctionCall(MoxFuncContext& ctx, MoxVarInfo& vi);
  void _codeArguments(MoxFuncContext& ctx, int& count);
  void _codeMethodCall(MoxFuncContext& ctx, MoxVarInfo& vi, const MoxChar* selector);
  void _codeIndexedOp(MoxFuncContext& ctx, MoxVarInfo& vi);
  void _codeScoped(MoxFuncContext& ctx, MoxVarInfo& vi, const MoxChar* className);
  void _findVariable(MoxFuncContext& ctx, MoxVarInfo& vi, const MoxChar* name, bool skipMembers);
  // True when the name was resolved as a member of the procedure's class.
  bool _findClassVariable(MoxFuncContext& ctx, MoxVarInfo& vi, const MoxChar* name);
  void _codeRValue(MoxFuncContext& ctx, MoxVarInfo& vi);
  void _codeVarInfo(MoxFuncContext& ctx, MoxVarInfo& vi, int access);
  bool _checkLValue(const MoxVarInfo& vi);
  // Literal pool.
  uint32_t _addLiteral(MoxFuncContext& ctx, const MoxValue& value);
  uint32_t _varLiteral(MoxFuncContext& ctx, MoxDictionaryEntry* entry);
  uint32_t _selectorLiteral(MoxFuncContext& ctx, const MoxChar* selector);

  MoxScanner* scanner_;
  MoxDictionary& symbols_;
  MoxDictionary& classes_;
  MoxVirtualMachine& vm_;
  IMoxPrinter* printer_;
  MoxDebugger* debugger_;
  bool showInfo_;
  int errors_;
  int depth_;
  // Set when the compilation must stop at once (error limit, nesting bound):
  // the token stream then ends and further reports are suppressed.
  bool aborted_;

  // Source position of the last token consumed (a pushed-back token is not
  // consumed), for the line tables. prevPos_ is the position before it, to
  // which a push-back returns.
  struct SourcePos {
    int32_t line = 0;
    uint32_t source = 0;
  };
  SourcePos tokPos_;
  SourcePos prevPos_;
  SourcePos lastPos_;
  bool redeliver_ = false;
  // Scanner whose source name was last entered, to intern names only when
  // the source changes.
  const MoxChar* posName_ = nullptr;
  unsigned posDepth_ = 0;
};

#endif
