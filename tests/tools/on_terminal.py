#!/usr/bin/env python3
"""Runs a shell command with its standard error on a pseudo-terminal and
prints what arrived there, so that a test sees what a person at a terminal
sees. Exits with the command's status.

    on_terminal.py 'COMMAND'
"""
import os
import pty
import subprocess
import sys


def main():
    leader, follower = pty.openpty()
    child = subprocess.Popen(["bash", "-c", sys.argv[1]], stderr=follower)
    os.close(follower)
    seen = bytearray()
    while True:
        try:
            chunk = os.read(leader, 65536)
        except OSError:  # EIO: every writer of the terminal has closed it
            break
        if not chunk:
            break
        seen += chunk
    sys.stdout.buffer.write(bytes(seen))
    sys.exit(child.wait())


if __name__ == "__main__":
    main()
