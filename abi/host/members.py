#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""members.py DOCUMENTED_H OUT_CPP

Writes a host translation unit that references every member declared in
documented.h the way a host program reaches it: qualified calls of member
functions (virtual ones included), constructors by placement new (through a
derived host class where the class is abstract), destructors by qualified
call, static and free functions and variables by address. Nothing in it runs;
the object file's undefined symbols are what the library must export. The
declarations are the one list: a member added there is referenced here.
"""
import re
import sys

ACCESS = re.compile(r'\b(public|protected|private)\s*:')


def strip(text):
    text = re.sub(r'//[^\n]*', '', text)
    text = re.sub(r'/\*.*?\*/', '', text, flags=re.S)
    return '\n'.join(l for l in text.splitlines() if not l.lstrip().startswith('#'))


def balanced(text, i, open_, close):
    """Index just past the bracket closing the one at text[i]."""
    depth = 0
    for j in range(i, len(text)):
        if text[j] == open_:
            depth += 1
        elif text[j] == close:
            depth -= 1
            if depth == 0:
                return j + 1
    raise SystemExit('unbalanced ' + open_)


def split_params(params):
    out, depth, cur = [], 0, ''
    for ch in params:
        if ch in '<(':
            depth += 1
        elif ch in '>)':
            depth -= 1
        if ch == ',' and depth == 0:
            out.append(cur)
            cur = ''
        else:
            cur += ch
    if cur.strip():
        out.append(cur)
    # default arguments have no place in a function type
    return ', '.join(p.split('=')[0].strip() for p in out if p.strip() != 'void')


def parse(text):
    """Yields (scope class or None, access, declaration) and class facts."""
    classes = {}  # name -> {'bases': str, 'pure': [decl], 'decls': [(access, decl)]}
    free = []
    i, n = 0, len(text)
    stack = []  # (class name or None, access)
    stmt = ''
    while i < n:
        ch = text[i]
        if ch == '{':
            head = ' '.join(stmt.split())
            m = re.match(r'(?:template\s*<.*>\s*)?(class|struct|union|enum(?: class)?)\s+(\w+)\s*(?::\s*(.*))?$', head)
            if head.startswith('template') or (m and m.group(1).startswith('enum')):
                i = balanced(text, i, '{', '}')
                while i < n and text[i] in ' \n;':
                    i += 1
                stmt = ''
                continue
            if m:
                name = m.group(2)
                classes[name] = {'bases': m.group(3) or '', 'pure': [], 'decls': []}
                stack.append([name, 'private' if m.group(1) == 'class' else 'public'])
                stmt = ''
                i += 1
                continue
            if head.startswith('extern "C"') or head.startswith('namespace'):
                stack.append([None, 'public'])
                stmt = ''
                i += 1
                continue
            # an inline body: the function needs no symbol from the library
            i = balanced(text, i, '{', '}')
            stmt = ''
            continue
        if ch == '}':
            if stack:
                stack.pop()
            stmt = ''
            i += 1
            while i < n and text[i] in ' \n;':
                i += 1
            continue
        if ch == ';':
            decl = ' '.join(stmt.split())
            stmt = ''
            i += 1
            scope = stack[-1] if stack else [None, 'public']
            while True:
                m = ACCESS.match(decl)
                if not m:
                    break
                scope[1] = m.group(1)
                decl = decl[m.end():].strip()
            if decl:
                if scope[0]:
                    classes[scope[0]]['decls'].append((scope[1], decl))
                else:
                    free.append(decl)
            continue
        stmt += ch
        if stack and stack[-1][0]:
            m = ACCESS.search(stmt)
            if m and not stmt[:m.start()].strip():
                stack[-1][1] = m.group(1)
                stmt = stmt[m.end():]
        i += 1
    return classes, free


FUNC = re.compile(r'^(?P<pre>.*?)(?P<name>~?\w+|operator\s*(?:\(\)|[^\s(]+))\s*\((?P<params>.*)\)(?P<post>[^()]*)$')


def function(decl):
    m = FUNC.match(decl)
    if not m:
        return None
    pre = m.group('pre').split()
    words = {'static', 'virtual', 'explicit', 'extern', 'inline', 'friend'}
    return {
        'name': m.group('name').replace(' ', ''),
        'ret': ' '.join(w for w in pre if w not in words),
        'static': 'static' in pre,
        'friend': 'friend' in pre,
        'params': split_params(m.group('params')),
        'const': re.search(r'\bconst\b', m.group('post')) is not None,
        'skip': re.search(r'=\s*(0|default|delete)', m.group('post')) is not None,
        'pure': re.search(r'=\s*0\s*$', m.group('post')) is not None,
    }


def emit(classes, free):
    out = ['// Generated by abi/host/members.py from documented.h; do not edit.',
           '#include "documented.h"', '',
           '#pragma GCC diagnostic ignored "-Wunused-parameter"', '#include <new>', '#include <utility>', '',
           'template <typename T> T KeptValue{};',
           'template <typename T> void Keep(T value) { KeptValue<T> = value; }',
           'alignas(16) unsigned char argBytes[1024];',
           'template <typename T> T &&Arg() { return static_cast<T &&>(*reinterpret_cast<std::remove_reference_t<T> *>(argBytes)); }',
           'template <typename F> struct Call;',
           'template <typename R, typename... P> struct Call<R(P...)> {',
           '  template <typename G> static void Run(G g) { g(Arg<P>()...); }',
           '};',
           '#define FWD(a) std::forward<decltype(a)>(a)...', '']
    count = 0
    for cls, facts in classes.items():
        funcs = [(a, function(d)) for a, d in facts['decls']
                 if '(' in d and not d.startswith(('using', 'typedef', 'friend'))]
        pure = [f for a, f in funcs if f and f['pure']]
        body = []
        host = cls
        if pure:
            # An abstract class is reached as a host reaches it: derived from.
            host = 'Host' + cls
            out.append(f'struct {host} : {cls} {{')
            out.append(f'  using {cls}::{cls};')
            for f in pure:
                value = '' if f['ret'] == 'void' else ' return {};'
                const = ' const' if f['const'] else ''
                out.append(f'  {f["ret"]} {f["name"]}({f["params"]}){const} override {{{value} }}')
            out.append('};')
            if not any(f and f['name'] == cls for a, f in funcs):
                body.append(f'  new (raw) {host}();')
        for access, f in funcs:
            if not f or f['skip'] or access != 'public':
                continue
            count += 1
            if f['name'] == cls:
                body.append(f'  Call<void({f["params"]})>::Run([&](auto &&...a) {{ new (raw) {host}(FWD(a)); }});')
            elif f['name'] == '~' + cls:
                body.append(f'  static_cast<{cls} *>(raw)->{cls}::~{cls}();')
            elif f['static']:
                body.append(f'  Keep(static_cast<{f["ret"]} (*)({f["params"]})>(&{cls}::{f["name"]}));')
            else:
                obj = f'static_cast<{"const " if f["const"] else ""}{cls} *>(raw)'
                body.append(f'  Call<void({f["params"]})>::Run([&](auto &&...a) {{ (void){obj}->{cls}::{f["name"]}(FWD(a)); }});')
        for access, d in facts['decls']:
            if '(' in d or access != 'public' or not d.startswith('static ') or '=' in d or 'constexpr' in d:
                continue
            count += 1
            body.append(f'  Keep(&{cls}::{d.split()[-1].lstrip("*&")});')
        if body:
            out.append(f'void Reference{cls}([[maybe_unused]] void *raw) {{')
            out.extend(body)
            out.append('}')
    out.append('void ReferenceFree() {')
    for d in free:
        if d.startswith(('using', 'typedef', 'class ', 'struct ', 'template')):
            continue
        if d.startswith('extern template '):
            # an explicit instantiation the library exports
            m = re.match(r'extern template (.*?)(\w+<[^>]*>)\s*\((.*)\)$', d)
            count += 1
            out.append(f'  Keep(static_cast<{m.group(1).strip()} (*)({split_params(m.group(3))})>(&{m.group(2)}));')
        elif '(' in d:
            f = function(d)
            if f and not f['skip']:
                count += 1
                out.append(f'  Keep(static_cast<{f["ret"]} (*)({f["params"]})>(&{f["name"]}));')
        elif d.startswith('extern '):
            count += 1
            out.append(f'  Keep(&{d.split()[-1].lstrip("*&")});')
    out.append('}')
    out.append(f'// {count} declarations referenced')
    return '\n'.join(out) + '\n'


def main():
    classes, free = parse(strip(open(sys.argv[1]).read()))
    open(sys.argv[2], 'w').write(emit(classes, free))


if __name__ == '__main__':
    main()
