#!/usr/bin/env python3
"""Compares readings of INF files: `taldevice inf FILE --json` of one build against another build
or against the setup library's readings kept in the corpus (tests/setup/inf/expected/).

  inf_compare.py builds --native TALDEVICE --win TALDEVICE.EXE [--wine TAL-WINE] FOLDER
      every *.inf / *.inx of FOLDER read by both builds (the Windows one under wine, through the
      system's setup library; the native one through the simulated host, given wine's folder
      variables so that directory ids name the same folders)
  inf_compare.py expected --tool TALDEVICE [--wine TAL-WINE] CORPUS
      every *.inf of CORPUS read by one build against CORPUS/expected/NAME.txt

FOLDER defaults to the folder named by TAL_INF_DIR.

Two differences are deliberate and reported as such, not as failures:
  - wine's setup library puts directory ids it does not implement (13, the driver store folder,
    and 66004) under a placeholder folder, C:\\windows\\system32\\unknown, where the simulated host
    gives the folder Windows documents: a line that differs only there is "placeholder";
  - the simulated host refuses UTF-16 without a byte order mark and big-endian UTF-16 (error 13,
    ERROR_INVALID_DATA), where the setup library guesses: "refused by the reader alone".
Exit status: 0 when every file agrees (or differs only deliberately), 1 otherwise, 2 bad usage.
"""
import json
import os
import subprocess
import sys

PLACEHOLDER = "C:\\windows\\system32\\unknown"
FOLDER_VARIABLES = ["SystemRoot", "USERPROFILE", "APPDATA", "LOCALAPPDATA", "ProgramData", "PUBLIC",
                    "ProgramFiles", "ProgramFiles(x86)", "CommonProgramFiles",
                    "CommonProgramFiles(x86)", "ALLUSERSPROFILE"]


def dump(doc):
    """The reading as the lines of the corpus's expected files."""
    if "error" in doc:
        return ["refused 0x%08X line %u" % (doc["code"], doc["line"])]
    out = []
    for section in doc["sections"]:
        out.append("[%s]" % section["name"])
        for line in section["lines"]:
            text = "  <%s>" % line["key"] if line["key"] is not None else "  -"
            for field in line["fields"]:
                text += " |%s|" % field
            out.append(text)
    return out


def matches_placeholder(ours, theirs):
    """True when `ours` is `theirs` with each placeholder folder replaced by some text."""
    pieces = theirs.split(PLACEHOLDER)
    if len(pieces) < 2 or not ours.startswith(pieces[0]):
        return False
    at = len(pieces[0])
    for piece in pieces[1:-1]:
        at = ours.find(piece, at)
        if at < 0:
            return False
        at += len(piece)
    return len(ours) - at >= len(pieces[-1]) and ours.endswith(pieces[-1])


def compare(ours, theirs):
    """(verdict, notes): "same", "placeholder", "refused by the reader alone" or "DIFFERENT"."""
    if ours == theirs:
        return "same", []
    if len(ours) == 1 and ours[0].startswith("refused 0x0000000D "):
        return "refused by the reader alone", []
    if len(ours) != len(theirs):
        return "DIFFERENT", ["%d lines here, %d there" % (len(ours), len(theirs))] + \
            first_difference(ours, theirs)
    notes = []
    for a, b in zip(ours, theirs):
        if a == b:
            continue
        if matches_placeholder(a, b):
            notes.append("placeholder: %s  (wine: %s)" % (a.strip(), b.strip()))
            continue
        return "DIFFERENT", ["native:  " + a, "windows: " + b]
    return "placeholder", notes


def first_difference(ours, theirs):
    for a, b in zip(ours, theirs):
        if a != b:
            return ["native:  " + a, "windows: " + b]
    return []


def read(command, path, env=None):
    result = subprocess.run(command + ["inf", path, "--json"], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, env=env)
    if result.returncode not in (0, 1):
        raise RuntimeError("%s: exit %d: %s" % (path, result.returncode,
                                                result.stderr.decode(errors="replace")))
    return json.loads(result.stdout.decode("utf-8"))


def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine_environment(wine):
    """The folder variables of a Windows process under wine."""
    result = subprocess.run([wine, "cmd.exe", "/c", "set"], stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL)
    values = {}
    for line in result.stdout.decode("utf-8", errors="replace").splitlines():
        name, _, value = line.strip("\r").partition("=")
        for wanted in FOLDER_VARIABLES:
            if name.lower() == wanted.lower():
                values[wanted] = value
    return values


def report(name, verdict, notes):
    print("%-40s %s" % (name, verdict))
    for note in notes:
        print("    " + note)
    return verdict == "DIFFERENT"


def files_of(folder, extensions):
    return sorted(f for f in os.listdir(folder)
                  if os.path.splitext(f)[1].lower() in extensions
                  and os.path.isfile(os.path.join(folder, f)))


def main(argv):
    args = list(argv)
    if not args or args[0] not in ("builds", "expected"):
        print(__doc__, file=sys.stderr)
        return 2
    mode = args.pop(0)
    options = {"--native": None, "--win": None, "--tool": None, "--wine": None}
    folder = None
    while args:
        a = args.pop(0)
        if a in options and args:
            options[a] = args.pop(0)
        elif folder is None and not a.startswith("--"):
            folder = a
        else:
            print(__doc__, file=sys.stderr)
            return 2
    here = os.path.dirname(os.path.abspath(__file__))
    wine = options["--wine"] or os.path.join(here, "tal-wine")
    folder = folder or os.environ.get("TAL_INF_DIR")
    if folder is None or not os.path.isdir(folder):
        print("inf_compare: no folder of INF files (%s)" % folder, file=sys.stderr)
        return 2
    failed = False
    counts = {}
    if mode == "builds":
        if not options["--native"] or not options["--win"]:
            print(__doc__, file=sys.stderr)
            return 2
        env = dict(os.environ)
        env.update(wine_environment(wine))
        for name in files_of(folder, (".inf", ".inx")):
            path = os.path.abspath(os.path.join(folder, name))
            ours = read([options["--native"]], path, env)
            theirs = read([wine, options["--win"]], wine_path(path))
            # %1%, the INF's own folder, is spelt as each system spells the path.
            native_dir, windows_dir = os.path.dirname(path) + "/", wine_path(path)[:-len(name)]
            lines = [l.replace(native_dir, windows_dir) for l in dump(ours)]
            verdict, notes = compare(lines, dump(theirs))
            counts[verdict] = counts.get(verdict, 0) + 1
            failed = report(name, verdict, notes) or failed
    else:
        if not options["--tool"]:
            print(__doc__, file=sys.stderr)
            return 2
        tool = options["--tool"]
        windows = tool.lower().endswith(".exe")
        env = dict(os.environ)
        if not windows:  # the variables the expected readings were made with
            with open(os.path.join(folder, "expected", "environment.txt"), encoding="utf-8") as f:
                for line in f:
                    name, _, value = line.rstrip("\n").partition("=")
                    if name:
                        env[name] = value
        for name in files_of(folder, (".inf",)):
            path = os.path.join(folder, name)
            with open(os.path.join(folder, "expected", os.path.splitext(name)[0] + ".txt"),
                      encoding="utf-8") as f:
                theirs = f.read().splitlines()
            doc = read([wine, tool], wine_path(path)) if windows else read([tool], path, env)
            verdict, notes = compare(dump(doc), theirs)
            counts[verdict] = counts.get(verdict, 0) + 1
            failed = report(name, verdict, notes) or failed
    print(", ".join("%d %s" % (n, v) for v, n in sorted(counts.items())))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
