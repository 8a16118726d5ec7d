#!/usr/bin/env bash
# What libPellarLib.so exports: the classes, the automation table and
# Invoke, and the text, value and failure functions their callers use.
# Fails on any other exported name, such as a helper that lost its
# hidden visibility.
#
# usage: tests/symbols/exports_test.sh LIBRARY
set -euo pipefail
classes='Cell|Table|Email|File|Folder|FTP|UFL|Object|Failure|ArgumentFailure'
functions='Classes|FindClass|FindMethod|Invoke|ToUtf8|FromUtf8|ToAnsi|FromAnsi'
functions+='|ToText|ToInt16|ToInt32|ToBoolean|ConvertTo|Describe'
public="^pellar::(($classes)::~?[A-Za-z_]+|$functions)(\[abi:cxx11\])?\("
public+="|^(typeinfo|typeinfo name|vtable) for pellar::($classes)\$"
names=$(nm -D --defined-only -C "$1" | cut -d' ' -f3- | sort -u)
[ -n "$names" ] || { echo "FAILED: $1 exports nothing" >&2; exit 1; }
others=$(grep -Ev "$public" <<<"$names" || true)
if [ -n "$others" ]; then
  echo "FAILED: $1 exports names that are not public:" >&2
  echo "$others" >&2
  exit 1
fi
echo "exports: $(wc -l <<<"$names") public names"
