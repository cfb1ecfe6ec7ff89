#!/usr/bin/env node
// Checks editors/vscode with the TextMate engine VS Code itself uses
// (vscode-textmate on vscode-oniguruma):
//   - the extension manifest points at files that exist and parse;
//   - every ```mox block of docs/*.md and README.md, and every script of
//     examples/, tokenizes without illegal tokens and leaves no region open
//     (except after #endsrc);
//   - targeted snippets get the scopes a theme relies on.
// Exits 1 with a list of failures, 0 when everything holds.
'use strict';

const fs = require('fs');
const path = require('path');
const vsctm = require('vscode-textmate');
const oniguruma = require('vscode-oniguruma');

const ROOT = path.resolve(__dirname, '..', '..');
const EXT = path.join(ROOT, 'editors', 'vscode');
const failures = [];
let checks = 0;

function fail(msg) { failures.push(msg); }

function readJson(file) {
    try {
        return JSON.parse(fs.readFileSync(file, 'utf8'));
    } catch (e) {
        fail(`${path.relative(ROOT, file)}: ${e.message}`);
        return null;
    }
}

function checkManifest() {
    const pkg = readJson(path.join(EXT, 'package.json'));
    if (!pkg) return;
    checks++;
    const c = pkg.contributes || {};
    const lang = (c.languages || []).find(l => l.id === 'mox');
    if (!lang || !(lang.extensions || []).includes('.mox'))
        fail('package.json: no language "mox" with the extension .mox');
    const gram = (c.grammars || []).find(g => g.language === 'mox');
    if (!gram || gram.scopeName !== 'source.mox')
        fail('package.json: no grammar for "mox" with scopeName source.mox');
    for (const rel of [lang && lang.configuration, gram && gram.path]) {
        if (rel && !fs.existsSync(path.join(EXT, rel)))
            fail(`package.json names ${rel}, which does not exist`);
    }
    if (pkg.dependencies && Object.keys(pkg.dependencies).length)
        fail('package.json: the extension must not have run-time dependencies');
    const conf = lang && lang.configuration && readJson(path.join(EXT, lang.configuration));
    if (conf) {
        const cm = conf.comments || {};
        if (cm.lineComment !== '//' || JSON.stringify(cm.blockComment) !== '["/*","*/"]')
            fail('language-configuration.json: comments must be // and /* */');
        const res = [conf.wordPattern, ...Object.values(conf.indentationRules || {}),
                     ...Object.values((conf.folding || {}).markers || {}),
                     ...(conf.onEnterRules || []).flatMap(r => [r.beforeText, r.afterText])];
        for (const re of res.filter(Boolean))
            try { new RegExp(re); } catch (e) { fail(`language-configuration.json: ${re}: ${e.message}`); }
        const ind = conf.indentationRules || {};
        const inc = new RegExp(ind.increaseIndentPattern || '$^');
        const dec = new RegExp(ind.decreaseIndentPattern || '$^');
        checks++;
        if (!inc.test('main(;i) {') || !inc.test('    v = [1,') || inc.test('// x {') || inc.test('@ x {')
            || !dec.test('    }') || dec.test('    x = 1;'))
            fail('language-configuration.json: indentation rules do not indent after { and outdent at }');
    }
}

async function loadGrammar() {
    const wasm = fs.readFileSync(require.resolve('vscode-oniguruma/release/onig.wasm'));
    await oniguruma.loadWASM(wasm.buffer.slice(wasm.byteOffset, wasm.byteOffset + wasm.byteLength));
    const registry = new vsctm.Registry({
        onigLib: Promise.resolve({
            createOnigScanner: patterns => new oniguruma.OnigScanner(patterns),
            createOnigString: s => new oniguruma.OnigString(s),
        }),
        loadGrammar: async scopeName => {
            if (scopeName !== 'source.mox') return null;
            const file = path.join(EXT, 'syntaxes', 'mox.tmLanguage.json');
            return vsctm.parseRawGrammar(fs.readFileSync(file, 'utf8'), file);
        },
    });
    return registry.loadGrammar('source.mox');
}

