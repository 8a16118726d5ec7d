#!/usr/bin/env python3
"""Lists the functions the installed headers declare, as mangled names.

usage: declared.py INCLUDE_DIR [CLANG++]

Reads clang's syntax tree of every header under INCLUDE_DIR/pellar and
prints one line per function of namespace pellar declared in them
(public members, constructors and destructors included; not those the
compiler makes on its own, nor deleted or defaulted ones): its mangled name, a tab
and its qualified name. Constructor and destructor variants are written
C* and D*, as a caller's object file may name any of them.
"""
import json
import pathlib
import re
import subprocess
import sys

FUNCTIONS = {'FunctionDecl', 'CXXMethodDecl', 'CXXConstructorDecl',
             'CXXDestructorDecl', 'CXXConversionDecl'}


def walk(node, scope, found, access='public'):
    kind = node.get('kind')
    if kind in FUNCTIONS:
        if (access == 'public' and not node.get('isImplicit')
                and not node.get('explicitlyDeleted')
                and not node.get('explicitlyDefaulted')
                and 'mangledName' in node):
            found[node['mangledName']] = '::'.join(scope + [node['name']])
        return
    if kind == 'NamespaceDecl' and (scope or node.get('name') == 'pellar'):
        for child in node.get('inner', []):
            walk(child, scope + [node['name']], found)
    elif kind == 'CXXRecordDecl' and node.get('completeDefinition'):
        # Members are private in a class until an access specifier says
        # otherwise; what a caller cannot call is left out.
        member_access = 'private' if node.get('tagUsed') == 'class' else 'public'
        for child in node.get('inner', []):
            if child.get('kind') == 'AccessSpecDecl':
                member_access = child['access']
            elif access == 'public':
                walk(child, scope + [node['name']], found, member_access)


def main():
    include = pathlib.Path(sys.argv[1])
    clang = sys.argv[2] if len(sys.argv) > 2 else 'clang++'
    headers = sorted(include.glob('pellar/**/*.h'))
    if not headers:
        sys.exit(f'no headers under {include}/pellar')
    source = ''.join(f'#include <{h.relative_to(include)}>\n' for h in headers)
    dump = subprocess.run(
        [clang, '-std=c++20', '-fsyntax-only', '-x', 'c++', '-I', str(include),
         '-Xclang', '-ast-dump=json', '-Xclang', '-ast-dump-filter=pellar',
         '-'], input=source, capture_output=True, text=True, check=True).stdout
    found = {}
    decoder = json.JSONDecoder()
    at = 0
    while True:
        while at < len(dump) and dump[at] != '{':
            at += 1  # between dumps: "Dumping NAME:" lines
        if at >= len(dump):
            break
        node, at = decoder.raw_decode(dump, at)
        if node.get('kind') == 'NamespaceDecl' and node.get('name') == 'pellar':
            walk(node, [], found)
    for mangled, name in sorted(found.items()):
        print(re.sub(r'([CD])[0-5]E', r'\1*E', mangled, count=1) + '\t' + name)


main()
