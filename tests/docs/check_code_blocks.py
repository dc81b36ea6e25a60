#!/usr/bin/env python3
"""Runs or compiles every code block of a Markdown page, so the page stays true.

    check_code_blocks.py [options] PAGE.md

Each fenced block says what it is by its info string, and an untagged block
is itself a failure:
- ```sh: run, in page order, by one bash (-euo pipefail) in a scratch folder,
  with kymf first on PATH and the installed package found by pkg-config.
- ```cpp or ```cmake whose first line is a comment naming a file
  (`// game/main.cpp`, `# game/CMakeLists.txt`): written to the scratch
  folder under that name, for the page's own shell blocks to build and run
  (as a reader would, with the commands the page shows).
- ```cpp holding `int main(` otherwise: a whole program, built against the
  installed package and run in the scratch folder.
- ```cpp otherwise: a fragment, compiled (not run) as the body of a function
  with <RXMFiles.h> and <rxm/rxm.hpp>; its own #include lines go on top.
- ```text: output or a listing, not code; not checked.
The blocks run with HOME a folder of the scratch folder's own, and with
build/default there naming the build tree given (--build-tree), so that a page
can show `cmake --install build/default --prefix "$HOME/.local"`.
An HTML comment on the line before a block changes that:
  <!-- checked: by CI -->   the block is a command that CI itself runs
                           (the README's quick start); it is not run here.
  <!-- checked: fuse -->     run only where FUSE mounts work here (/dev/fuse).
The scratch folder is served over HTTP and HTTPS by the test servers
(tests/remote/servers.py), so a page shows a URL as
https://cdn.example.com/NAME and reads the scratch folder's NAME through it:
that address is replaced by the local server's before a block runs, and
`ca.pem` there is the servers' certificate.
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SERVERS = os.path.join(HERE, "..", "remote", "servers.py")
EXAMPLE_HOST = "https://cdn.example.com"
FENCE = re.compile(r"^```(\S*)\s*$")
NAMED = re.compile(r"^(?://|#) ([\w./-]+\.(?:cpp|h|hpp|txt))\n")
MARK = re.compile(r"^<!--\s*checked:\s*(.+?)\s*-->\s*$")


class Block:
    def __init__(self, kind, line, text, mark):
        self.kind, self.line, self.text, self.mark = kind, line, text, mark


def blocks_of(page):
    """The page's fenced blocks, with the mark on the line before each."""
    lines = open(page, encoding="utf-8").read().split("\n")
    found, i = [], 0
    while i < len(lines):
        opened = FENCE.match(lines[i])
        if not opened:
            i += 1
            continue
        before = lines[i - 1] if i > 0 else ""
        mark = MARK.match(before)
        body, j = [], i + 1
        while j < len(lines) and lines[j].rstrip() != "```":
            body.append(lines[j])
            j += 1
        if j == len(lines):
            sys.exit(f"{page}:{i + 1}: a code block is never closed")
        found.append(Block(opened.group(1), i + 1, "\n".join(body) + "\n",
                           mark.group(1) if mark else None))
        i = j + 1
    return found


def fuse_works():
    return os.path.exists("/dev/fuse") and os.access("/dev/fuse", os.R_OK | os.W_OK) \
        and shutil.which("fusermount3") is not None


def compile_fragment(block, page, args, work):
    includes = [l for l in block.text.split("\n") if l.startswith("#include")]
    body = [l for l in block.text.split("\n") if not l.startswith("#include")]
    source = os.path.join(work, f"fragment_{block.line}.cpp")
    with open(source, "w", encoding="utf-8") as out:
        out.write("#include <RXMFiles.h>\n#include <rxm/rxm.hpp>\n")
        out.write("\n".join(includes) + "\n")
        out.write(f"#line {block.line + 1} \"{page}\"\n")
        out.write("[[maybe_unused]] static void fragment() {\n" + "\n".join(body) + "\n}\n")
    flags = subprocess.run(["pkg-config", "--cflags", "rxmfiles"], check=True,
                           capture_output=True, text=True, env=args.env).stdout.split()
    result = subprocess.run([args.cxx, "-std=c++17", "-fsyntax-only", "-Wall", *flags, source],
                            capture_output=True, text=True)
    return result.returncode == 0, result.stderr