// Tokens of a source text: [{line, text, scopes}], and the final state.
function tokenize(grammar, source) {
    let state = vsctm.INITIAL;
    const tokens = [];
    const lines = source.split('\n');
    lines.forEach((line, i) => {
        const r = grammar.tokenizeLine(line, state);
        if (r.stoppedEarly) fail(`tokenizing stopped early on line ${i + 1}: ${line}`);
        for (const t of r.tokens)
            tokens.push({ line: i + 1, text: line.substring(t.startIndex, t.endIndex), scopes: t.scopes });
        state = r.ruleStack;
    });
    return { tokens, state };
}

function mdBlocks(file) {
    const blocks = [];
    let cur = null;
    fs.readFileSync(file, 'utf8').split('\n').forEach((line, i) => {
        if (cur) {
            if (/^```\s*$/.test(line)) { blocks.push(cur); cur = null; } else cur.lines.push(line);
        } else if (/^```mox(\s|$)/.test(line)) {
            cur = { where: `${path.relative(ROOT, file)}:${i + 1}`, lines: [] };
        }
    });
    return blocks;
}

function checkDocs(grammar) {
    const docs = path.join(ROOT, 'docs');
    const files = fs.readdirSync(docs).filter(f => f.endsWith('.md')).map(f => path.join(docs, f));
    files.push(path.join(ROOT, 'README.md'));
    const examples = path.join(ROOT, 'examples');
    const sources = fs.readdirSync(examples).filter(f => f.endsWith('.mox')).map(f => {
        const file = path.join(examples, f);
        return { where: path.relative(ROOT, file), lines: fs.readFileSync(file, 'utf8').split('\n') };
    });
    const closed = tokenize(grammar, '').state;
    let count = 0;
    for (const blocks of [...files.map(mdBlocks), sources]) {
        for (const b of blocks) {
            count++;
            checks++;
            let res;
            try {
                res = tokenize(grammar, b.lines.join('\n'));
            } catch (e) {
                fail(`${b.where}: tokenizer threw ${e.message}`);
                continue;
            }
            for (const t of res.tokens) {
                const bad = t.scopes.find(s => s.startsWith('invalid'));
                if (bad) fail(`${b.where} (+${t.line}): '${t.text}' is ${bad}`);
            }
            const endsrc = res.tokens.some(t => t.scopes.some(s => s.startsWith('meta.preprocessor.endsrc')));
            if (!endsrc && !res.state.equals(closed))
                fail(`${b.where}: a region is still open at the end of the block`);
        }
    }
    if (count < 20) fail(`only ${count} mox blocks found in the manual`);
    return count;
}

// expect(source, [[text, scope, nth], ...]): the nth (default 0) token whose
// text is exactly `text` must carry a scope starting with `scope`, or, when
// scope starts with '!', none starting with the rest.
function expect(grammar, name, source, cases) {
    const { tokens } = tokenize(grammar, source);
    for (const [text, scope, nth = 0] of cases) {
        checks++;
        const found = tokens.filter(t => t.text === text)[nth];
        if (!found) {
            fail(`${name}: no token '${text}' (#${nth}); tokens: ` +
                 tokens.map(t => JSON.stringify(t.text)).join(' '));
            continue;
        }
        const neg = scope.startsWith('!');
        const want = neg ? scope.slice(1) : scope;
        const has = found.scopes.some(s => s.startsWith(want));
        if (has === neg)
            fail(`${name}: '${text}' (#${nth}) ${neg ? 'must not be' : 'should be'} ${want}, ` +
                 `has ${found.scopes.join(' ')}`);
    }
}

function checkSnippets(g) {
    expect(g, 'keywords', [
        'main(;i, o) {',
        '    if (i) return 1; else while (0) i++;',
        '    do { break; continue; } while (0);',
        '    for (i = 0; i < 3; i++) ;',
        '    TRON; TROFF; TRSTEP;',
        '    o = new Point(1, 2); delete o; o = null; o = nil;',
        '    switch(i); this->get(); static_x = 1; classy = 2;',
        '}',
    ].join('\n'), [
        ['if', 'keyword.control'], ['return', 'keyword.control'], ['else', 'keyword.control'],
        ['while', 'keyword.control'], ['do', 'keyword.control'], ['break', 'keyword.control'],
        ['continue', 'keyword.control'], ['for', 'keyword.control'],
        ['TRON', 'keyword.other.trace'], ['TROFF', 'keyword.other.trace'], ['TRSTEP', 'keyword.other.trace'],
        ['new', 'keyword.operator.new'], ['Point', 'entity.name.type.class'],
        ['delete', 'keyword.operator.delete'],
        ['null', 'constant.language.null'], ['nil', 'constant.language.null'],
        ['switch', '!keyword'], ['switch', 'entity.name.function.call'],
        ['this', 'variable.language.this'], ['get', 'entity.name.function.member'],
        ['static_x', '!storage'], ['classy', '!storage'],
        ['main', 'entity.name.function'], ['o', 'variable.other.local'],
    ]);

    expect(g, 'strings', [
        'main() {',
        '    print("tab\\t q\\" A=\\65 \\0101 \\0x41 \\q \\\\ @not // not /* not */");',
        '    s = "one',
        'two\\n";',
        '    bad = "\\1.5";',
        '}',
    ].join('\n'), [
        ['\\t', 'constant.character.escape'], ['\\"', 'constant.character.escape'],
        ['\\65', 'constant.character.escape'], ['\\0101', 'constant.character.escape'],
        ['\\0x41', 'constant.character.escape'], ['\\q', 'constant.character.escape'],
        ['\\\\', 'constant.character.escape'],
        [' @not // not /* not */', 'string.quoted.double'],
        [' @not // not /* not */', '!comment'],
        ['two', 'string.quoted.double'], ['\\n', 'constant.character.escape'],
        ['\\1.', 'invalid.illegal'],
        ['print', 'support.function'],
    ]);

    expect(g, 'comments', [
        '#!/usr/bin/env mx2',
        '// line comment',
        '@ at-sign comment "not a string"',
        '/* block',
        '   main() { } */ f(a) { return 7; } /*/ still a comment */',
        'g() { x = 1; // trailing',
        '  y = 2; @ trailing too',
        '  #! and this',
        '}',
    ].join('\n'), [
        ['#!', 'comment.line'], ['/usr/bin/env mx2', 'comment.line'],
        [' line comment', 'comment.line.double-slash'],
        [' at-sign comment "not a string"', 'comment.line'],
        ['   main() { } ', 'comment.block'], ['/ still a comment ', 'comment.block'],
        ['f', 'entity.name.function'], ['7', 'constant.numeric'],
        [' trailing', 'comment.line'], [' trailing too', 'comment.line'], [' and this', 'comment.line'],
        ['2', 'constant.numeric'],
    ]);

    expect(g, 'numbers', [
        'main() {',
        '    v = [42, 017, 0x1F, 0XaB, 1.5, 2., 1e3, 1.5e-3, a1, x_2];',
        "    c = ['A', '\\n', '\\'', '\\65', '\\0x41'];",
        "    bad = 'AB';",
        '}',
    ].join('\n'), [
        ['42', 'constant.numeric.integer.decimal'], ['017', 'constant.numeric.integer.octal'],
        ['0x1F', 'constant.numeric.integer.hexadecimal'], ['0XaB', 'constant.numeric.integer.hexadecimal'],
        ['1.5', 'constant.numeric.float'], ['2.', 'constant.numeric.float'],
        ['1e3', 'constant.numeric.float'], ['1.5e-3', 'constant.numeric.float'],
        ['a1', '!constant.numeric'], ['x_2', '!constant.numeric'],
        ['A', 'constant.character.literal'], ['\\n', 'constant.character.escape'],
        ["\\'", 'constant.character.escape'], ['\\65', 'constant.character.escape'],
        ['\\0x41', 'constant.character.escape'],
        ["'AB'", 'invalid.illegal'],
    ]);

    expect(g, 'directives', [
        '#include "lib/util.mox"',
        '#include <dir/file.mox>',
        '#use "geometry"',
        '#import "mx2class"',
        '#defvar LIMIT 3',
        '#defvar NAMES ["a", {"k": 1.5}]',
        '#bogus',
        'main() { return LIMIT; }',
        '#endsrc trailing words',
        'main() { return 0; }',
    ].join('\n'), [
        ['include', 'keyword.control.directive', 0], ['include', 'meta.preprocessor', 1],
        ['lib/util.mox', 'string.quoted.double'], ['dir/file.mox', 'string.quoted.other'],
        ['use', 'keyword.control.directive'], ['geometry', 'string.quoted.double'],
        ['import', 'keyword.control.directive'], ['mx2class', 'string.quoted'],
        ['defvar', 'keyword.control.directive'], ['LIMIT', 'variable.other.global'],
        ['3', 'constant.numeric'], ['1.5', 'constant.numeric'],
        ['bogus', 'invalid.illegal'],
        ['main', 'entity.name.function', 0],
        ['endsrc', 'keyword.control.directive'],
        [' trailing words', 'comment.block'],
        ['main() { return 0; }', 'comment.block'],
    ]);

    expect(g, 'classes', [
        'class Shape;',
        'class Rect : Shape {',
        '    w, h;        // size',
        '    static made = 0, tag = "r";',
        '    Rect(w0, h0);',
        '    ~Rect();',
        '    static total();',
        '}',
        'class Square',
        '    : Rect { side; }',
        'Rect::Rect(w0, h0; t) { w = w0; made = made + 1; }',
        'Rect::~Rect() { print(Shape::total(), ::made, Rect::tag, "\\n"); }',
        'Shape::area() {',
        '    return this->BC_area() * 2;',
        '}',
    ].join('\n'), [
        ['Shape', 'entity.name.type.class', 0], ['Rect', 'entity.name.type.class', 0],
        ['Shape', 'entity.other.inherited-class', 1],
        ['w', 'variable.other.member', 0], ['made', 'variable.other.member', 0],
        ['static', 'storage.modifier', 0], ['0', 'constant.numeric'], ['r', 'string.quoted'],
        ['Rect', 'entity.name.function', 1], ['w0', 'variable.parameter', 0],
        ['~', 'entity.name.function.destructor', 0], ['Rect', 'entity.name.function', 2],
        ['total', 'entity.name.function', 0],
        ['Square', 'entity.name.type.class'], ['Rect', 'entity.other.inherited-class', 3],
        ['side', 'variable.other.member'],
        ['Rect', 'entity.name.type.class', 4], ['Rect', 'entity.name.function', 5],
        ['w0', 'variable.parameter', 1], ['w0', '!variable.parameter', 2], ['t', 'variable.other.local'],
        ['Rect', 'entity.name.type.class', 6], ['Rect', 'entity.name.function', 7],
        ['Shape', 'entity.name.type.class', 2], ['total', 'entity.name.function', 1],
        ['made', 'variable.other.global', 3], ['tag', 'variable.other.static', 1],
        ['Shape', 'entity.name.type.class', 3], ['area', 'entity.name.function', 0],
        ['area', '!entity.name.type', 0],
        ['BC_area', 'entity.name.function.member'],
    ]);

    // A class head still being typed must not swallow the next definition.
    expect(g, 'unfinished class', 'class Partial\nmain() { x = 1; }', [
        ['Partial', 'entity.name.type.class'], ['main', 'entity.name.function'],
        ['{', 'meta.block'], ['{', '!meta.class'],
    ]);

    expect(g, 'operators', [
        'f(a, b) { a <<= b; a >>= 1; r => a; a = a->m() && b || !a; a ~= b; a == b != a; x = a ? b : 0; }',
    ].join('\n'), [
        ['<<=', 'keyword.operator.assignment'], ['>>=', 'keyword.operator.assignment'],
        ['=>', 'keyword.operator.assignment.reference'], ['->', 'punctuation.accessor'],
        ['&&', 'keyword.operator.logical'], ['||', 'keyword.operator.logical'],
        ['!', 'keyword.operator.logical'], ['~=', 'keyword.operator.assignment'],
        ['==', 'keyword.operator.comparison'], ['!=', 'keyword.operator.comparison'],
        ['?', 'keyword.operator'], [':', 'keyword.operator'],
    ]);
}

async function main() {
    checkManifest();
    const grammar = await loadGrammar();
    if (!grammar) {
        console.error('FAIL: the grammar source.mox did not load');
        process.exit(1);
    }
    const blocks = checkDocs(grammar);
    checkSnippets(grammar);
    if (failures.length) {
        console.error(`FAIL: ${failures.length} of ${checks} grammar checks failed:`);
        for (const f of failures) console.error('  - ' + f);
        process.exit(1);
    }
    console.log(`grammar: ${checks} checks passed (${blocks} mox blocks of the manual and examples tokenized)`);
}

main().catch(e => {
    console.error('FAIL: ' + (e && e.stack || e));
    process.exit(1);
});
