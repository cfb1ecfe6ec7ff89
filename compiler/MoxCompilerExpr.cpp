// Compiler: expressions, assignment, calls and sends, and name resolution.
#include "compiler/MoxCompilerInternal.h"
#include "interpreter/MoxOpCodes.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

namespace {

// Binary operators of the levels 6 (|) to 13 (* / %): the level of the
// token, or 0 when it is none of them; *op receives the opcode.
int binaryLevel(MoxToken t, MoxChar ch, uint8_t* op) {
  switch (t) {
    case TOK_EQ: *op = OP_EQ; return 9;
    case TOK_NE: *op = OP_NE; return 9;
    case TOK_LE: *op = OP_LE; return 10;
    case TOK_GE: *op = OP_GE; return 10;
    case TOK_SHL: *op = OP_SHL; return 11;
    case TOK_SHR: *op = OP_SHR; return 11;
    case TOK_ANY: break;
    default: return 0;
  }
  switch (ch) {
    case '|': *op = OP_BOR; return 6;
    case '^': *op = OP_XOR; return 7;
    case '&': *op = OP_BAND; return 8;
    case '<': *op = OP_LT; return 10;
    case '>': *op = OP_GT; return 10;
    case '+': *op = OP_ADD; return 12;
    case '-': *op = OP_SUB; return 12;
    case '*': *op = OP_MUL; return 13;
    case '/': *op = OP_DIV; return 13;
    case '%': *op = OP_REM; return 13;
    default: return 0;
  }
}

// Opcode of a compound assignment token, 0 for any other token.
uint8_t compoundOpcode(MoxToken t) {
  switch (t) {
    case TOK_ADD_ASSIGN: return OP_ADD;
    case TOK_SUB_ASSIGN: return OP_SUB;
    case TOK_MUL_ASSIGN: return OP_MUL;
    case TOK_DIV_ASSIGN: return OP_DIV;
    case TOK_REM_ASSIGN: return OP_REM;
    case TOK_AND_ASSIGN: return OP_BAND;
    case TOK_OR_ASSIGN: return OP_BOR;
    case TOK_XOR_ASSIGN: return OP_XOR;
    case TOK_NOT_ASSIGN: return OP_BNOT;
    case TOK_SHL_ASSIGN: return OP_SHL;
    case TOK_SHR_ASSIGN: return OP_SHR;
    default: return 0;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Literal pool

uint32_t MoxCompiler::_addLiteral(MoxFuncContext& ctx, const MoxValue& value) {
  ctx.proc->push_back(value);
  uint32_t index = ctx.proc->size() - 1;
  if (value.getType() == MVT_STRING) {
    MoxString* s = static_cast<MoxString*>(value);
    ctx.strings.emplace(s->c_str(), index);  // the first string of a text wins
  }
  return index;
}

uint32_t MoxCompiler::_varLiteral(MoxFuncContext& ctx, MoxDictionaryEntry* entry) {
  auto it = ctx.variables.find(entry);
  if (it != ctx.variables.end()) return it->second;
  uint32_t index = _addLiteral(ctx, MoxValue(entry));
  ctx.variables.emplace(entry, index);
  return index;
}

uint32_t MoxCompiler::_selectorLiteral(MoxFuncContext& ctx, const MoxChar* selector) {
  auto it = ctx.strings.find(selector);
  if (it != ctx.strings.end()) return it->second;
  return _addLiteral(ctx, MoxValue(new MoxString(selector)));
}

// ---------------------------------------------------------------------------
// Pending operands

void MoxCompiler::_codeVarInfo(MoxFuncContext& ctx, MoxVarInfo& vi, int access) {
  uint32_t index = uint32_t(vi.index);
  if (access & VA_DUPLICATE) {
    if (vi.kind == VI_INDEXED) _codeOp(ctx, OP_DUP2);
  }
  if (access & VA_LOAD) {
    switch (vi.kind) {
      case VI_ARGUMENT: _codeIndexedOpcode(ctx, OP_AREF, index); break;
      case VI_TEMPORARY: _codeIndexedOpcode(ctx, OP_TREF, index); break;
      case VI_VARIABLE: _codeIndexedOpcode(ctx, OP_REF, index); break;
      case VI_MEMBER: _codeIndexedOpcode(ctx, OP_MREF, index); break;
      case VI_INDEXED: _codeOp(ctx, OP_VREF); break;
      default: break;
    }
  }
  if (access & VA_STORE) {
    switch (vi.kind) {
      case VI_ARGUMENT: _codeIndexedOpcode(ctx, OP_ASET, index); break;
      case VI_TEMPORARY: _codeIndexedOpcode(ctx, OP_TSET, index); break;
      case VI_VARIABLE: _codeIndexedOpcode(ctx, OP_SET, index); break;
      case VI_MEMBER: _codeIndexedOpcode(ctx, OP_MSET, index); break;
      case VI_INDEXED: _codeOp(ctx, OP_VSET); break;
      default: break;
    }
  }
}

void MoxCompiler::_codeRValue(MoxFuncContext& ctx, MoxVarInfo& vi) {
  _codeVarInfo(ctx, vi, VA_LOAD);
  vi.kind = VI_VALUE;
  vi.index = -1;
}

bool MoxCompiler::_checkLValue(const MoxVarInfo& vi) {
  if (vi.kind != VI_NONE && vi.kind != VI_VALUE) return true;
  _report(u"lvalue expected");
  return false;
}

// ---------------------------------------------------------------------------
// Precedence levels, loosest first:
//   1 ,   2 = op= =>   3 ?:   4 ||   5 &&   6 |   7 ^   8 &   9 == !=
//   10 < <= > >=   11 << >>   12 + -   13 * / %   14 prefix   15 postfix
// Levels 2 and 3 group to the right, 4 to 13 to the left. Each rule leaves
// its operand pending in vi; every operator loads its operands first.

// expr -> expr1   (its value loaded into the accumulator)
void MoxCompiler::_codeExpr(MoxFuncContext& ctx, MoxVarInfo& vi) {
  _codeExpr1(ctx, vi);
  _codeRValue(ctx, vi);
}

// expr1 -> expr2 { ',' expr2 }   (level 1: the value is the last one)
void MoxCompiler::_codeExpr1(MoxFuncContext& ctx, MoxVarInfo& vi) {
  _codeExpr2(ctx, vi);
  MoxToken t = _next();
  if (_isChar(t, ',')) {
    while (_isChar(t, ',')) {
      _codeRValue(ctx, vi);
      vi = MoxVarInfo();
      _codeExpr2(ctx, vi);
      t = _next();
    }
    _codeRValue(ctx, vi);
  }
  _back();
}

// expr2 -> expr3 [ ( '=' | '=>' | op'=' ) expr1 ]   (level 2: assignment)
// The right side is a level-1 expression, so "a = b, c" assigns c.
void MoxCompiler::_codeExpr2(MoxFuncContext& ctx, MoxVarInfo& vi) {
  // Every nesting of expressions (parentheses, arguments, indices,
  // assignments, conditionals) passes through here.
  if (!_enter()) {
    _leave();
    vi = MoxVarInfo();
    return;
  }
  _codeExpr3(ctx, vi);
  MoxToken t = _next();
  if (_isChar(t, '=') || t == TOK_REF_ASSIGN || compoundOpcode(t) != 0) _codeAssign(ctx, vi, t);
  else _back();
  _leave();
}

// expr3 -> expr4 [ '?' expr1 ':' expr1 ]   (level 3: conditional)
void MoxCompiler::_codeExpr3(MoxFuncContext& ctx, MoxVarInfo& vi) {
  _codeLogical(ctx, vi, 4);
  MoxToken t = _next();
  if (!_isChar(t, '?')) {
    _back();
    return;
  }
  _codeRValue(ctx, vi);
  uint32_t elseChain = _codeBranch(ctx, OP_BRF, 0);
  MoxVarInfo branch;
  _codeExpr1(ctx, branch);
  _codeRValue(ctx, branch);
  _expect(':');
  uint32_t endChain = _codeBranch(ctx, OP_BR, 0);
  _fixupRefChain(ctx, elseChain, _codeOffset(ctx));
  branch = MoxVarInfo();
  _codeExpr1(ctx, branch);
  _codeRValue(ctx, branch);
  _fixupRefChain(ctx, endChain, _codeOffset(ctx));
  vi.kind = VI_VALUE;
  vi.index = -1;
}

// expr4 -> expr5 { '||' expr5 }   (level 4, OP_BRT)
// expr5 -> expr6 { '&&' expr6 }   (level 5, OP_BRF)
// Every operand but the last branches to the end of the whole run, leaving
// its value as the result: no conversion to 0 or 1.
void MoxCompiler::_codeLogical(MoxFuncContext& ctx, MoxVarInfo& vi, int level) {
  MoxToken op = level == 4 ? TOK_OR : TOK_AND;
  if (level == 4) _codeLogical(ctx, vi, 5);
  else _codeBinary(ctx, vi, 6);
  uint32_t chain = 0;
  bool any = false;
  for (;;) {
    MoxToken t = _next();
    if (t != op) {
      _back();
      break;
    }
    any = true;
    _codeRValue(ctx, vi);
    chain = _codeBranch(ctx, level == 4 ? OP_BRT : OP_BRF, chain);
    vi = MoxVarInfo();
    if (level == 4) _codeLogical(ctx, vi, 5);
    else _codeBinary(ctx, vi, 6);
  }
  if (any) {
    _codeRValue(ctx, vi);
    _fixupRefChain(ctx, chain, _codeOffset(ctx));
  }
}

// exprN -> exprN+1 { opN exprN+1 }   for N = minLevel .. 13, where
//   op6 '|'  op7 '^'  op8 '&'  op9 '==' '!='  op10 '<' '<=' '>' '>='
//   op11 '<<' '>>'  op12 '+' '-'  op13 '*' '/' '%'   (see binaryLevel)
// By precedence climbing: the left operand, then every operator of at least
// minLevel with its right operand of a higher level. The recursion follows
// the levels, not the input.
void MoxCompiler::_codeBinary(MoxFuncContext& ctx, MoxVarInfo& vi, int minLevel) {
  _codeExpr14(ctx, vi);
  for (;;) {
    MoxToken t = _next();
    uint8_t op = 0;
    int level = binaryLevel(t, t == TOK_ANY ? scanner_->getChar() : 0, &op);
    if (level == 0 || level < minLevel) {
      _back();
      return;
    }
    _codeRValue(ctx, vi);
    _codeOp(ctx, OP_PUSH);
    MoxVarInfo right;
    if (level < 13) _codeBinary(ctx, right, level + 1);
    else _codeExpr14(ctx, right);
    _codeRValue(ctx, right);
    _codeOp(ctx, op);
    vi.kind = VI_VALUE;
    vi.index = -1;
  }
}

// expr14 -> 'new' new | 'delete' primary | ( '++' | '--' | '!' | '-' | '~' ) expr15
//         | expr15   (level 14: prefix operators)
// The operand is a postfix expression, so prefix operators do not stack:
// "- -x" is an error.
void MoxCompiler::_codeExpr14(MoxFuncContext& ctx, MoxVarInfo& vi) {
  MoxToken t = _next();
  uint8_t op = 0;
  switch (t) {
    case TOK_NEW: _codeNew(ctx, vi); return;
    case TOK_DELETE: _codeDelete(ctx, vi); return;
    case TOK_INC:
    case TOK_DEC:
      _codeExpr15(ctx, vi);
      _codePreIncDec(ctx, vi, t == TOK_INC ? OP_INC : OP_DEC);
      return;
    case TOK_ANY:
      if (_isChar(t, '!')) op = OP_NOT;
      else if (_isChar(t, '-')) op = OP_NEG;
      else if (_isChar(t, '~')) op = OP_BNOT;
      break;
    default: break;
  }
  if (op == 0) {
    _back();
    _codeExpr15(ctx, vi);
    return;
  }
  _codeExpr15(ctx, vi);
  _codeRValue(ctx, vi);
  _codeOp(ctx, op);
}

// expr15 -> primary postfix   (level 15)
void MoxCompiler::_codeExpr15(MoxFuncContext& ctx, MoxVarInfo& vi) {
  _codePrimary(ctx, vi);
  _codePostfix(ctx, vi);
}

// postfix -> { '(' arguments | '[' expr1 ']' | '->' ident '(' arguments
//            | '++' | '--' }
void MoxCompiler::_codePostfix(MoxFuncContext& ctx, MoxVarInfo& vi) {
  for (;;) {
    MoxToken t = _next();
    if (_isChar(t, '(')) {
      _codeFunctionCall(ctx, vi);
    } else if (_isChar(t, '[')) {
      _codeIndexedOp(ctx, vi);
    } else if (t == TOK_ARROW) {
      t = _next();
      if (!_require(TOK_IDENT, t, 0)) {
        _count();
        _codeRValue(ctx, vi);
        continue;
      }
      std::u16string selector = scanner_->getTokenString();
      _codeMethodCall(ctx, vi, selector.c_str());
    } else if (t == TOK_INC || t == TOK_DEC) {
      _codePostIncDec(ctx, vi, t == TOK_INC ? OP_INC : OP_DEC);
    } else {
      _back();
      return;
    }
  }
}

// ---------------------------------------------------------------------------
// Assignment and increments

// The rest of expr2 after its operator op: the right side and the store.
void MoxCompiler::_codeAssign(MoxFuncContext& ctx, MoxVarInfo& vi, MoxToken op) {
  if (!_checkLValue(vi)) _count();
  MoxVarInfo target = vi;
  MoxVarInfo right;
  uint8_t opcode = compoundOpcode(op);
  if (opcode != 0) {
    _codeVarInfo(ctx, target, VA_DUPLICATE);
    MoxVarInfo left = target;
    _codeRValue(ctx, left);
    _codeOp(ctx, OP_PUSH);
    _codeExpr1(ctx, right);
    _codeRValue(ctx, right);
    _codeOp(ctx, opcode);
  } else {
    // An element store takes container, index and value from three slots.
    // Any other store takes the value from the top, so the right side is
    // computed into the current top: no slot is opened for it.
    if (target.kind == VI_INDEXED) _codeOp(ctx, OP_PUSH);
    _codeExpr1(ctx, right);
    _codeRValue(ctx, right);
    if (op == TOK_REF_ASSIGN) _codeOp(ctx, OP_MKREF);
  }
  _codeVarInfo(ctx, target, VA_STORE);
  vi.kind = VI_VALUE;
  vi.index = -1;
}

// Prefix ++/--: the changed value is the result.
void MoxCompiler::_codePreIncDec(MoxFuncContext& ctx, MoxVarInfo& vi, uint8_t opcode) {
  if (!_checkLValue(vi)) _count();
  MoxVarInfo target = vi;
  _codeVarInfo(ctx, target, VA_DUPLICATE);
  MoxVarInfo value = target;
  _codeRValue(ctx, value);
  _codeOp(ctx, opcode);
  _codeVarInfo(ctx, target, VA_STORE);
  vi.kind = VI_VALUE;
  vi.index = -1;
}

// Postfix ++/--: the value before the change is the result.
void MoxCompiler::_codePostIncDec(MoxFuncContext& ctx, MoxVarInfo& vi, uint8_t opcode) {
  if (!_checkLValue(vi)) _count();
  if (vi.kind == VI_INDEXED) {
    // container index -> container index old -> old container index old
    // -> old container index new -> old new -> old
    _codeOp(ctx, OP_DUP2);
    _codeOp(ctx, OP_VREF);
    _codeOp(ctx, OP_DUPX2);
    _codeOp(ctx, opcode);
    _codeOp(ctx, OP_VSET);
    _codeOp(ctx, OP_POP);
  } else {
    MoxVarInfo value = vi;
    _codeRValue(ctx, value);
    _codeOp(ctx, OP_DUP);
    _codeOp(ctx, opcode);
    _codeVarInfo(ctx, vi, VA_STORE);
    _codeOp(ctx, OP_POP);
  }
  vi.kind = VI_VALUE;
  vi.index = -1;
}

// ---------------------------------------------------------------------------
// new, delete, calls, sends, indexing

// new -> ident '(' arguments   (after 'new'): create, then send the
// constructor, whose selector is the class name
void MoxCompiler::_codeNew(MoxFuncContext& ctx, MoxVarInfo& vi) {
  MoxToken t = _next();
  vi = MoxVarInfo();
  if (!_require(TOK_IDENT, t, 0)) {
    _count();
    return;
  }
  std::u16string name = scanner_->getTokenString();
  MoxClass* cls = _findClass(name.c_str());
  if (cls != nullptr) {
    // Uncounted like the procedure's own class: classes live in the
    // machine's class table, and a method creating objects of its own class
    // must not keep that class alive through a cycle.
    _codeLiteral(ctx, _addLiteral(ctx, MoxValue(cls, true)));
    _codeOp(ctx, OP_NEW);
  }
  vi.kind = VI_VALUE;
  // The constructor is the method named like the class.
  _codeMethodCall(ctx, vi, name.c_str());
  _codePostfix(ctx, vi);
}

// delete -> primary   (after 'delete'; not a postfix expression)
void MoxCompiler::_codeDelete(MoxFuncContext& ctx, MoxVarInfo& vi) {
  _codePrimary(ctx, vi);
  _codeRValue(ctx, vi);
  _codeOp(ctx, OP_DELETE);
}

// arguments -> [ expr2 { ',' expr2 } ] ')'   (after the '(')
// An argument is a level-2 expression: the comma separates arguments.
void MoxCompiler::_codeArguments(MoxFuncContext& ctx, int& count) {
  count = 0;
  MoxToken t = _next();
  if (_isChar(t, ')')) return;
  _back();
  for (;;) {
    _codeOp(ctx, OP_PUSH);
    MoxVarInfo arg;
    _codeExpr2(ctx, arg);
    _codeRValue(ctx, arg);
    ++count;
    t = _next();
    if (_isChar(t, ',')) continue;
    if (!_require(TOK_ANY, t, ')')) _count();
    return;
  }
}

// call -> '(' arguments   (the callee is vi)
void MoxCompiler::_codeFunctionCall(MoxFuncContext& ctx, MoxVarInfo& vi) {
  _codeRValue(ctx, vi);
  int count;
  _codeArguments(ctx, count);
  _codeIndexedOpcode(ctx, OP_CALL, uint32_t(count));
}

// send -> '(' arguments   (object vi, selector already read)
void MoxCompiler::_codeMethodCall(MoxFuncContext& ctx, MoxVarInfo& vi, const MoxChar* selector) {
  _codeRValue(ctx, vi);
  _codeOp(ctx, OP_PUSH);
  _codeLiteral(ctx, _selectorLiteral(ctx, selector));
  int count = 0;
  MoxToken t = _next();
  if (_require(TOK_ANY, t, '(')) {
    _codeArguments(ctx, count);
  } else {
    // Without an argument list the send has no arguments; the token that
    // stood there is left for what follows.
    _count();
    _back();
  }
  _codeIndexedOpcode(ctx, OP_SEND, uint32_t(count + 1));
}

// index -> expr1 ']'   (after the '['; the container is vi)
void MoxCompiler::_codeIndexedOp(MoxFuncContext& ctx, MoxVarInfo& vi) {
  _codeRValue(ctx, vi);
  _codeOp(ctx, OP_PUSH);
  MoxVarInfo index;
  _codeExpr1(ctx, index);
  _codeRValue(ctx, index);
  _expect(']');
  vi.kind = VI_INDEXED;
  vi.index = -1;
}

// ---------------------------------------------------------------------------
// Primaries and names

// primary -> string | long | float | 'null' | '(' expr1 ')' | '[' literals ']'
//          | '{' entries '}' | ident | ident '::' ident | '::' ident
void MoxCompiler::_codePrimary(MoxFuncContext& ctx, MoxVarInfo& vi) {
  vi = MoxVarInfo();
  MoxToken t = _next();
  MoxValue constant;
  switch (t) {
    case TOK_STRING: constant = MoxValue(new MoxString(scanner_->getTokenString())); break;
    case TOK_LONG: constant = MoxValue(scanner_->getLong()); break;
    case TOK_FLOAT: constant = MoxValue(scanner_->getDouble()); break;
    case TOK_NULL: break;
    case TOK_IDENT: {
      std::u16string name = scanner_->getTokenString();
      t = _next();
      if (t == TOK_SCOPE) {
        _codeScoped(ctx, vi, name.c_str());
      } else {
        _back();
        _findVariable(ctx, vi, name.c_str(), false);
      }
      return;
    }
    case TOK_SCOPE:
      t = _next();
      if (!_require(TOK_IDENT, t, 0)) {
        _count();
        return;
      }
      _findVariable(ctx, vi, std::u16string(scanner_->getTokenString()).c_str(), true);
      return;
    default:
      if (_isChar(t, '(')) {
        _codeExpr1(ctx, vi);  // the operand stays pending: (a) = 1 assigns a
        _expect(')');
        return;
      }
      if (_isChar(t, '[') || _isChar(t, '{')) {
        _doLiteralValue(t, constant);  // built once; every evaluation yields it
        break;
      }
      _error("primary expression expected");
      return;
  }
  _codeLiteral(ctx, _addLiteral(ctx, constant));
  vi.kind = VI_VALUE;
}

// scoped -> ident   (after "Class::"): a static member of the class or its bases
void MoxCompiler::_codeScoped(MoxFuncContext& ctx, MoxVarInfo& vi, const MoxChar* className) {
  vi = MoxVarInfo();
  // The class first; without it the member name is still read.
  MoxClass* cls = _findClass(className);
  MoxToken t = _next();
  if (!_require(TOK_IDENT, t, 0)) {
    _count();
    return;
  }
  std::u16string member = scanner_->getTokenString();
  if (cls == nullptr) return;
  MoxDictionaryEntry* m = cls->findMember(MoxString(member.c_str()), true);
  if (m == nullptr) {
    _error("not a class member");
    return;
  }
  MoxSymbolType kind = m->getSymbolType();
  if (kind != SYM_VARIABLE && kind != SYM_FUNCTION) {
    _error("not a static class member");
    return;
  }
  MoxClass* saved = ctx.lookupClass;
  ctx.lookupClass = cls;
  _findClassVariable(ctx, vi, member.c_str());
  ctx.lookupClass = saved;
}

// A name, first match wins: argument, local, member of the procedure's
// class (unless skipMembers, for "::name"), global.
void MoxCompiler::_findVariable(MoxFuncContext& ctx, MoxVarInfo& vi, const MoxChar* name,
                                bool skipMembers) {
  if (!ctx.slotsIndexed) {
    // The names are all known before the body is compiled.
    for (size_t i = 0; i < ctx.arguments.size(); ++i)
      ctx.slots.emplace(ctx.arguments[i], MoxVarInfo{VI_ARGUMENT, int32_t(i)});
    for (size_t i = 0; i < ctx.temporaries.size(); ++i)
      ctx.slots.emplace(ctx.temporaries[i], MoxVarInfo{VI_TEMPORARY, int32_t(i)});
    ctx.slotsIndexed = true;
  }
  auto slot = ctx.slots.find(name);
  if (slot != ctx.slots.end()) {
    vi = slot->second;
    return;
  }
  if (!skipMembers && _findClassVariable(ctx, vi, name)) return;
  // Late binding: the global entry is made now and filled in by whatever
  // defines the name later.
  MoxDictionaryEntry& entry = symbols_[MoxString(name)];
  vi.kind = VI_VARIABLE;
  vi.index = int32_t(_varLiteral(ctx, &entry));
}

bool MoxCompiler::_findClassVariable(MoxFuncContext& ctx, MoxVarInfo& vi, const MoxChar* name) {
  if (ctx.lookupClass == nullptr) return false;
  MoxDictionaryEntry* m = ctx.lookupClass->findMember(MoxString(name), true);
  if (m == nullptr) return false;
  switch (m->getSymbolType()) {
    case SYM_MEMBER:
    case SYM_METHOD:
      if (ctx.isStatic) {
        // A static member function has no object whose members it could use.
        _error("not a static class member");
        vi = MoxVarInfo();
        return true;
      }
      if (m->getSymbolType() == SYM_MEMBER) {
        vi.kind = VI_MEMBER;
        vi.index = static_cast<int32_t>(m->getValue());
      } else {
        // A bare method name is a send to "this".
        std::u16string selector = m->getKey() ? m->getKey()->c_str() : name;
        vi.kind = VI_ARGUMENT;
        vi.index = 0;
        _codeMethodCall(ctx, vi, selector.c_str());
      }
      return true;
    case SYM_VARIABLE:
      vi.kind = VI_VARIABLE;
      vi.index = int32_t(_varLiteral(ctx, m));
      return true;
    case SYM_FUNCTION:
      _codeIndexedOpcode(ctx, OP_REF, _varLiteral(ctx, m));
      vi.kind = VI_VALUE;
      vi.index = -1;
      return true;
    default:
      return false;
  }
}
