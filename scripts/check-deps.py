#!/usr/bin/python3
"""Proves that every program in scripts/programs.txt comes from a Debian package that
scripts/install-deps.sh installs: one of scripts/packages.txt or a package they depend on.
A program installed by hand, or left over from earlier work, can then never hide a missing
install step: a fresh machine gets exactly what this check accepted.

Usage: scripts/check-deps.py [--packages FILE] [--programs FILE]     exit 0 all found, 1 not."""
import argparse
import os
import re
import shutil
import subprocess
import sys

here = os.path.dirname(os.path.abspath(__file__))


def words(path):
    with open(path) as f:
        return [w for line in f for w in line.split("#", 1)[0].split()]


def installed_packages():
    """name -> (dependency groups, provided names, on every Debian system) for every installed package."""
    out = subprocess.run(["dpkg-query", "-W", "-f=${db:Status-Abbrev}\t${Priority}\t${Package}\t${Depends}, ${Pre-Depends}\t${Provides}\n"],
                         capture_output=True, text=True, check=True).stdout
    packages = {}
    for line in out.splitlines():
        status, priority, name, depends, provides = line.split("\t")
        if not status.startswith("ii"):
            continue
        groups = [[bare(alt) for alt in group.split("|")] for group in depends.split(",") if group.strip()]
        packages[name] = (groups, [bare(p) for p in provides.split(",") if p.strip()], priority == "required")
    return packages


def bare(relation):
    """'libc6:any (>= 2.34)' -> 'libc6'."""
    return re.sub(r"\s*\(.*?\)|:\S+", "", relation).strip()


def closure(roots, packages):
    providers = {}
    for name, (_, provides, _) in packages.items():
        for virtual in provides:
            providers.setdefault(virtual, []).append(name)
    # Packages of priority "required" are on every Debian system, fresh ones included.
    seen, todo = set(), list(roots) + [n for n, p in packages.items() if p[2]]
    while todo:
        name = todo.pop()
        if name in seen or name not in packages:
            continue
        seen.add(name)
        for group in packages[name][0]:
            for alt in group:
                todo.extend([alt] if alt in packages else providers.get(alt, []))
    return seen


def owner(path):
    """The package that ships path, trying the forms a merged /usr may have registered."""
    real = os.path.realpath(path)
    candidates = [path, real]
    for p in (path, real):
        if p.startswith("/usr/"):
            candidates.append(p[4:])
        elif re.match(r"/(s?bin|lib)/", p):
            candidates.append("/usr" + p)
    for c in candidates:
        r = subprocess.run(["dpkg-query", "-S", c], capture_output=True, text=True)
        if r.returncode == 0:
            first = r.stdout.splitlines()[0]
            if not first.startswith("diversion"):
                return [p.strip().split(":")[0] for p in first.rsplit(": ", 1)[0].split(",")]
    return []


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--packages", default=os.path.join(here, "packages.txt"))
    ap.add_argument("--programs", default=os.path.join(here, "programs.txt"))
    args = ap.parse_args()
    listed = words(args.packages)
    packages = installed_packages()
    missing = [p for p in listed if p not in packages]
    accepted = closure(listed, packages)
    failures = [f"package {p} of {args.packages} is not installed (run scripts/install-deps.sh)" for p in missing]
    for program in words(args.programs):
        path = program if "/" in program else shutil.which(program)
        if not path or not os.access(path, os.X_OK):
            failures.append(f"{program}: not found; add the Debian package that provides it to {args.packages}")
            continue
        owners = owner(path)
        if not owners:
            failures.append(f"{program}: {path} belongs to no Debian package (installed by hand?); "
                            f"add the package that provides it to {args.packages}")
        elif not accepted.intersection(owners):
            failures.append(f"{program}: comes from package {', '.join(owners)}, which {args.packages} "
                            f"neither lists nor pulls in; add it there")
    for f in failures:
        print(f"check-deps: {f}", file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
