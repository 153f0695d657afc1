#!/usr/bin/env python3
"""A scripted HTTP/1.1 server on 127.0.0.1 for the online tests.

Every path answers with a fixed script of bytes, pauses and closes, so that
the client meets chunk boundaries, odd headers, redirects and silences as they
happen on real networks. Each request that arrives whole is appended to the
log file as one JSON line. Paths ending in /ofa/1/track act as the
fingerprint service: the request fields are checked and an XML answer given.

Usage: http_script_server.py --log FILE [--tls CERT KEY]
Prints "PORT n" once listening; exits when its standard input closes.
"""

import argparse
import base64
import json
import os
import socket
import ssl
import sys
import threading
import time
import urllib.parse

LOG_LOCK = threading.Lock()
COUNTERS = {}
COUNTERS_LOCK = threading.Lock()

CLIENT_ID = "5e0c3b9a7d21f4868a0b1c2d3e4f5a6b"
PUID = "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0"


def log_request(path, entry):
    with LOG_LOCK:
        with open(path, "a", encoding="utf-8") as f:
            f.write(json.dumps(entry) + "\n")


def bump(name):
    with COUNTERS_LOCK:
        COUNTERS[name] = COUNTERS.get(name, 0) + 1
        return COUNTERS[name]


def read_request(conn):
    """Head and body of one request, or None when it never arrives whole."""
    data = b""
    conn.settimeout(10)
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(65536)
        if not chunk:
            return None
        data += chunk
    head, _, rest = data.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    method, path, _ = (lines[0].split(" ") + ["", "", ""])[:3]
    headers = []
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers.append([name, value.strip()])
    length = 0
    for name, value in headers:
        if name.lower() == "content-length":
            length = int(value)
    while len(rest) < length:
        chunk = conn.recv(65536)
        if not chunk:
            break
        rest += chunk
    return {
        "method": method,
        "path": path,
        "headers": headers,
        "body": rest.decode("latin-1"),
        "raw": (head + b"\r\n\r\n" + rest).decode("latin-1"),
    }


def header(req, name):
    for n, v in req["headers"]:
        if n.lower() == name.lower():
            return v
    return None


def response(status, body=b"", extra=(), length=True):
    reason = {200: "OK", 301: "Moved Permanently", 302: "Found", 401: "Unauthorized",
              404: "Not Found", 500: "Internal Server Error", 503: "Service Unavailable",
              400: "Bad Request"}.get(status, "Status")
    lines = ["HTTP/1.1 %d %s" % (status, reason)]
    lines += list(extra)
    if length:
        lines.append("Content-Length: %d" % len(body))
    lines.append("Connection: close")
    return ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1") + body


def check_fingerprint_request(req):
    """An empty text when the request is what the client must send."""
    if req["method"] != "POST":
        return "method " + req["method"]
    if header(req, "User-Agent") != "libofa_example":
        return "user agent %r" % header(req, "User-Agent")
    if header(req, "Content-type") != "application/x-www-form-urlencoded":
        return "content type %r" % header(req, "Content-type")
    pairs = [p.split("=", 1) for p in req["body"].split("&")]
    names = [p[0] for p in pairs]
    values = {p[0]: urllib.parse.unquote(p[1]) for p in pairs if len(p) == 2}
    if "fpt" in names:
        want = ["cid", "cvr", "fpt", "rmd", "brt", "fmt", "dur", "art", "ttl", "alb",
                "tnm", "gnr", "yrr"]
        fixed = {"cid": CLIENT_ID, "cvr": "1.0", "rmd": "1", "brt": "0", "fmt": "wav",
                 "art": "unknown", "ttl": "unknown", "alb": "unknown", "tnm": "0",
                 "gnr": "unknown", "yrr": "unknown"}
        if not values.get("fpt"):
            return "empty fingerprint"
        if not values.get("dur", "").isdigit() or int(values["dur"]) < 1000:
            return "duration %r" % values.get("dur")
    else:
        want = ["cid", "cvr", "uid", "rmd", "fmt", "art", "ttl", "alb", "tnm", "gnr", "yrr"]
        fixed = {"cid": CLIENT_ID, "cvr": "1.0", "uid": PUID, "rmd": "1", "fmt": "mp3",
                 "art": "unknown", "ttl": "unknown", "alb": "unknown", "tnm": "0",
                 "gnr": "unknown", "yrr": "unknown"}
    if names != want:
        return "fields " + ",".join(names)
    for k, v in fixed.items():
        if values.get(k) != v:
            return "%s=%r" % (k, values.get(k))
    return ""


def fingerprint_answer(mode):
    if mode == "garbage":
        return b"this is no XML at all"
    if mode == "empty":
        return b'<?xml version="1.0"?><metadata><track></track></metadata>'
    puid = '<puid-list><puid id="%s"/></puid-list>' % PUID
    if mode == "puidonly":
        return ('<?xml version="1.0"?><metadata><track>%s</track></metadata>' % puid).encode()
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<metadata xmlns="http://musicbrainz.org/ns/mmd-1.0#">\n'
            '  <track id="7e1b">\n'
            '    <title>Tones &amp; Silence</title>\n'
            '    <artist id="a1"><name>Bj\u00f6rk \u0418\u0432\u0430\u043d</name></artist>\n'
            '    %s\n'
            '  </track>\n'
            '</metadata>\n' % puid).encode("utf-8")


