// Compiler: function bodies, statements, branch patching and instruction
// emission.
#include "compiler/MoxCompilerInternal.h"
#include "interpreter/MoxOpCodes.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

#include "debugger/MoxDebugger.h"

// ---------------------------------------------------------------------------
// Emission

uint32_t MoxCompiler::_codeOffset(MoxFuncContext& ctx) const { return ctx.code->size(); }

void MoxCompiler::_noteLine(MoxFuncContext& ctx) {
  const uint32_t at = _codeOffset(ctx);
  if (!ctx.lines.empty()) {
    MoxLineRow& last = ctx.lines.back();
    if (last.line == lastPos_.line && last.source == lastPos_.source) return;
    // Nothing was emitted under the last row: it takes the new position.
    if (last.offset == at) {
      last.line = lastPos_.line;
      last.source = lastPos_.source;
      if (ctx.lines.size() > 1) {
        const MoxLineRow& before = ctx.lines[ctx.lines.size() - 2];
        if (before.line == last.line && before.source == last.source) ctx.lines.pop_back();
      }
      return;
    }
  }
  ctx.lines.push_back(MoxLineRow{at, lastPos_.line, lastPos_.source});
}

void MoxCompiler::_codeOp(MoxFuncContext& ctx, uint8_t opcode) {
  _noteLine(ctx);
  ctx.code->push_back(opcode);
}

void MoxCompiler::_codeIndexedOpcode(MoxFuncContext& ctx, uint8_t opcode, uint32_t index) {
  _noteLine(ctx);
  uint8_t bytes[MOX_MAX_INDEXED_SIZE];
  size_t n = moxEncodeIndexed(bytes, opcode, index);
  for (size_t i = 0; i < n; ++i) ctx.code->push_back(bytes[i]);
}

void MoxCompiler::_codeLiteral(MoxFuncContext& ctx, uint32_t index) {
  _codeIndexedOpcode(ctx, OP_LIT, index);
}

uint32_t MoxCompiler::_codeBranch(MoxFuncContext& ctx, uint8_t opcode, uint32_t operand) {
  _noteLine(ctx);
  ctx.code->push_back(opcode);
  uint32_t at = _codeOffset(ctx);
  ctx.code->push_backDW(operand);
  return at;
}

void MoxCompiler::_fixupRefChain(MoxFuncContext& ctx, uint32_t chain, uint32_t target) {
  // Links always point backwards (each branch names the one emitted before
  // it), so the walk ends; the bound check keeps a damaged chain harmless.
  while (chain != 0 && chain + 4 <= ctx.code->size()) {
    uint32_t link = ctx.code->getDW(chain);
    ctx.code->setDW(chain, target);
    if (link >= chain) break;
    chain = link;
  }
}

// ---------------------------------------------------------------------------
// Function bodies

// function body -> parameters '{' block   (after the '(' of the header)
MoxValue MoxCompiler::_codeFunctionBody(const MoxChar* name, MoxClass* cls, bool isStatic) {
  MoxFuncContext ctx;
  ctx.lookupClass = cls;
  ctx.isStatic = isStatic;
  if (cls != nullptr && !isStatic) ctx.arguments.push_back(u"this");
  if (!_codeParameterList(ctx)) return MoxValue();

  ctx.proc = new MoxVector();
  ctx.holder = MoxValue(ctx.proc, true);
  ctx.code = new MoxBuffer();
  ctx.proc->push_back(MoxValue(ctx.code));
  // The class holds its methods, so a counted reference back to it would
  // form a cycle that keeps both alive forever; the class outlives its
  // procedures anyway.
  ctx.proc->push_back(cls != nullptr ? MoxValue(cls, true) : MoxValue());
  _addLiteral(ctx, MoxValue(new MoxString(name)));  // element 2, also a selector

  if (!ctx.temporaries.empty()) _codeIndexedOpcode(ctx, OP_TSPACE, uint32_t(ctx.temporaries.size()));
  _codeOp(ctx, OP_PUSH);
  _expect('{');
  _codeBlock(ctx);
  if (cls != nullptr && !isStatic) _codeMethodEpilogue(ctx, name, cls);
  _codeOp(ctx, OP_RETURN);
  ctx.proc->shrink();
  ctx.code->shrink();
  vm_.lineTables().add(ctx.proc, std::move(ctx.lines));
  vm_.lineTables().setNames(ctx.proc, MoxProcNames{ctx.arguments, ctx.temporaries});
  if (debugger_ != nullptr) debugger_->decodeProcedure(ctx.proc);
  return ctx.holder;
}

