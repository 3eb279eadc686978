#!/usr/bin/env python3
"""Holds our sources to the naming rule of .clang-tidy, with Debian 12's clang-tidy 14.

  scripts/naming.py check BUILD...   lists every name that breaks the rule; exit 1 if any
  scripts/naming.py fix BUILD...     renames them with clang-tidy's own fixes, then checks

BUILD is a configured build folder: its compile_commands.json gives each
file's compiler flags (in a unity build, a generated unit's flags are those
of the files it includes). The files of the first are read, then the files
that only the later ones compile (a Windows cross-build: build-wine/win64, for
platform_win32.cpp and the other Windows sides): each source once, for one
build. Only our own sources count: files under the source tree, not
generated into a build folder.

`check` parses the files that one target compiles with the same command
together, as one translation unit, so that the system headers they share
(the standard library, GoogleTest, CLI11, cpp-httplib: most of the time)
are parsed and walked once, not once a file: clang-tidy then reports every
name of every file, as it does one file at a time. Two files of one target
may both hold a name of internal linkage (`kESC` in two anonymous
namespaces): the first such clash ends that unit, and the files from the
clashing one on are checked again in a unit of their own; a file that
fails on its own is reported as before.

`fix` gathers every file's replacements first and applies them all at once
(clang-apply-replacements), so a name is renamed in every file that uses it,
the Windows sides included; rebuild and run the tests afterwards. A name
that clang-tidy cannot rename (one made inside a macro) stays listed.
"""
import functools
import itertools
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
SOURCE_SUFFIXES = {".c", ".cc", ".cpp"}
# gcc's options that clang does not know; dropped from the commands clang-tidy reads.
GCC_ONLY_OPTIONS = {"-fno-keep-inline-dllexport"}
MINGW_COMPILER = re.compile(r"(?P<triple>[^/]+-w64-mingw32)-g(cc|\+\+)[^/]*$")
FINDING = re.compile(r"^(?P<where>/[^:]+:\d+:\d+): (?:error|warning): (?P<what>.*) "
                     r"\[(?P<check>[^\],]+)(,-warnings-as-errors)?\]$")
# CMake's unity units: unity_0_cxx.cxx, one #include "/path/file.cpp" a part.
UNITY_UNIT = re.compile(r"^unity_\d+_(c|cxx)\.(c|cxx)$")
UNITY_INCLUDE = re.compile(r'^#include "(/[^"]+)"$')
# What clang itself cannot compile (a clash of two files in one unit).
COMPILE_ERROR = re.compile(r"^(?P<file>/[^:]+):\d+:\d+: (?:fatal )?error: .*\[clang-diagnostic-error\]$")


def tool(name):
    found = shutil.which(name)
    if not found:
        sys.exit(f"naming.py: {name} is missing (Debian 12: apt-get install clang-tidy)")
    return found


@functools.lru_cache(maxsize=None)
def mingw_cxx_includes(compiler):
    """The C++ standard library folders of a mingw-w64 g++: clang finds
    mingw's C headers by itself, but not libstdc++ under gcc's versioned folder."""
    probe = subprocess.run([compiler, "-E", "-x", "c++", "-", "-v"], input="",
                           capture_output=True, text=True, check=True)
    listed = probe.stderr.split("#include <...> search starts here:")[1].split("End of search list.")[0]
    return [line.strip() for line in listed.splitlines() if "/c++" in line]


def clang_arguments(arguments, file):
    """A gcc command as clang-tidy reads it: gcc-only options dropped, a
    mingw-w64 compiler's target and C++ headers named, compiler warnings off
    (they are the compilers' business, -Werror in the test build)."""
    compiler = arguments[0]
    kept = [compiler] + [a for a in arguments[1:] if a not in GCC_ONLY_OPTIONS]
    mingw = MINGW_COMPILER.search(compiler)
    if mingw:
        kept.append("--target=" + mingw["triple"])
        if Path(file).suffix != ".c":
            kept += ["-isystem" + folder for folder in mingw_cxx_includes(compiler)]
    # No error limit: a unit that clashes is still read to its end.
    return kept + ["-Wno-everything", "-ferror-limit=0"]


