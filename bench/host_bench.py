#!/usr/bin/env python3
"""The script host against the Windows script host: bench/host_bench.vbs
and bench/host_class.vbs run by the native pellar and by Wine's 64-bit cscript with the 64-bit
PellarLib.dll registered, each part timed inside the script with Timer.
Prints the times and, per part, the ratio of pellar's time to cscript's
against its target; with --tree-bench, also the bytes of parsed tree per
statement. Run by hand (not by ./test), e.g.

    bench/host_bench.py --pellar build/rel/programs/pellar/pellar \\
        --dll build/windows/win64/src/PellarLib.dll \\
        --tree-bench build/rel/bench/host_tree_bench

The Wine prefix (default build/host_bench/wineprefix) is made and the DLL
registered in it when needed.
"""

import argparse
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "host_bench.vbs")
GROWTH = os.path.join(HERE, "host_growth.vbs")
CLASSES = os.path.join(HERE, "host_class.vbs")
TARGETS = {"loop": 0.1, "savevalue": 0.5, "function": 0.1, "regexp": 0.5,
           "class": 0.1, "dictionary": 0.1}


def parse(output):
    times = {}
    for line in output.replace("\r", "").split("\n"):
        parts = line.split()
        if len(parts) == 2 and parts[0] in TARGETS:
            times[parts[0]] = float(parts[1])
    return times


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pellar", required=True)
    parser.add_argument("--dll", required=True, help="the 64-bit PellarLib.dll")
    parser.add_argument("--wine", default=shutil.which("wine") or "wine")
    parser.add_argument("--prefix", default="build/host_bench/wineprefix")
    parser.add_argument("--tree-bench", help="host_tree_bench, for the tree size")
    args = parser.parse_args()

    work = os.path.abspath(os.path.dirname(args.prefix) or ".")
    os.makedirs(work, exist_ok=True)
    shutil.copyfile(SCRIPT, os.path.join(work, "host_bench.vbs"))
    shutil.copyfile(CLASSES, os.path.join(work, "host_class.vbs"))

    ours = {}
    for script in ("host_bench.vbs", "host_class.vbs"):
        native = subprocess.run([os.path.abspath(args.pellar), "run", script],
                                cwd=work, capture_output=True, text=True,
                                check=True)
        ours.update(parse(native.stdout))

    env = dict(os.environ, WINEPREFIX=os.path.abspath(args.prefix),
               WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    env.pop("DISPLAY", None)
    if not os.path.isdir(args.prefix):
        subprocess.run([args.wine, "wineboot", "-i"], env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run([args.wine, "regsvr32", "/s", windows_path(args.dll)], env=env,
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    theirs = {}
    for script in ("host_bench.vbs", "host_class.vbs"):
        hosted = subprocess.run([args.wine, "cscript", "//nologo", script],
                                cwd=work, env=env, capture_output=True,
                                check=False)
        theirs.update(parse(hosted.stdout.decode("cp437", "replace")))

    failed = False
    # Growth by ReDim Preserve: absolute goals, and linear (the 1M figure
    # at most 12 times the 100k one); pellar alone, as Wine lacks it.
    shutil.copyfile(GROWTH, os.path.join(work, "host_growth.vbs"))
    grown = subprocess.run([os.path.abspath(args.pellar), "run", "host_growth.vbs"],
                           cwd=work, capture_output=True, text=True, check=True)
    growth = {}
    for line in grown.stdout.split("\n"):
        parts = line.split()
        if len(parts) == 2:
            growth[parts[0]] = float(parts[1])
    small, large = growth.get("grow100k"), growth.get("grow1m")
    if small is None or large is None:
        print("growth: missing")
        failed = True
    else:
        print("growth     100k %.3f s (target < 0.1), 1M %.3f s (target < 1)"
              % (small, large))
        print("ratio growth 1M / 100k = %.2f (target <= 12)"
              % (large / small if small > 0 else float("inf")))
    for part, target in TARGETS.items():
        if part not in ours or part not in theirs:
            print("%s: missing (pellar %s, cscript %s)" % (part, ours.get(part), theirs.get(part)))
            failed = True
            continue
        print("%-10s pellar %.3f s, cscript %.3f s" % (part, ours[part], theirs[part]))
        ratio = ours[part] / theirs[part] if theirs[part] > 0 else float("inf")
        print("ratio pellar / cscript %s = %.3f (target <= %.2f)" % (part, ratio, target))
    if args.tree_bench:
        subprocess.run([args.tree_bench], check=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