// parameters -> [ names ] [ ';' [ names ] ] ')'
// The names after ';' are the function's locals. False (counted) when the
// list is not closed.
bool MoxCompiler::_codeParameterList(MoxFuncContext& ctx) {
  MoxVector names;
  _getIdList(names, ";)");
  MoxToken t = _next();
  if (_isChar(t, ';')) {
    MoxVector temps;
    _getIdList(temps, ")");
    for (unsigned i = 0; i < temps.size(); ++i)
      ctx.temporaries.push_back(static_cast<MoxString*>(temps[i])->c_str());
    t = _next();
  }
  for (unsigned i = 0; i < names.size(); ++i)
    ctx.arguments.push_back(static_cast<MoxString*>(names[i])->c_str());
  if (_require(TOK_ANY, t, ')')) return true;
  _count();
  return false;
}

// The end of an object method: a constructor returns the object, and the
// destructor of a derived class runs the base class's destructor.
void MoxCompiler::_codeMethodEpilogue(MoxFuncContext& ctx, const MoxChar* name, MoxClass* cls) {
  std::u16string n = name;
  MoxString* cn = cls->getClassName();
  if (cn != nullptr && n == cn->c_str()) {
    _codeIndexedOpcode(ctx, OP_AREF, 0);
  } else if (n == kMoxDestructorName && cls->getBaseClass() != nullptr) {
    // The interpreter sends a selector starting with "BC_" to the base class.
    _codeOp(ctx, OP_PUSH);
    _codeIndexedOpcode(ctx, OP_AREF, 0);
    _codeOp(ctx, OP_PUSH);
    _codeLiteral(ctx, _addLiteral(ctx, MoxValue(new MoxString(u"BC_dtor"))));
    _codeOp(ctx, OP_SEND);
    _codeOp(ctx, 1);
  }
}

// ---------------------------------------------------------------------------
// Statements

// block -> { statement | directive } '}'   (after the '{')
void MoxCompiler::_codeBlock(MoxFuncContext& ctx) {
  bool any = false;
  for (;;) {
    // Directives may stand between statements, also before the first one.
    MoxToken t = _next();
    if (t == TOK_EOF) {
      _error("unexpected EOF in block");
      return;
    }
    if (_isChar(t, '}')) {
      if (!any) _codeOp(ctx, OP_NIL);  // an empty block yields null
      return;
    }
    if (_isChar(t, '#')) {
      if (_doPreproc()) continue;
      // The directive stopped: its last token is read again as a statement.
    }
    _back();
    _codeStatement(ctx);
    any = true;
  }
}

// statement -> if | while | do | for | 'break' ';' | 'continue' ';'
//            | 'return' expr ';' | ( 'TRON' | 'TROFF' | 'TRSTEP' ) ';'
//            | '{' block | ';' | expr ';'
void MoxCompiler::_codeStatement(MoxFuncContext& ctx) {
  if (!_enter()) {
    _leave();
    return;
  }
  MoxToken t = _next();
  switch (t) {
    case TOK_IF: _codeIf(ctx); break;
    case TOK_WHILE: _codeWhile(ctx); break;
    case TOK_DO: _codeDoWhile(ctx); break;
    case TOK_FOR: _codeFor(ctx); break;
    case TOK_BREAK: _codeBreak(ctx); break;
    case TOK_CONTINUE: _codeContinue(ctx); break;
    case TOK_RETURN: _codeReturn(ctx); break;
    case TOK_TRON:
      _codeOp(ctx, OP_TRON);
      _expect(';');
      break;
    case TOK_TROFF:
      _codeOp(ctx, OP_TROFF);
      _expect(';');
      break;
    case TOK_TRSTEP:
      _codeOp(ctx, OP_TRSTEP);
      _expect(';');
      break;
    default:
      if (_isChar(t, '{')) {
        _codeBlock(ctx);
      } else if (!_isChar(t, ';')) {
        _back();
        MoxVarInfo vi;
        _codeExpr(ctx, vi);
        _expect(';');
      }
  }
  _leave();
}

// condition -> '(' expr ')'
void MoxCompiler::_codeCondition(MoxFuncContext& ctx) {
  _expect('(');
  MoxVarInfo vi;
  _codeExpr(ctx, vi);
  _expect(')');
}

