#!/usr/bin/env python3
"""A local RFC 3161 time-stamp authority for the tests: tsa_server.py WORKDIR [--crl-dir DIR].

Makes root.crt (the anchor), tsa.crt and noeku.crt (no extended key usage) with the openssl
command, prints the port it serves on 127.0.0.1 and a port that refuses connections, and ends
when its standard input closes. POST /tsa, /slow/SECONDS, /flaky/TAG (503 once) answer with
`openssl ts -reply`; /replay (another nonce), /noeku, /reject and the STATIC paths misbehave;
GET /crl/NAME serves a file of the CRL directory.
"""
import http.server
import itertools
import os
import socket
import subprocess
import sys
import threading
import time

TSA_CONFIG = (
    "[ tsa ]\ndefault_tsa = tsa_config\n[ tsa_config ]\nserial = {dir}/tsaserial\n"
    "crypto_device = builtin\nsigner_cert = {dir}/tsa.crt\nsigner_key = {dir}/tsa.key\n"
    "signer_digest = sha256\ndefault_policy = 1.3.6.1.4.1.99999.1\n"
    "other_policies = 1.3.6.1.4.1.99999.2\ndigests = sha256, sha384, sha512\n"
    "accuracy = secs:1\nordering = no\ntsa_name = no\ness_cert_id_chain = no\n"
    "ess_cert_id_alg = sha256\n")

EXTENSIONS = (
    "[ root ]\nbasicConstraints = critical, CA:TRUE\nkeyUsage = critical, keyCertSign, cRLSign\n"
    "subjectKeyIdentifier = hash\n"
    "[ tsa ]\nbasicConstraints = CA:FALSE\nkeyUsage = critical, digitalSignature\n"
    "extendedKeyUsage = critical, timeStamping\n"
    "[ noeku ]\nbasicConstraints = CA:FALSE\nkeyUsage = critical, digitalSignature\n")


def openssl(*args, data=None):
    return subprocess.run(("openssl",) + args, input=data, check=True,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE).stdout


def make_pki(work):
    if os.path.exists(os.path.join(work, "noeku.crt")):
        return
    ext = os.path.join(work, "extensions.cnf")
    with open(ext, "w") as f:
        f.write(EXTENSIONS)
    p = lambda name: os.path.join(work, name)
    issuer = ("-CA", p("root.crt"), "-CAkey", p("root.key"))
    for name, subject, ca in (("root", "Brevick Test TSA Root", ()), ("tsa", "Brevick Test TSA", issuer),
                              ("noeku", "Brevick Test No EKU", issuer)):
        openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout",
                p(name + ".key"), "-out", p(name + ".crt"), "-days", "3650", "-subj", "/CN=" + subject,
                "-extensions", name, "-config", ext, *ca)
    with open(p("tsa.cnf"), "w") as f:
        f.write(TSA_CONFIG.format(dir=work))
    with open(p("tsaserial"), "w") as f:
        f.write("01\n")


def der_elements(data, start, end):  # (tag, header start, content start, content end)
    out = []
    at = start
    while at < end:
        tag, length, head = data[at], data[at + 1], 2
        if length & 0x80:
            count = length & 0x7F
            length = int.from_bytes(data[at + 2:at + 2 + count], "big")
            head += count
        out.append((tag, at, at + head, at + head + length))
        at += head + length
    return out


def request_parts(query):  # the MessageImprint and nonce elements of a TimeStampReq
    _, _, body, end = der_elements(query, 0, len(query))[0]
    fields = der_elements(query, body, end)
    imprint = query[fields[1][1]:fields[1][3]]
    nonce = next((query[f[1]:f[3]] for f in fields[2:] if f[0] == 0x02), b"")
    return imprint, nonce


def der(tag, content):
    n = len(content)
    if n < 0x80:
        return bytes([tag, n]) + content
    size = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([tag, 0x80 | len(size)]) + size + content