def build_and_run(block, page, args, work):
    source = os.path.join(work, f"program_{block.line}.cpp")
    with open(source, "w", encoding="utf-8") as out:
        out.write(f"#line {block.line + 1} \"{page}\"\n" + block.text)
    flags = subprocess.run(["pkg-config", "--cflags", "--libs", "rxmfiles"], check=True,
                           capture_output=True, text=True, env=args.env).stdout.split()
    libdir = subprocess.run(["pkg-config", "--variable=libdir", "rxmfiles"], check=True,
                            capture_output=True, text=True, env=args.env).stdout.strip()
    program = source[:-4]
    built = subprocess.run([args.cxx, "-std=c++17", "-Wall", source, "-o", program, *flags,
                            f"-Wl,-rpath,{libdir}"], capture_output=True, text=True)
    if built.returncode != 0:
        return False, built.stderr
    ran = subprocess.run([program], cwd=work, env=args.env, capture_output=True, text=True)
    return ran.returncode == 0, ran.stdout + ran.stderr


def run_shell(block, page, args, work):
    text = block.text.replace(EXAMPLE_HOST, args.base)
    result = subprocess.run(["bash", "-euo", "pipefail", "-c", text], cwd=work, env=args.env,
                            capture_output=True, text=True)
    return result.returncode == 0, result.stdout + result.stderr


def check(page, args, work):
    failures = 0
    for block in blocks_of(page):
        where = f"{page}:{block.line}"
        if block.mark == "by CI":
            print(f"{where}: run by CI, not here")
            continue
        if block.mark == "fuse" and not fuse_works():
            print(f"{where}: left out, FUSE mounts do not work here")
            continue
        if block.mark not in (None, "fuse"):
            print(f"{where}: unknown mark '{block.mark}'")
            failures += 1
            continue
        if block.kind == "text":
            continue
        named = NAMED.match(block.text) if block.kind in ("cpp", "cmake") else None
        if named:
            name = named.group(1)
            os.makedirs(os.path.dirname(os.path.join(work, name)), exist_ok=True)
            with open(os.path.join(work, name), "w", encoding="utf-8") as out:
                out.write(block.text)
            print(f"{where}: wrote {name}")
            continue
        if block.kind == "cpp" and "int main(" in block.text:
            ok, said = build_and_run(block, page, args, work)
        elif block.kind == "cpp":
            ok, said = compile_fragment(block, page, args, work)
        elif block.kind == "sh":
            ok, said = run_shell(block, page, args, work)
        else:
            ok, said = False, f"a code block must say what it is (sh, cpp, text), not '{block.kind}'"
        print(f"{where}: {block.kind} {'ok' if ok else 'FAILED'}")
        if not ok:
            print(said.rstrip())
            failures += 1
    return failures


def start_servers(scratch):
    servers = os.path.join(scratch, "servers")
    os.makedirs(servers)
    subprocess.run([sys.executable, SERVERS, "start", servers], check=True)
    with open(os.path.join(servers, "servers.json"), encoding="utf-8") as f:
        return servers, json.load(f)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kymf", required=True, help="the kymf to put first on PATH")
    parser.add_argument("--prefix", required=True, help="where the package is installed")
    parser.add_argument("--cxx", default="c++")
    parser.add_argument("--build-tree", help="the build tree that build/default names")
    parser.add_argument("--setup", help="a script run in the scratch folder first")
    parser.add_argument("page")
    # Absolute, so that the run path pkg-config gives holds from any folder.
    args = parser.parse_args()
    args.prefix = os.path.abspath(args.prefix)

    scratch = tempfile.mkdtemp(prefix="docs-check-")
    servers = None
    try:
        servers, about = start_servers(scratch)
        work = os.path.join(servers, "www")
        args.base = f"https://127.0.0.1:{about['https']}"
        shutil.copy(about["ca"], os.path.join(work, "ca.pem"))
        home = os.path.join(scratch, "home")
        os.makedirs(home)
        if args.build_tree:
            os.makedirs(os.path.join(work, "build"))
            os.symlink(os.path.abspath(args.build_tree), os.path.join(work, "build", "default"))
        pc = [os.path.join(r, "") for r, _, files in os.walk(args.prefix) if "rxmfiles.pc" in files]
        args.env = dict(os.environ,
                        PATH=os.path.dirname(os.path.abspath(args.kymf)) + os.pathsep +
                        os.environ["PATH"],
                        PKG_CONFIG_PATH=pc[0] if pc else "",
                        HOME=home, CXX=args.cxx, RXMFILES_CA_FILE=about["ca"])
        if args.setup:
            subprocess.run(["bash", "-euo", "pipefail", os.path.abspath(args.setup)], cwd=work,
                           env=args.env, check=True)
        failures = check(args.page, args, work)
    finally:
        if servers:
            subprocess.run([sys.executable, SERVERS, "stop", servers])
        shutil.rmtree(scratch, ignore_errors=True)
    if failures:
        sys.exit(f"{args.page}: {failures} code block(s) failed")
    print(f"{args.page}: every code block holds")


if __name__ == "__main__":
    main()
