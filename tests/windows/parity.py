#!/usr/bin/env python3
"""Parity of the script hosts: every script under tests/scripts (except
those marked "' native-only" on their first line) and the example report
run under the native pellar host and under Wine's cscript in each bitness
given; their standard outputs must be the same.

Each run gets a fresh working folder holding only the script (and, for the
example report, the out/ folder and the example mail program it expects).
The cscript runs of one bitness go through one batch file, so Wine starts
once per bitness, not once per script.

Wine's cscript ends silently with exit status 0 on any script error, so a
script expected to succeed must print the sentinel line "done" last; a
script expected to fail (NAME.rc not 0) is compared on what it printed
before the failure. cscript writes CR LF and, redirected, code page 437:
both outputs are compared with CR LF as LF and with the characters code
page 437 lacks as "?".

The files a script leaves in its working folder are compared byte for byte
too (the platform's path separator, which spool files name, read as one),
except the FTP launchers, which are platform scripts by design.

Where Wine's VBScript is known to differ from the language reference, the
scripts' expected outputs follow the reference and wine_differences.txt
(beside this file) lists each difference: a script Wine cannot run, or the
label of the output lines left out of the comparison.
"""

import argparse
import difflib
import os
import re
import shutil
import stat
import subprocess
import sys

SENTINEL = "done"
DIFFERENCES = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                           "wine_differences.txt")


def read_differences(path):
    """{script: [label, ...]}; the label "*" means Wine cannot run it."""
    known = {}
    with open(path) as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            script, rest = line.split(None, 1)
            label = "*" if rest.startswith("* ") else rest.split(":", 1)[0] + ":"
            known.setdefault(script, []).append(label)
    return known


def without_labels(text, labels):
    return "\n".join(line for line in text.split("\n")
                     if not any(line.startswith(label) for label in labels))


class Case:
    def __init__(self, name, script, expected_rc, example=False):
        self.name = name
        self.script = script
        self.expected_rc = expected_rc
        self.example = example


def read_rc(path):
    try:
        with open(path) as f:
            return int(f.read().strip())
    except FileNotFoundError:
        return 0


def is_native_only(script):
    with open(script, "rb") as f:
        first = f.readline()
    if first.startswith(b"\xef\xbb\xbf"):
        first = first[3:]
    return first.startswith(b"' native-only")


def collect(scripts_dir, example, example_mailer):
    cases = []
    for entry in sorted(os.listdir(scripts_dir)):
        if not entry.endswith(".vbs"):
            continue
        path = os.path.join(scripts_dir, entry)
        if is_native_only(path):
            continue
        name = entry[:-4]
        rc = read_rc(os.path.join(scripts_dir, name + ".rc"))
        cases.append(Case(name, path, rc))
    if example:
        cases.append(Case("example_report", example, 0, example=True))
    return cases


def prepare(case, folder, example_mailer):
    if os.path.exists(folder):
        shutil.rmtree(folder)
    os.makedirs(folder)
    shutil.copyfile(case.script, os.path.join(folder, case.name + ".vbs"))
    if case.example:
        # The example report writes under out/ and starts the example mail
        # program by the relative name examples/mailer.sh.
        os.makedirs(os.path.join(folder, "out"))
        os.makedirs(os.path.join(folder, "examples"))
        target = os.path.join(folder, "examples", "mailer.sh")
        shutil.copyfile(example_mailer, target)
        os.chmod(target, os.stat(target).st_mode | stat.S_IXUSR)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def normalise(text):
    # CR carries no weight here: cscript ends lines with CR LF, and a CR of
    # the text itself cannot be told apart from one of a line end (the
    # native script tests check CRs exactly).
    text = text.replace("\r", "")
    return "".join(c if c.encode("cp437", "ignore") else "?" for c in text)


# Where Wine's VBScript itself differs from Windows, what it prints is read
# as what Windows prints. Each entry: (pattern of Wine's "Err.Number,
# Err.Description" at a line end, Windows' text, why).
WINE_DEVIATIONS = [
    (re.compile(r"(^| )-2147467259 $"), r"\g<1>424 Object required",
     "Wine's VBScript reports a method call on a non-object as E_FAIL "
     "without a description, where Windows reports 424 Object required"),
]


def as_windows_prints(text):
    lines = text.split("\n")
    for i, line in enumerate(lines):
        for wine, windows, _ in WINE_DEVIATIONS:
            lines[i] = wine.sub(windows, lines[i])
    return "\n".join(lines)


def written_files(folder):
    """{relative path: bytes} of the files under `folder`."""
    files = {}
    for dirpath, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(dirpath, name)
            with open(path, "rb") as f:
                files[os.path.relpath(path, folder)] = f.read().replace(b"\\", b"/")
    return files


