#!/usr/bin/env python3
"""Runs one transcript case file of the host tool and checks its output.

A case file holds blocks of

    RUN: <command>        run by /bin/sh; a trailing backslash continues the line
    EXIT: <code>          expected exit status of the block's command (default 0)
    CHECK: <pattern>      a later line of stdout contains pattern
    CHECK-NEXT: <pattern> the line right after the previous match contains it
    CHECK-NOT: <pattern>  no line between the previous match and the next one
                          (or the end) contains it
    CHECK-ERR[-NEXT|-NOT]: the same on stderr, with its own position
    TIMEOUT: <seconds>    the block's time limit (default 60)

Directives may follow a '#', so a case file can be its own shell script for
`qrvacq shell %s`; any other line is then left to the tool. Patterns are
literal text with {{regex}} parts. Substitutions in commands: %qrvacq, %t (an
empty folder for the case), %S (the case file's folder), %s (the case file),
%fixtures, %sim, and any NAME given with --subst NAME=VALUE.
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile

DIRECTIVE = re.compile(r"^\s*#?\s*(RUN|EXIT|TIMEOUT|CHECK(?:-ERR)?(?:-NEXT|-NOT)?):(.*)$")
# Something that looks like a directive but is none: a typo, not a comment.
LOOKALIKE = re.compile(r"^\s*#?\s*(RUN|EXIT|TIMEOUT|CHECK)[A-Z-]*:")


class CaseError(Exception):
    pass


def parse(path):
    """The case's blocks: dicts of line, command, exit, timeout and checks
    (line, mode, stream, pattern)."""
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    blocks, loose, number = [], [], 0
    while number < len(lines):
        text = lines[number]
        number += 1
        m = DIRECTIVE.match(text)
        if not m:
            if LOOKALIKE.match(text):
                raise CaseError(f"line {number}: unknown directive {text.strip()!r}")
            if text.strip() and not text.lstrip().startswith("#"):
                loose.append(number)
            continue
        kind, arg = m.group(1), m.group(2).strip()
        if kind == "RUN":
            start = number
            while arg.endswith("\\") and number < len(lines):
                arg = arg[:-1] + " " + re.sub(r"^\s*#?\s*(RUN:)?", "", lines[number]).strip()
                number += 1
            blocks.append(dict(line=start, command=arg, exit=0, timeout=60.0, checks=[]))
        elif not blocks:
            raise CaseError(f"line {number}: {kind} before any RUN")
        elif kind == "EXIT":
            blocks[-1]["exit"] = int(arg)
        elif kind == "TIMEOUT":
            blocks[-1]["timeout"] = float(arg)
        elif not arg:
            raise CaseError(f"line {number}: empty pattern")
        else:
            mode = "NEXT" if kind.endswith("-NEXT") else "NOT" if kind.endswith("-NOT") else "CHECK"
            stream = "stderr" if "-ERR" in kind else "stdout"
            blocks[-1]["checks"].append((number, mode, stream, arg))
    if not blocks:
        raise CaseError("no RUN line")
    if loose and not any(re.search(r"%s\b", b["command"]) for b in blocks):
        raise CaseError(f"line {loose[0]}: neither a comment nor a directive")
    return blocks


def compile_pattern(pattern):
    parts, rest = [], pattern
    while "{{" in rest:
        before, _, after = rest.partition("{{")
        regex, sep, rest = after.partition("}}")
        if not sep:
            raise CaseError(f"unclosed {{{{ in {pattern!r}")
        parts += [re.escape(before), "(?:" + regex + ")"]
    return re.compile("".join(parts) + re.escape(rest))


def check_stream(lines, checks):
    """Returns None, or a message naming the first check that failed."""
    pos, pending = 0, []  # first line not yet matched; CHECK-NOTs waiting for the next match

    def forbidden(end):
        for number, pattern, regex in pending:
            for line in lines[pos:end]:
                if regex.search(line):
                    return f"line {number}: CHECK-NOT {pattern!r} matches output line {line!r}"
        return None

    for number, mode, pattern in checks:
        regex = compile_pattern(pattern)
        if mode == "NOT":
            pending.append((number, pattern, regex))
            continue
        if mode == "NEXT":
            if pos >= len(lines) or not regex.search(lines[pos]):
                got = lines[pos] if pos < len(lines) else "<end of output>"
                return f"line {number}: CHECK-NEXT {pattern!r} does not match the next line {got!r}"
            found = pos
        else:
            found = next((i for i in range(pos, len(lines)) if regex.search(lines[i])), None)
            if found is None:
                return f"line {number}: CHECK {pattern!r} not found after output line {pos}"
        failure = forbidden(found)
        if failure:
            return failure
        pending, pos = [], found + 1
    return forbidden(len(lines))


def run_block(block, subst, path):
    # Longest names first, so %sim is not read as %s followed by "im".
    names = "|".join(map(re.escape, sorted(subst, key=len, reverse=True)))
    command = re.sub("%(" + names + ")", lambda m: subst[m.group(1)], block["command"])
    env = dict(os.environ)
    env.update({v: "off" for v in ("KZR_ARAVIS", "KZR_GENTL") if v + "=" not in command})
    child = subprocess.Popen(["/bin/sh", "-c", command], stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env,
                             start_new_session=True)
    failure = None
    try:
        out, err = child.communicate(timeout=block["timeout"])
    except subprocess.TimeoutExpired:
        failure = f"timed out after {block['timeout']:g} s"
    try:  # whatever the command left behind goes with it
        os.killpg(child.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    out, err = (text.decode("utf-8", "replace") for text in
                (child.communicate() if failure else (out, err)))
    code = child.returncode
    if failure is None and code != block["exit"]:
        failure = f"exit status {code}, expected {block['exit']}"
    for stream, text in (("stdout", out), ("stderr", err)):
        if failure is None:
            checks = [(n, mode, p) for n, mode, s, p in block["checks"] if s == stream]
            failure = check_stream(text.splitlines(), checks)
    if failure is None:
        return True
    print(f"FAIL {path}:{block['line']}: {failure}\ncommand: {command}\nexit status: {code}")
    print("--- stdout ---\n" + out + "--- stderr ---\n" + err + "---")
    return False


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("case")
    parser.add_argument("--subst", action="append", default=[], metavar="NAME=VALUE")
    args = parser.parse_args()
    path = os.path.abspath(args.case)
    tests = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    subst = {"qrvacq": "qrvacq", "fixtures": os.path.join(tests, "fixtures"),
             **dict(item.partition("=")[::2] for item in args.subst)}
    subst.setdefault("sim", os.path.join(subst["fixtures"], "sim"))
    subst.update(S=os.path.dirname(path), s=path)
    try:
        blocks = parse(path)
    except (CaseError, ValueError) as e:
        print(f"{path}: {e}")
        return 2
    subst["t"] = tempfile.mkdtemp(prefix="qrvacq-case-")
    try:
        ok = all([run_block(block, subst, path) for block in blocks])
    finally:
        shutil.rmtree(subst["t"], ignore_errors=True)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