class Tsa:
    def __init__(self, work):
        self.work = work
        self.lock = threading.Lock()  # the serial file is shared
        self.flaky_seen = set()
        self.serials = itertools.count(1001)

    def reply(self, query):
        with self.lock:
            return openssl("ts", "-reply", "-config", os.path.join(self.work, "tsa.cnf"),
                           "-queryfile", "/dev/stdin", data=query)

    def replay(self, query):  # the same imprint, answered for another nonce
        _, nonce = request_parts(query)
        at = query.rfind(nonce) + len(nonce) - 1
        return self.reply(query[:at] + bytes([query[at] ^ 1]) + query[at + 1:] if nonce else query)

    def no_eku(self, query):
        imprint, nonce = request_parts(query)
        serial = next(self.serials)
        gen_time = time.strftime("%Y%m%d%H%M%SZ", time.gmtime()).encode()
        policy = bytes.fromhex("06092b06010401868d1f01")  # 1.3.6.1.4.1.99999.1, as /tsa
        tst_info = der(0x30, der(0x02, b"\x01") + policy + imprint +
                       der(0x02, serial.to_bytes(serial.bit_length() // 8 + 1, "big")) + der(0x18, gen_time) + nonce)
        p = lambda name: os.path.join(self.work, name)
        token = openssl("cms", "-sign", "-binary", "-nodetach", "-in", "/dev/stdin", "-outform", "DER",
                        "-signer", p("noeku.crt"), "-inkey", p("noeku.key"), "-md", "sha256",
                        "-econtent_type", "1.2.840.113549.1.9.16.1.4", "-nosmimecap", data=tst_info)
        return der(0x30, der(0x30, der(0x02, b"\x00")) + token)


REJECTION = der(0x30, der(0x30, der(0x02, b"\x02") + der(0x30, der(0x0C, b"policy not accepted"))
                          + der(0x03, b"\x00\x00\x01")))


STATIC = {  # path: (HTTP status, body, Content-Type)
    "http404": (404, b"not here\n", "text/plain"),
    "http500": (500, b"broken\n", "text/plain"),
    "html": (200, b"<html><body>Sign in first</body></html>\n", "text/html"),
    "reject": (200, REJECTION, "application/timestamp-reply"),
}


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, status, body, content_type="application/timestamp-reply"):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        try:
            self.wfile.write(body)
        except (BrokenPipeError, ConnectionResetError):
            pass

    def do_GET(self):  # /crl/NAME; basename keeps it inside the CRL directory
        path = os.path.join(self.server.crl_dir or "", os.path.basename(self.path))
        if not self.path.startswith("/crl/") or not os.path.isfile(path):
            return self.answer(404, b"not found\n", "text/plain")
        with open(path, "rb") as f:
            self.answer(200, f.read(), "application/pkix-crl")

    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        tsa = self.server.tsa
        parts = self.path.strip("/").split("/")
        if parts[0] in STATIC:
            return self.answer(*STATIC[parts[0]])
        if parts[0] in ("replay", "noeku"):
            return self.answer(200, tsa.replay(query) if parts[0] == "replay" else tsa.no_eku(query))
        if parts[0] == "slow":
            time.sleep(float(parts[1]) if len(parts) > 1 else 5)
        if parts[0] == "flaky":
            with tsa.lock:
                first = self.path not in tsa.flaky_seen
                tsa.flaky_seen.add(self.path)
            if first:
                return self.answer(503, b"busy\n", "text/plain")
        if parts[0] not in ("tsa", "slow", "flaky"):
            return self.answer(404, b"no such path\n", "text/plain")
        self.answer(200, tsa.reply(query))


def main():
    work = os.path.abspath(sys.argv[1])
    crl_dir = sys.argv[3] if len(sys.argv) > 3 and sys.argv[2] == "--crl-dir" else None
    os.makedirs(work, exist_ok=True)
    make_pki(work)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.tsa = Tsa(work)
    server.crl_dir = crl_dir
    refused = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    refused.bind(("127.0.0.1", 0))  # bound, never listening: connections are refused
    print(server.server_address[1], flush=True)
    print(refused.getsockname()[1], flush=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    sys.stdin.read()  # until the test closes it or dies
    os._exit(0)


if __name__ == "__main__":
    main()
