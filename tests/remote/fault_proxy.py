#!/usr/bin/env python3
"""A proxy between the remote tests and nginx that misbehaves on request.

    fault_proxy.py PORT UPSTREAM_PORT [--rtt MS]

Listens on 127.0.0.1:PORT and forwards each request to 127.0.0.1:UPSTREAM_PORT,
keeping connections alive on both sides. A request for /f/ID/FAULT/PATH is
forwarded as /PATH with FAULT applied; FAULT-N applies it to the first N
requests of that ID only (the ID is the test's own, so tests never share a
count), FAULT@N to the Nth only, FAULT+N to the Nth and every later one,
FAULT alone to every request:

    reset      sends the head and half the body, then resets the connection
    truncate   sends the head and half the body, then closes the connection
    stall      sends the head and half the body, then sends nothing for 60 s
    503, 429   answers that status with "Retry-After: 0" instead of forwarding
    unguard    drops If-Match, If-Range and If-Unmodified-Since from the request
    hugerange  claims "Content-Range: bytes 0-999999999999/1000000000000" and
               sends the body and 8 MiB of zeros after it, then closes
    trickle    sends the head, then 2 bytes of the body every half second
               for 6 s, then closes
    slow       sends the head, then 2 KiB of the body a second
    headstall  sends nothing for 60 s
    headtrickle
               sends the head a line every half second, then the body
    shortlength
               claims a Content-Length one byte short of its Content-Range
               and sends that many bytes of the body, keeping the connection
    redirect   answers 302 to the same path on nginx, at "localhost"
    noetag     drops ETag from the response

--rtt MS adds a round trip of MS milliseconds to every new connection and to
every request (the time is spent before forwarding), as a link with that
latency would: the benchmarks' 20 ms network.
"""
import http.client
import re
import socket
import socketserver
import struct
import sys
import threading
import time

UPSTREAM = 0
RTT = 0.0
COUNTS = {}
COUNTS_LOCK = threading.Lock()
FAULT_PATH = re.compile(r"^/f/([^/]+)/([a-z0-9]+)(?:([-@+])(\d+))?(/.*)$")
GUARDS = {"if-match", "if-range", "if-unmodified-since"}


def read_head(stream):
    lines = []
    while True:
        line = stream.readline(65537)
        if not line:
            return None
        if line in (b"\r\n", b"\n"):
            return lines
        lines.append(line.decode("latin-1").rstrip("\r\n"))


def fault_of(path):
    """The fault to apply to this request and the path to forward."""
    match = FAULT_PATH.match(path)
    if not match:
        return None, path
    ident, fault, how, number, rest = match.groups()
    with COUNTS_LOCK:
        COUNTS[ident] = COUNTS.get(ident, 0) + 1
        seen = COUNTS[ident]
    if ((how == "-" and seen > int(number)) or (how == "@" and seen != int(number))
            or (how == "+" and seen < int(number))):
        fault = None
    return fault, rest


class Handler(socketserver.StreamRequestHandler):
    def setup(self):
        super().setup()
        # The head and the body go out as separate writes: without this, a
        # small body waits for the client's delayed ACK (Nagle).
        self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def handle(self):
        if RTT:
            time.sleep(RTT)
        upstream = http.client.HTTPConnection("127.0.0.1", UPSTREAM, timeout=120)
        while self.one_request(upstream):
            pass
        upstream.close()

    def one_request(self, upstream):
        head = read_head(self.rfile)
        if not head:
            return False
        method, path, _ = head[0].split(" ", 2)
        headers = [line.split(":", 1) for line in head[1:] if ":" in line]
        fault, path = fault_of(path)
        if RTT:
            time.sleep(RTT)
        if fault == "headstall":
            time.sleep(60)
            return False
        if fault == "redirect":
            self.wfile.write(f"HTTP/1.1 302 Found\r\nLocation: http://localhost:{UPSTREAM}{path}"
                             "\r\nContent-Length: 0\r\n\r\n".encode())
            return True
        if fault in ("503", "429"):
            self.wfile.write(f"HTTP/1.1 {fault} Busy\r\nRetry-After: 0\r\n"
                             "Content-Length: 0\r\n\r\n".encode())
            return True
        upstream.putrequest(method, path, skip_host=True, skip_accept_encoding=True)
        for name, value in headers:
            if fault == "unguard" and name.strip().lower() in GUARDS:
                continue
            upstream.putheader(name.strip(), value.strip())
        upstream.endheaders()
        response = upstream.getresponse()
        out = [f"HTTP/1.1 {response.status} {response.reason}"]
        for name, value in response.getheaders():
            if fault == "noetag" and name.lower() == "etag":
                continue
            if fault == "hugerange" and name.lower() in ("content-range", "content-length"):
                continue
            out.append(f"{name}: {value}")
        if fault == "hugerange":
            out += ["Content-Range: bytes 0-999999999999/1000000000000",
                    "Content-Length: 1000000000000"]
        if fault == "shortlength":
            out = [line for line in out if not line.lower().startswith("content-length:")]
            body = response.read()
            out.append(f"Content-Length: {max(len(body) - 1, 0)}")
            self.wfile.write(("\r\n".join(out) + "\r\n\r\n").encode("latin-1") + body[:-1])
            return True
        if fault == "headtrickle":
            for line in out + [""]:
                self.wfile.write((line + "\r\n").encode("latin-1"))
                self.wfile.flush()
                time.sleep(0.5)
        else:
            self.wfile.write(("\r\n".join(out) + "\r\n\r\n").encode("latin-1"))
        if fault in ("hugerange", "trickle", "slow"):
            return self.misfeed(fault, response.read())
        if fault in ("reset", "truncate", "stall"):
            body = response.read()
            self.wfile.write(body[: len(body) // 2])
            self.wfile.flush()
            if fault == "stall":
                time.sleep(60)
            elif fault == "reset":
                self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                           struct.pack("ii", 1, 0))
            return False
        while True:
            chunk = response.read(1 << 20)
            if not chunk:
                return True
            self.wfile.write(chunk)

    def misfeed(self, fault, body):
        try:
            if fault == "hugerange":
                self.wfile.write(body + bytes(8 << 20))
            elif fault == "trickle":
                for at in range(0, min(len(body), 24), 2):
                    self.wfile.write(body[at:at + 2])
                    self.wfile.flush()
                    time.sleep(0.5)
            else:
                for at in range(0, len(body), 2048):
                    self.wfile.write(body[at:at + 2048])
                    self.wfile.flush()
                    time.sleep(1)
        except OSError:
            pass  # the client gave up, as it should
        return False


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 128


def main():
    global UPSTREAM, RTT
    port, UPSTREAM = int(sys.argv[1]), int(sys.argv[2])
    if len(sys.argv) == 5 and sys.argv[3] == "--rtt":
        RTT = int(sys.argv[4]) / 1000.0
    Server(("127.0.0.1", port), Handler).serve_forever()


if __name__ == "__main__":
    main()