def serve(conn, args, port):
    req = read_request(conn)
    if req is None:
        return
    path = req["path"]
    entry = dict(req)
    if path.endswith("/ofa/1/track"):
        entry["check"] = check_fingerprint_request(req)
    log_request(args.log, entry)
    base = "http%s://127.0.0.1:%d" % ("s" if args.tls else "", port)
    route = path.split("?")[0]

    def send(data):
        conn.sendall(data)

    if route.endswith("/ofa/1/track"):
        mode = route[: -len("/ofa/1/track")].strip("/")
        if mode == "missing":
            send(response(404, b"no service here"))
        elif entry["check"]:
            send(response(400, entry["check"].encode()))
        else:
            send(response(200, fingerprint_answer(mode), ["Content-Type: text/xml"]))
    elif route in ("/echo", "/post") or route.startswith("/dir/"):
        send(response(200, req["raw"].encode("latin-1")))
    elif route == "/":
        send(response(200, b"root page"))
    elif route == "/chunked-split":
        send(response(200, extra=["Transfer-Encoding: chunked"], length=False) + b"5\r\nhel")
        time.sleep(0.3)
        send(b"lo\r\n6\r\n wor")
        time.sleep(0.3)
        send(b"ld\r\n0\r\n\r\n")
    elif route == "/chunk-ext":
        send(response(200, extra=["Transfer-Encoding: Chunked"], length=False) +
             b"5;name=value\r\nhello\r\n6 ; x\r\n world\r\n0\r\n\r\n")
    elif route == "/chunk-hexprefix":
        send(response(200, extra=["Transfer-Encoding: chunked"], length=False) +
             b"&H5\r\nhello\r\n0\r\n\r\n")
    elif route == "/chunk-bad":
        send(response(200, extra=["Transfer-Encoding: chunked"], length=False) +
             b"5\r\nhello\r\nzz\r\nmore\r\n0\r\n\r\n")
    elif route == "/chunk-badend":
        send(response(200, extra=["Transfer-Encoding: chunked"], length=False) +
             b"5\r\nhelloXY3\r\nabc\r\n0\r\n\r\n")
    elif route == "/chunk-huge":
        send(response(200, extra=["Transfer-Encoding: chunked"], length=False) +
             b"FFFFFFFFFFFF\r\n" + b"x" * 1000)
    elif route == "/chunk-overflow":
        send(response(200, extra=["Transfer-Encoding: chunked"], length=False) +
             b"10000000000000005\r\nhello\r\n0\r\n\r\n")
    elif route == "/chunk-noend":
        send(response(200, extra=["Transfer-Encoding: chunked"], length=False) +
             b"5\r\nhello\r\n")
    elif route == "/chunk-big":
        body = bytes(range(256)) * 4096  # 1 MiB in one chunk, sent in pieces
        send(response(200, extra=["Transfer-Encoding: chunked"], length=False) +
             b"%x\r\n" % len(body))
        for i in range(0, len(body), 100000):
            send(body[i:i + 100000])
            time.sleep(0.01)
        send(b"\r\n3\r\nend\r\n0\r\n\r\n")
    elif route == "/continue":
        send(b"HTTP/1.1 100 Continue\r\n\r\n")
        time.sleep(0.2)
        send(response(200, b"after continue", ["X-Second: yes"]))
    elif route in ("/redir-rel", "/a/redir-rel"):
        send(response(301, b"moved", ["Location: /target"]))
    elif route == "/a/redir-noslash":
        send(response(301, b"moved", ["Location: target"]))
    elif route == "/redir-abs":
        send(response(302, b"moved", ["Location: %s/target" % base]))
    elif route == "/redir-empty":
        if bump("redir-empty") == 1:
            send(response(302, b"try again"))
        else:
            send(response(200, b"second time"))
    elif route == "/target":
        send(response(200, b"target body"))
    elif route == "/loop-a":
        send(response(302, b"to b", ["Location: /loop-b"]))
    elif route == "/loop-b":
        send(response(302, b"to a", ["Location: /loop-a"]))
    elif route == "/redir-404":
        send(response(302, b"to missing", ["Location: /missing"]))
    elif route == "/retry-503":
        send(response(503, b"busy"))
    elif route == "/cookie":
        send(response(200, b"cookie set", ["Set-Cookie: sid=abc123; Path=/; HttpOnly"]))
    elif route == "/short":
        send(response(200, b"y" * 50, length=False).replace(
            b"Connection: close", b"Content-Length: 100\r\nConnection: close"))
    elif route == "/silent-body":
        send(response(200, b"hello"))
        time.sleep(5)
    elif route == "/silent":
        time.sleep(5)
    elif route == "/auth":
        want = "Basic " + base64.b64encode(b"user:pa ss").decode()
        if header(req, "Authorization") == want:
            send(response(200, b"welcome"))
        else:
            send(response(401, b"who are you"))
    elif route == "/endless":
        send(response(200, length=False))
        block = b"z" * 65536
        try:
            while True:
                send(block)
        except OSError:
            pass
    elif route == "/endless-header":
        send(b"HTTP/1.1 200 OK\r\n")
        try:
            while True:
                send(b"X-Filler: " + b"f" * 1000 + b"\r\n")
        except OSError:
            pass
    elif route.startswith("/status/"):
        send(response(int(route.split("/")[2]), b"status page"))
    else:
        send(response(404, b"no such script"))


def handle(conn, args, port, context):
    try:
        if context is not None:
            try:
                conn = context.wrap_socket(conn, server_side=True)
            except (ssl.SSLError, OSError):
                return
        serve(conn, args, port)
    except (OSError, ssl.SSLError):
        pass
    finally:
        try:
            conn.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        conn.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--log", required=True)
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    args = parser.parse_args()
    context = None
    if args.tls:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.tls[0], args.tls[1])
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(64)
    port = listener.getsockname()[1]
    print("PORT %d" % port, flush=True)

    def watch_stdin():
        sys.stdin.read()
        os._exit(0)

    threading.Thread(target=watch_stdin, daemon=True).start()
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=handle, args=(conn, args, port, context), daemon=True).start()


if __name__ == "__main__":
    main()