def unity_parts(compiled):
    """The files a unity build's generated unit includes (CMake lists only
    the unit in compile_commands.json), or none for any other file."""
    if not UNITY_UNIT.match(compiled.name) or "Unity" not in compiled.parent.name:
        return []
    return [Path(m[1]) for m in map(UNITY_INCLUDE.match, compiled.read_text().splitlines()) if m]


def our_sources(builds):
    """{file: compile command} for every source of ours the builds compile."""
    build_folders = [Path(b).resolve() for b in builds]
    chosen = {}
    for build in build_folders:
        database = build / "compile_commands.json"
        if not database.is_file():
            sys.exit(f"naming.py: no {database} (configure that build first)")
        ours = 0
        for entry in json.loads(database.read_text()):
            compiled = Path(entry["directory"], entry["file"]).resolve()
            for file in unity_parts(compiled) or [compiled]:
                generated = any(folder in file.parents for folder in build_folders)
                if file.suffix not in SOURCE_SUFFIXES or ROOT not in file.parents or generated:
                    continue
                ours += 1
                if str(file) not in chosen:
                    arguments = entry.get("arguments") or shlex.split(entry["command"])
                    arguments = [str(file) if a == entry["file"] else a for a in arguments]
                    chosen[str(file)] = {"directory": entry["directory"], "file": str(file),
                                         "arguments": clang_arguments(arguments, file)}
        # A build of another checkout would leave its files unchecked, and the
        # check passing on nothing.
        if not ours:
            sys.exit(f"naming.py: {build} compiles no source of {ROOT}")
    return chosen


def findings_in(output):
    found = [FINDING.match(line) for line in output.splitlines()]
    return {(m["where"], m["what"], m["check"]) for m in found if m}


def run_clang_tidy(sources, work, export_fixes):
    """Runs clang-tidy on every file, one file a unit, as many at once as
    there are cores (what `fix` needs: each use of a name as the file alone
    sees it); gives back the unique findings and the output of the files
    that failed without one (a file clang cannot read)."""
    (work / "compile_commands.json").write_text(json.dumps(list(sources.values())))
    clang_tidy = tool("clang-tidy-14")
    header_filter = "^" + re.escape(str(ROOT)) + "/"

    def one(numbered):
        number, file = numbered
        command = [clang_tidy, "-p", str(work), "--quiet", "--header-filter=" + header_filter, file]
        if export_fixes:
            command.append(f"--export-fixes={work}/fixes/{number}.yaml")
        return subprocess.run(command, capture_output=True, text=True)

    (work / "fixes").mkdir()
    findings, failures = set(), []
    with ThreadPoolExecutor(max_workers=os.cpu_count()) as pool:
        for done in pool.map(one, enumerate(sorted(sources))):
            found = findings_in(done.stdout)
            findings |= found
            if done.returncode != 0 and not found:
                failures.append(done.stdout + done.stderr)
    return findings, failures


def units(sources):
    """The files grouped by the command that compiles them (one target's
    files, in one build), largest group first."""
    groups = {}
    for file, entry in sorted(sources.items()):
        command = [a for a in entry["arguments"] if a != file]
        if "-o" in command:
            at = command.index("-o")
            del command[at:at + 2]
        groups.setdefault((entry["directory"], tuple(command)), []).append(file)
    return sorted(groups.items(), key=lambda group: -len(group[1]))


