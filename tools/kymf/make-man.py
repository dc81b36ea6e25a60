#!/usr/bin/env python3
"""Writes kymf's manual page from kymf's own help, so the two never disagree.

    make-man.py KYMF OUT.1

The page's description, exit codes and examples are the text of `kymf
--help`; each command's section is the text of `kymf COMMAND --help` (its
usage, arguments and options), in the order `kymf --help` lists them.
"""
import re
import subprocess
import sys


def help_of(kymf, *words):
    result = subprocess.run([kymf, *words, "--help"], capture_output=True, text=True,
                            env={"COLUMNS": "200", "LC_ALL": "C"})
    if result.returncode != 0:
        sys.exit(f"make-man.py: {' '.join([kymf, *words])} --help failed: {result.stderr}")
    return result.stdout


def roff(text):
    """Text made safe for roff: backslashes, and a leading dot or quote."""
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return re.sub(r"^([.'])", r"\\&\1", text, flags=re.M)


def sections(text):
    """The blocks of a CLI11 help text, by heading ('Options:', ...)."""
    found, heading = {"": []}, ""
    for line in text.split("\n"):
        if re.match(r"^[A-Z][A-Za-z ]*:$", line):
            heading = line[:-1]
            found[heading] = []
        else:
            found[heading].append(line)
    return found


def items(lines):
    """The `  NAME   meaning` lines of a block, as (name, meaning) pairs."""
    pairs = []
    for line in lines:
        matched = re.match(r"^  (\S.*?)(?:\s{2,}(\S.*))?$", line)
        if matched:
            pairs.append((matched.group(1), matched.group(2) or ""))
        elif pairs and line.strip():
            pairs[-1] = (pairs[-1][0], pairs[-1][1] + " " + line.strip())
    return pairs


def tagged(pairs):
    out = []
    for name, meaning in pairs:
        out += [".TP", f"\\fB{roff(name)}\\fR", roff(meaning)]
    return out


def page(kymf):
    main = help_of(kymf)
    parts = sections(main)
    intro = "\n".join(l for l in parts[""] if not l.startswith("Usage:"))
    examples = "\n".join(l for l in parts.get("Examples", []) if l.startswith("  "))
    version = subprocess.run([kymf, "--version"], capture_output=True, text=True).stdout.strip()
    commands = items(parts.get("Subcommands", []))
    lines = [f'.TH KYMF 1 "" "{roff(version)}" "User Commands"', ".SH NAME",
             "kymf \\- create, inspect, change and unpack KYMF multi\\-file archives",
             ".SH SYNOPSIS", "\\fBkymf\\fR [\\fIOPTIONS\\fR] \\fICOMMAND\\fR [\\fIARGS\\fR...]",
             ".SH DESCRIPTION"]
    # A help line that follows a finished sentence starts a paragraph of its own.
    paragraph = []
    for line in intro.strip().split("\n") + [""]:
        if paragraph and (not line.strip() or paragraph[-1].endswith(".")):
            lines += [".PP", roff(" ".join(paragraph))]
            paragraph = []
        if line.strip():
            paragraph.append(line.strip())
    lines += [".SH OPTIONS"] + tagged(items(parts.get("Options", [])))
    lines += [".SH COMMANDS"]
    for name, meaning in commands:
        command = sections(help_of(kymf, name))
        usage = next((l for l in command[""] if l.startswith("Usage:")), "")
        lines += [f".SS {name}", roff(meaning), ".PP", f"\\fB{roff(usage[7:].strip())}\\fR"]
        lines += tagged(items(command.get("Positionals", [])))
        lines += tagged(items(command.get("Options", [])))
    if examples.strip():
        lines += [".SH EXAMPLES", ".nf"]
        lines += [roff(l.strip()) for l in examples.strip().split("\n") if l.strip()]
        lines += [".fi"]
    lines += [".SH SEE ALSO", "tar(1), sha256sum(1), fusermount3(1)"]
    return "\n".join(lines) + "\n"


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: make-man.py KYMF OUT.1")
    text = page(sys.argv[1])
    with open(sys.argv[2], "w", encoding="utf-8") as out:
        out.write(text)


if __name__ == "__main__":
    main()