// if -> 'if' condition statement [ 'else' statement ]
// An else belongs to the nearest if that has none yet.
void MoxCompiler::_codeIf(MoxFuncContext& ctx) {
  _codeCondition(ctx);
  uint32_t chainA = _codeBranch(ctx, OP_BRF, 0);
  _codeStatement(ctx);
  MoxToken t = _next();
  if (t == TOK_ELSE) {
    uint32_t chainB = _codeBranch(ctx, OP_BR, 0);
    _fixupRefChain(ctx, chainA, _codeOffset(ctx));
    _codeStatement(ctx);
    _fixupRefChain(ctx, chainB, _codeOffset(ctx));
  } else {
    _back();
    _fixupRefChain(ctx, chainA, _codeOffset(ctx));
  }
}

// Compiles a loop body with the loop's exit chain and continue target on the
// loop stacks, so that break and continue refer to the innermost loop.
// Returns the exit chain, grown by the body's breaks.
uint32_t MoxCompiler::_codeLoopBody(MoxFuncContext& ctx, uint32_t exits, uint32_t continueAt) {
  ctx.breaks.push_back(exits);
  ctx.continues.push_back(continueAt);
  _codeStatement(ctx);
  exits = ctx.breaks.back();
  ctx.breaks.pop_back();
  ctx.continues.pop_back();
  return exits;
}

// while -> 'while' condition statement
// Code: condition, OP_BRF out, body, OP_BR back to the condition.
void MoxCompiler::_codeWhile(MoxFuncContext& ctx) {
  uint32_t start = _codeOffset(ctx);
  _codeCondition(ctx);
  uint32_t exits = _codeBranch(ctx, OP_BRF, 0);
  exits = _codeLoopBody(ctx, exits, start);
  _codeBranch(ctx, OP_BR, start);
  _fixupRefChain(ctx, exits, _codeOffset(ctx));
}

// do -> 'do' statement 'while' condition ';'
// continue goes to the top of the body, not to the condition.
void MoxCompiler::_codeDoWhile(MoxFuncContext& ctx) {
  uint32_t start = _codeOffset(ctx);
  uint32_t exits = _codeLoopBody(ctx, 0, start);
  if (!_fetchRequire(TOK_WHILE, 0)) _count();
  _codeCondition(ctx);
  _expect(';');
  _codeBranch(ctx, OP_BRT, start);
  _fixupRefChain(ctx, exits, _codeOffset(ctx));
}

// for -> 'for' '(' expr ';' expr ';' expr ')' statement
// The parts are compiled in source order, so the code runs: init, test
// (OP_BRT into the body, OP_BR out), step, OP_BR to the test, body, OP_BR to
// the step.
void MoxCompiler::_codeFor(MoxFuncContext& ctx) {
  _expect('(');
  MoxVarInfo vi;
  _codeExpr(ctx, vi);
  _expect(';');
  uint32_t testStart = _codeOffset(ctx);
  vi = MoxVarInfo();
  _codeExpr(ctx, vi);
  uint32_t bodyChain = _codeBranch(ctx, OP_BRT, 0);
  uint32_t exitChain = _codeBranch(ctx, OP_BR, 0);
  _expect(';');
  uint32_t stepStart = _codeOffset(ctx);
  vi = MoxVarInfo();
  _codeExpr(ctx, vi);
  _expect(')');
  _codeBranch(ctx, OP_BR, testStart);
  _fixupRefChain(ctx, bodyChain, _codeOffset(ctx));
  uint32_t exits = _codeLoopBody(ctx, exitChain, stepStart);
  _codeBranch(ctx, OP_BR, stepStart);
  _fixupRefChain(ctx, exits, _codeOffset(ctx));
}

// break -> 'break' ';'
// The branch joins the innermost loop's exit chain, patched at its end.
void MoxCompiler::_codeBreak(MoxFuncContext& ctx) {
  if (ctx.breaks.empty()) {
    _error("break outside of loop found");
  } else {
    ctx.breaks.back() = _codeBranch(ctx, OP_BR, ctx.breaks.back());
  }
  _expect(';');
}

// continue -> 'continue' ';'
void MoxCompiler::_codeContinue(MoxFuncContext& ctx) {
  if (ctx.continues.empty()) _error("continue outside of loop found");
  else _codeBranch(ctx, OP_BR, ctx.continues.back());
  _expect(';');
}

// return -> 'return' expr ';'   (the expression is not optional)
void MoxCompiler::_codeReturn(MoxFuncContext& ctx) {
  MoxVarInfo vi;
  _codeExpr(ctx, vi);
  _codeOp(ctx, OP_RETURN);
  _expect(';');
}