def check_in_units(sources, work):
    """Runs clang-tidy over each group of units() as one translation unit
    that includes the group's files in turn, as many units at once as there
    are cores. Where clang finds an error in a later file of a unit (a clash
    with an earlier one), what was found stands and the files from that one
    on are checked again as a unit of their own; an error in a unit's first
    file, or in a header, has each file checked alone. Gives back what
    run_clang_tidy does."""
    clang_tidy = tool("clang-tidy-14")
    header_filter = "^" + re.escape(str(ROOT)) + "/"
    # The unit is read with our rule, as each of its files is: clang-tidy
    # takes the .clang-tidy nearest to each file (none for system headers).
    shutil.copy(ROOT / ".clang-tidy", work / ".clang-tidy")
    numbers = itertools.count()

    def run(directory, command, files):
        unit = work / f"unit-{next(numbers)}"
        unit.mkdir()
        source = unit / ("unit" + Path(files[0]).suffix)
        source.write_text("".join(f'#include "{file}"\n' for file in files))
        (unit / "compile_commands.json").write_text(json.dumps(
            [{"directory": directory, "file": str(source), "arguments": [*command, str(source)]}]))
        return subprocess.run([clang_tidy, "-p", str(unit), "--quiet",
                               "--header-filter=" + header_filter, str(source)],
                              capture_output=True, text=True)

    def check(group):
        (directory, command), files = group
        findings, failures = set(), []
        while files:
            done = run(directory, command, files)
            findings |= {f for f in findings_in(done.stdout) if not f[2].startswith("clang-")}
            errors = [m["file"] for m in map(COMPILE_ERROR.match, done.stdout.splitlines()) if m]
            if not errors:
                if done.returncode != 0 and not findings_in(done.stdout):
                    failures.append(done.stdout + done.stderr)
                break
            if errors[0] in files[1:]:
                files = files[files.index(errors[0]):]
                continue
            if len(files) == 1:
                failures.append(done.stdout + done.stderr)
                break
            for alone in map(check, [((directory, command), [file]) for file in files]):
                findings |= alone[0]
                failures += alone[1]
            break
        return findings, failures

    findings, failures = set(), []
    with ThreadPoolExecutor(max_workers=os.cpu_count()) as pool:
        for found, failed in pool.map(check, units(sources)):
            findings |= found
            failures += failed
    return findings, failures


def report(findings, failures, count):
    for output in failures:
        print(output.rstrip(), file=sys.stderr)
    for where, what, check in sorted(findings):
        print(f"{os.path.relpath(where.rsplit(':', 2)[0], ROOT)}:{where.rsplit(':', 2)[1]}: "
              f"{what} [{check}]")
    if findings or failures:
        print(f"naming: {len(findings)} finding(s) in {count} files; the rule is in .clang-tidy, "
              f"and scripts/naming.py fix BUILD... applies clang-tidy's renames", file=sys.stderr)
        return 1
    print(f"naming: {count} files keep to the naming rule")
    return 0


def main():
    if len(sys.argv) < 3 or sys.argv[1] not in ("check", "fix"):
        sys.exit(__doc__.split("\n\n")[1])
    mode, builds = sys.argv[1], sys.argv[2:]
    # No lower priority: on a machine kept busy by other work a niced check
    # got a tenth of the cores and outran its ctest timeout (600 s), while the
    # tests beside it wait on the printer's pauses and need little CPU.
    sources = our_sources(builds)
    with tempfile.TemporaryDirectory(prefix="it433td-naming-") as work:
        if mode == "check":
            findings, failures = check_in_units(sources, Path(work))
            return report(findings, failures, len(sources))
        findings, failures = run_clang_tidy(sources, Path(work), export_fixes=True)
        if mode == "fix" and findings:
            subprocess.run([tool("clang-apply-replacements-14"), f"{work}/fixes"], check=True)
            print(f"naming: applied clang-tidy's renames for {len(findings)} finding(s)")
    if mode == "fix" and findings:
        with tempfile.TemporaryDirectory(prefix="it433td-naming-") as work:
            findings, failures = run_clang_tidy(sources, Path(work), export_fixes=False)
    return report(findings, failures, len(sources))


if __name__ == "__main__":
    sys.exit(main())
