#!/usr/bin/env python3
"""The tests' time-stamp authority, started by tsa_server.cc: tsa_server.py DIR.

DIR holds tsa.cnf for `openssl ts -reply`, the certificates and key it names, and crl/. Prints
the port it serves on 127.0.0.1 and a port that refuses connections; ends when its standard
input closes. POST /tsa answers with a token; the first word of another path picks a fault.
"""
import http.server
import os
import re
import socket
import subprocess
import sys
import threading
import time

DIR = os.path.abspath(sys.argv[1])
LOCK = threading.Lock()  # for the TSA's serial file and the flaky paths seen
FLAKY_SEEN = set()


def openssl(*args, data=None):
    return subprocess.run(("openssl",) + args, input=data, check=True, capture_output=True).stdout


def reply(query, *extra):
    with LOCK:
        return openssl("ts", "-reply", "-config", os.path.join(DIR, "tsa.cnf"),
                       "-queryfile", "/dev/stdin", *extra, data=query)


def replay(query):  # the same imprint, answered for another nonce: the request's second INTEGER
    fields = re.findall(r"(\d+):d=1 +hl=(\d+) l= *(\d+) prim: INTEGER",
                        openssl("asn1parse", "-inform", "DER", data=query).decode())
    last = sum(map(int, fields[1])) - 1
    return reply(query[:last] + bytes([query[last] ^ 1]) + query[last + 1:])


def signed_by(name):  # a real token's TSTInfo signed again with DIR/name.pem, granted
    def answer(query):
        tst_info = openssl("cms", "-verify", "-noverify", "-binary", "-inform", "DER",
                           data=reply(query, "-token_out"))
        token = openssl("cms", "-sign", "-binary", "-nodetach", "-outform", "DER", "-md", "sha256",
                        "-signer", os.path.join(DIR, name + ".pem"), "-inkey", os.path.join(DIR, "leaf.key"),
                        "-econtent_type", "1.2.840.113549.1.9.16.1.4", "-nosmimecap", data=tst_info)
        return b"\x30\x82" + (len(token) + 5).to_bytes(2, "big") + bytes.fromhex("3003020100") + token
    return answer


def granted(make):
    return lambda query: (200, make(query), "application/timestamp-reply")


def fixed(status, body, content_type="text/plain"):
    return lambda query: (status, body, content_type)


REJECTION = bytes.fromhex("3021301f02010230150c13") + b"policy not accepted" + bytes.fromhex("0303000001")
ROUTES = {  # by the path's first word; slow/SECONDS sleeps first, flaky/TAG answers 503 once
    "tsa": granted(reply), "slow": granted(reply), "flaky": granted(reply), "replay": granted(replay),
    "noeku": granted(signed_by("noeku")), "codesign": granted(signed_by("codesign")),
    "http404": fixed(404, b"not here\n"), "http500": fixed(500, b"broken\n"),
    "html": fixed(200, b"<html><body>Sign in first</body></html>\n", "text/html"),
    "reject": fixed(200, REJECTION, "application/timestamp-reply"),
}


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def handle(self):  # a client that gave up (a timeout, a size limit) is no error here
        try:
            super().handle()
        except (BrokenPipeError, ConnectionResetError):
            pass

    def answer(self, status, body, content_type="application/timestamp-reply"):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):  # /crl/NAME; basename keeps it inside the CRL directory
        path = os.path.join(DIR, "crl", os.path.basename(self.path))
        if not self.path.startswith("/crl/") or not os.path.isfile(path):
            return self.answer(404, b"not found\n", "text/plain")
        with open(path, "rb") as f:
            self.answer(200, f.read(), "application/pkix-crl")

    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        word, _, argument = self.path.strip("/").partition("/")
        if word == "slow":
            time.sleep(float(argument))
        with LOCK:
            busy = word == "flaky" and self.path not in FLAKY_SEEN
            FLAKY_SEEN.add(self.path)
        if busy or word not in ROUTES:
            return self.answer(503 if busy else 404, b"busy\n" if busy else b"no such path\n", "text/plain")
        self.answer(*ROUTES[word](query))


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
refused = socket.socket()
refused.bind(("127.0.0.1", 0))  # bound, never listening: connections are refused
print(server.server_address[1], refused.getsockname()[1], flush=True)
threading.Thread(target=server.serve_forever, daemon=True).start()
sys.stdin.read()  # until the test process closes it or dies
os._exit(0)
