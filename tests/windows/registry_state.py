#!/usr/bin/env python3
"""Registry and file state of a Wine prefix, for tests/windows/installer.sh.

  registry_state.py snapshot PREFIX OUT.json
      the values under Software of the machine and user hives, and the files
      of drive_c outside C:\\windows (C:\\windows\\Installer included)
  registry_state.py same BEFORE.json AFTER.json
      fails, listing them, on values or files that differ
  registry_state.py products STATE.json
      prints "PRODUCTCODE VERSION" of each installed PellarLib
  registry_state.py registration SELF_BEFORE SELF_AFTER MSI_BEFORE MSI_AFTER
                    --bits 64 [32] --self-dll BITS=WINPATH ... --msi-dll BITS=WINPATH ...
      compares the entries under Software\\Classes that regsvr32 wrote (the
      DLLs' own registration) with those the installer package wrote
"""
import argparse
import json
import os
import re
import sys

SECTION = re.compile(r'^\[(.*)\](?: \d+)?$')
VALUE = re.compile(r'^(@|"(?:[^"\\]|\\.)*")=(.*)$')


def unescape(text):
    return re.sub(r'\\(.)', r'\1', text)


def read_hive(path, root):
    """(key, name, data) of every value below Software, keys lower-cased."""
    values = set()
    key = None
    pending = ''
    with open(path, encoding='utf-8', errors='replace') as hive:
        for line in hive:
            line = pending + line.rstrip('\n')
            pending = ''
            if line.endswith('\\') and not line.startswith('['):
                pending = line[:-1].strip()  # hex data goes on
                continue
            section = SECTION.match(line)
            if section:
                name = unescape(section.group(1))
                key = name if name.lower().startswith('software\\') else None
                continue
            value = VALUE.match(line)
            if key is not None and value:
                name = '' if value.group(1) == '@' else unescape(
                    value.group(1)[1:-1])
                data = value.group(2)
                if data.startswith('"'):
                    data = unescape(data[1:-1])
                values.add(((root + '\\' + key).lower(), name.lower(), data))
    return values


def snapshot(prefix, out):
    values = read_hive(os.path.join(prefix, 'system.reg'), 'HKLM')
    values |= read_hive(os.path.join(prefix, 'user.reg'), 'HKCU')
    drive = os.path.join(prefix, 'drive_c')
    files = []
    for folder, subfolders, names in os.walk(drive):
        relative = os.path.relpath(folder, drive).lower()
        if relative == 'windows':
            subfolders[:] = [s for s in subfolders if s.lower() == 'installer']
            continue
        files += [os.path.join(relative, n) for n in names]
    with open(out, 'w') as f:
        json.dump({'values': sorted(values), 'files': sorted(files)}, f)


def load(path):
    with open(path) as f:
        state = json.load(f)
    return {tuple(v) for v in state['values']}, set(state['files'])


def report(title, items):
    for item in sorted(items)[:40]:
        print(f'{title}: {item}')
    return bool(items)


def same(before, after):
    values_before, files_before = load(before)
    values_after, files_after = load(after)
    bad = report('value left', values_after - values_before)
    bad |= report('value gone', values_before - values_after)
    bad |= report('file left', files_after - files_before)
    bad |= report('file gone', files_before - files_after)
    return 1 if bad else 0


# Windows shares every key of Classes between the registry views except
# these; Wine's msi writes a 32-bit component's other keys under
# Wow6432Node, where a 32-bit program reads them as the shared ones.
REDIRECTED = ('clsid\\', 'interface\\')
CLASSES = 'hklm\\software\\classes\\'
WOW = 'wow6432node\\'


def registration(before, after, dlls):
    """What a registration wrote under Classes, paths made symbolic."""
    entries = set()
    for key, name, data in load(after)[0] - load(before)[0]:
        if not key.startswith(CLASSES):
            continue
        key = key[len(CLASSES):]
        if key.startswith(WOW) and not key[len(WOW):].startswith(REDIRECTED):
            key = key[len(WOW):]
        if key.startswith('installer\\'):
            continue  # Windows Installer's own bookkeeping
        for bits, path in dlls.items():
            if data.lower() == path.lower():
                data = f'<PellarLib.dll {bits}>'
            elif data.lower() == path.lower().rsplit('\\', 1)[0] + '\\':
                data = '<folder of PellarLib.dll>'  # HELPDIR: either DLL's
        entries.add((key, name, data))
    return entries


def compare_registration(args):
    def dlls(pairs):
        return dict(pair.split('=', 1) for pair in pairs)

    self_written = registration(args.self_before, args.self_after,
                                dlls(args.self_dll))
    msi_written = registration(args.msi_before, args.msi_after,
                               dlls(args.msi_dll))
    if '32' not in args.bits:
        # Only the 64-bit DLL could register itself: leave out what belongs
        # to the 32-bit DLL alone.
        msi_written = {e for e in msi_written
                       if not e[0].startswith(WOW + 'clsid\\')
                       and e[2] != '<PellarLib.dll 32>'}
    bad = report('only self-registration wrote', self_written - msi_written)
    bad |= report('only the package wrote', msi_written - self_written)
    print(f'{len(self_written)} entries by self-registration, '
          f'{len(msi_written)} by the package')
    if not self_written:
        return 1
    return 1 if bad else 0


def products(path):
    uninstall = 'hklm\\software\\microsoft\\windows\\currentversion\\uninstall\\'
    found = {}
    for key, name, data in load(path)[0]:
        if key.startswith(uninstall) and name in ('displayname',
                                                  'displayversion'):
            found.setdefault(key[len(uninstall):], {})[name] = data
    for code, entry in sorted(found.items()):
        if entry.get('displayname') == 'PellarLib':
            print(code.upper(), entry.get('displayversion'))
    return 0


def main():
    parser = argparse.ArgumentParser()
    sub = parser.add_subparsers(dest='command', required=True)
    p = sub.add_parser('snapshot')
    p.add_argument('prefix')
    p.add_argument('out')
    p = sub.add_parser('same')
    p.add_argument('before')
    p.add_argument('after')
    p = sub.add_parser('products')
    p.add_argument('state')
    p = sub.add_parser('registration')
    for name in ('self_before', 'self_after', 'msi_before', 'msi_after'):
        p.add_argument(name)
    p.add_argument('--bits', nargs='+', required=True)
    p.add_argument('--self-dll', nargs='+', required=True)
    p.add_argument('--msi-dll', nargs='+', required=True)
    args = parser.parse_args()
    if args.command == 'snapshot':
        snapshot(args.prefix, args.out)
        return 0
    if args.command == 'products':
        return products(args.state)
    if args.command == 'same':
        return same(args.before, args.after)
    return compare_registration(args)


if __name__ == '__main__':
    sys.exit(main())