def compare_files(native_folder, hosted_folder):
    """Problems found between the files two runs of a script left."""
    mine, theirs = written_files(native_folder), written_files(hosted_folder)
    problems = []
    for name in sorted(set(mine) | set(theirs)):
        if name.endswith((".sh", ".bat")):
            continue  # FTP launchers: a shell script on POSIX, a batch file on Windows
        if name not in theirs:
            problems.append("only pellar wrote %s" % name)
        elif name not in mine:
            problems.append("only cscript wrote %s" % name)
        elif mine[name] != theirs[name]:
            problems.append("%s differs" % name)
    return problems


def run_native(pellar, cases, root):
    outputs = {}
    for case in cases:
        folder = os.path.join(root, "native", case.name)
        prepare(case, folder, ARGS.example_mailer)
        with open(os.path.join(folder, case.name + ".vbs"), "rb") as script:
            done = subprocess.run([pellar, "run", case.name + ".vbs"],
                                  cwd=folder, stdin=script,
                                  stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, timeout=600)
        outputs[case.name] = normalise(done.stdout.decode("utf-8", "replace"))
    return outputs


def run_cscript(wine, bits, cases, root):
    host = "cscript%d" % bits
    cscript = ("C:\\windows\\system32\\cscript.exe" if bits == 64
               else "C:\\windows\\syswow64\\cscript.exe")
    lines = ["@echo off"]
    for case in cases:
        folder = os.path.join(root, host, case.name)
        prepare(case, folder, ARGS.example_mailer)
        lines.append("cd /d %s" % windows_path(folder))
        # The output files lie outside the working folder, which the
        # scripts are free to clean up with wildcards.
        lines.append("%s //nologo %s.vbs > ..\\%s.stdout 2> ..\\%s.stderr"
                     % (cscript, case.name, case.name, case.name))
    batch = os.path.join(root, host + ".bat")
    with open(batch, "w", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")
    subprocess.run([wine, "cmd", "/d", "/c", windows_path(batch)],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=1500, check=False)
    outputs = {}
    for case in cases:
        path = os.path.join(root, host, case.name + ".stdout")
        try:
            with open(path, "rb") as f:
                outputs[case.name] = as_windows_prints(
                    normalise(f.read().decode("cp437")))
        except FileNotFoundError:
            outputs[case.name] = None
    return outputs


def main():
    global ARGS
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pellar", required=True, help="the native host")
    parser.add_argument("--wine", required=True, help="the Wine loader")
    parser.add_argument("--bits", type=int, nargs="+", default=[64, 32])
    parser.add_argument("--scripts", required=True)
    parser.add_argument("--example")
    parser.add_argument("--example-mailer")
    parser.add_argument("--work", required=True)
    ARGS = parser.parse_args()
    for name in ("pellar", "scripts", "example", "example_mailer", "work"):
        if getattr(ARGS, name):
            setattr(ARGS, name, os.path.abspath(getattr(ARGS, name)))

    known = read_differences(DIFFERENCES)
    cases = collect(ARGS.scripts, ARGS.example, ARGS.example_mailer)
    for case in [c for c in cases if "*" in known.get(c.name, [])]:
        print("parity %-28s skipped: Wine cannot run it (see %s)"
              % (case.name, os.path.basename(DIFFERENCES)))
    cases = [c for c in cases if "*" not in known.get(c.name, [])]
    native = run_native(ARGS.pellar, cases, ARGS.work)
    failures = 0
    for bits in ARGS.bits:
        hosted = run_cscript(ARGS.wine, bits, cases, ARGS.work)
        for case in cases:
            problems = []
            expected = native[case.name]
            actual = hosted[case.name]
            labels = known.get(case.name, [])
            if labels and actual is not None:
                expected = without_labels(expected, labels)
                actual = without_labels(actual, labels)
            if case.example and actual is not None:
                # The example prints spool file names, which hold the
                # platform's separator.
                expected = expected.replace("\\", "/")
                actual = actual.replace("\\", "/")
            if actual is None:
                problems.append("cscript left no output")
            else:
                if case.expected_rc == 0:
                    for label, text in (("native", expected),
                                        ("cscript", actual)):
                        if text.rstrip("\n").split("\n")[-1] != SENTINEL:
                            problems.append(
                                "%s output does not end with the sentinel "
                                "line \"%s\" (the script stopped early)"
                                % (label, SENTINEL))
                if not case.example:
                    problems += compare_files(
                        os.path.join(ARGS.work, "native", case.name),
                        os.path.join(ARGS.work, "cscript%d" % bits, case.name))
                if expected != actual:
                    diff = difflib.unified_diff(
                        expected.splitlines(), actual.splitlines(),
                        "pellar", "cscript %d-bit" % bits, lineterm="", n=1)
                    problems.append("outputs differ:\n    " +
                                    "\n    ".join(list(diff)[:40]))
            status = "ok" if not problems else "FAILED"
            print("parity %d-bit %-28s %s" % (bits, case.name, status))
            for problem in problems:
                print("    " + problem)
            failures += bool(problems)
    print("parity: %d script(s), %d bitness(es), %d failure(s)"
          % (len(cases), len(ARGS.bits), failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
