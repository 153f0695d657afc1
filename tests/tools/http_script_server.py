#!/usr/bin/env python3
# A scripted HTTP/1.1 server on 127.0.0.1 for the online tests.
#
# Every path answers with a fixed script of byte strings and pauses (seconds),
# so that the client meets chunk boundaries, odd headers, redirects and
# silences as they happen on real networks. /status/N answers with status N;
# any path not in SCRIPTS echoes the request it got. Each request that arrives
# whole is appended to the log file as one JSON line. Paths ending in
# /ofa/1/track are the fingerprint service, /badkey/v2/lookup is AcoustID
# refusing a key; a path under /slow/ answers 1.5 s late. With --root, a path
# naming a file below that folder (or a folder holding index.html) answers
# with the file as it is at the time of the request.
#
# Paths ending in /cddb.cgi are a CDDB server (see cddb_answer).
#
# Usage: http_script_server.py --log FILE [--tls CERT KEY] [--root DIR]
# Prints "PORT n" once listening; exits when its standard input closes.

import argparse
import itertools
import json
import os
import socket
import ssl
import sys
import threading
import time
import urllib.parse

LOCK = threading.Lock()
SEEN = {}
ROOT = None
PUID = "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0"
CHUNKED = b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"


def answer(status, body=b"", *headers):
    head = ["HTTP/1.1 %d Script" % status, *headers, "Content-Length: %d" % len(body)]
    return ("\r\n".join(head) + "\r\nConnection: close\r\n\r\n").encode() + body


def endless(head, block):
    return itertools.chain([head], itertools.repeat(block))


BIG = bytes(range(256)) * 4096  # one chunk of 1 MiB, sent in pieces
SCRIPTS = {
    "/chunked-split": [CHUNKED + b"5\r\nhel", 0.2, b"lo\r\n6\r\n wor", 0.2, b"ld\r\n0\r\n\r\n"],
    "/chunk-ext": [CHUNKED.replace(b"chunked", b"Chunked") +
                   b"5;name=value\r\nhello\r\n6 ; x\r\n world\r\n0\r\n\r\n"],
    "/chunk-hexprefix": [CHUNKED + b"&H5\r\nhello\r\n0\r\n\r\n"],
    "/chunk-big": [CHUNKED + b"100000\r\n"] +
                  [x for i in range(0, len(BIG), 100000) for x in (BIG[i:i + 100000], 0.01)] +
                  [b"\r\n3\r\nend\r\n0\r\n\r\n"],
    "/chunk-bad": [CHUNKED + b"5\r\nhello\r\nzz\r\nmore\r\n0\r\n\r\n"],
    "/chunk-badend": [CHUNKED + b"5\r\nhelloXY3\r\nabc\r\n0\r\n\r\n"],
    "/chunk-huge": [CHUNKED + b"FFFFFFFFFFFF\r\n" + b"x" * 1000],
    "/chunk-overflow": [CHUNKED + b"10000000000000005\r\nhello\r\n0\r\n\r\n"],
    "/chunk-noend": [CHUNKED + b"5\r\nhello\r\n"],
    "/continue": [b"HTTP/1.1 100 Continue\r\n\r\n", 0.2, answer(200, b"after continue")],
    "/a/redir-rel": [answer(301, b"moved", "Location: /target")],
    "/redir-abs": [answer(302, b"moved", "Location: {base}/target")],
    "/redir-404": [answer(302, b"to missing", "Location: /status/404")],
    "/loop-a": [answer(302, b"to b", "Location: /loop-b")],
    "/loop-b": [answer(302, b"to a", "Location: /loop-a")],
    "/target": [answer(200, b"target body")],
    "/cookie": [answer(200, b"", "Set-Cookie: a = 1 ; Path=/; Secure", "Set-Cookie: b=x=y;;")],
    "/short": [b"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + b"y" * 50],
    "/silent-body": [answer(200, b"hello"), 5.0],
    "/silent": [5.0],
    "/nolength-closed": [b"HTTP/1.1 200 OK\r\n\r\nhello"],
    "/nolength-silent": [b"HTTP/1.1 200 OK\r\n\r\nhel", 5.0],
    "/endless": lambda: endless(b"HTTP/1.1 200 OK\r\n\r\n", b"z" * 65536),
    "/endless-header": lambda: endless(b"HTTP/1.1 200 OK\r\n", b"X-Filler: %s\r\n" % (b"f" * 999)),
    # Hostile pacing: interim answers without end, a header or a body that
    # drips a byte at a time, and a body that is slow but steady.
    "/continue-forever": lambda: endless(b"", b"HTTP/1.1 100 Continue\r\n\r\n"),
    "/continue-3": [b"HTTP/1.1 100 Continue\r\n\r\n" * 3, answer(200, b"third time")],
    "/drip-header": lambda: itertools.chain([b"HTTP/1.1 200 OK\r\nX-Drip: "],
                                            itertools.cycle([b"x", 0.05])),
    "/drip-body": lambda: itertools.chain([b"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n"],
                                          itertools.cycle([b"y", 0.05])),
    "/paced-body": [b"HTTP/1.1 200 OK\r\nContent-Length: 2000\r\n\r\n"] + [b"p" * 200, 0.1] * 10,
    # A line break inside a cookie must not become a header of the next hop.
    "/cookie-lf": [answer(302, b"", "Set-Cookie: a=1\nX-Injected: yes", "Set-Cookie: b=2",
                          "Location: /echo")],
    "/ofa/1/track": [answer(200, ('<?xml version="1.0" encoding="UTF-8"?>\n<metadata xmlns="http://'
                                  'musicbrainz.org/ns/mmd-1.0#"><track id="7e1b"><title>Tones &amp; '
                                  'Silence</title><artist id="a1"><name>Bj\u00f6rk \u0418\u0432\u0430'
                                  '\u043d</name></artist><puid-list><puid id="%s"/></puid-list></track>'
                                  '</metadata>\n' % PUID).encode(), "Content-Type: text/xml")],
    "/badkey/v2/lookup": [answer(400, b'{"status": "error", "error": {"code": 4, "message": '
                                      b'"invalid API key"}}', "Content-Type: application/json")],
}


# CDDB: "cddb query" answers by disc ID (special IDs give the status codes
# a server may answer; any other disc gets three inexact matches), "cddb
# read" by disc ID and category (the record's titles test the rip's names).
CDDB_QUERY = {
    "0401a202": ["200 rock 0401a202 Exact Artist / Exact Album"],
    "11111111": ["210 Found exact matches, list follows (until terminating `.')",
                 "rock 11111111 First / One", "jazz 11111111 Second / Two", "."],
    "20202020": ["202 No match for disc ID 20202020."],
    "40340340": ["403 Database entry is corrupt."],
    "40940940": ["409 No handshake."],
    "50050050": ["500 Command syntax error."],
}
CDDB_RECORDS = {
    # UTF-8 titles, a title over two lines, a title with "/" and one that
    # tries to leave the folder.
    "rock": ["DTITLE=T\u00ebst \u00c1rtist / \u0410\u043b\u044c\u0431\u043e\u043c",
             "TTITLE0=\u041f\u0440\u0435\u043b\u044e\u0434\u0438\u044f",
             "TTITLE1=AC/DC: Back", "TTITLE1= In Black", "TTITLE2=../../x"],
    # A folder name that is no name, and two tracks of one title.
    "data": ["DTITLE=..", "TTITLE0=Same", "TTITLE1=Same"],
}


# A server at /code/N/ answers every query as the disc ID for code N does,
# and a read with N = 401 as an entry not found.
FORCED = {200: "0401a202", 210: "11111111", 202: "20202020", 403: "40340340", 409: "40940940",
          500: "50050050", 401: "40140140"}


def cddb_answer(query, route=""):
    cmd = urllib.parse.parse_qs(query).get("cmd", [""])[0].split()
    forced = route.split("/")[2] if route.startswith("/code/") else ""
    if forced and len(cmd) > 2 + (cmd[1:2] == ["read"]):
        cmd[2 + (cmd[1:2] == ["read"])] = FORCED[int(forced)]
    if cmd[:2] == ["cddb", "query"] and len(cmd) > 2:
        lines = CDDB_QUERY.get(cmd[2], [
            "211 Found inexact matches, list follows (until terminating `.')",
            "rock %s T\u00ebst \u00c1rtist / \u0410\u043b\u044c\u0431\u043e\u043c" % cmd[2],
            "data %s Twice / Same" % cmd[2], "misc %s Nobody / Nothing" % cmd[2], "."])
    elif cmd[:2] == ["cddb", "read"] and len(cmd) == 4:
        if cmd[3] == "40140140":
            lines = ["401 cddb read: specified entry not found."]
        else:
            lines = (["210 %s %s CD database entry follows (until terminating `.')" % (cmd[2], cmd[3]),
                      "# xmcd", "#", "# Track frame offsets:", "#\t150", "", "DISCID=" + cmd[3]] +
                     CDDB_RECORDS.get(cmd[2], ["DTITLE=Plain / Record"]) +
                     ["DYEAR=1999", "DGENRE=Test", "EXTD=", "EXTT0=", "PLAYORDER=", "."])
    else:
        lines = ["500 Unrecognized command."]
    return answer(200, ("\r\n".join(lines) + "\r\n").encode(), "Content-Type: text/plain; charset=UTF-8")


def read_request(conn):
    # The request as logged, or None when it never arrives whole.
    conn.settimeout(10)
    f, head = conn.makefile("rb"), b""
    while not head.endswith(b"\r\n\r\n"):
        line = f.readline()
        if not line:
            return None
        head += line
    lengths = [int(h[15:]) for h in head.split(b"\r\n") if h.lower().startswith(b"content-length:")]
    body = f.read(lengths[0] if lengths else 0)
    return {"path": head.split(b" ")[1].decode("latin-1"), "body": body.decode("latin-1"),
            "raw": (head + body).decode("latin-1")}


def serve(conn, log, base):
    req = read_request(conn)
    if req is None:
        return
    with LOCK:
        with open(log, "a", encoding="utf-8") as f:
            f.write(json.dumps(req) + "\n")
        SEEN[req["path"]] = SEEN.get(req["path"], 0) + 1
        first = SEEN[req["path"]] == 1
    route = req["path"].split("?")[0]
    if route.startswith("/slow/"):  # a late answer, then as the rest of the path would
        time.sleep(1.5)
        route = route[len("/slow"):]
    served = os.path.realpath(os.path.join(ROOT, route.lstrip("/"))) if ROOT else ""
    if os.path.isdir(served):
        served = os.path.join(served, "index.html")
    if ROOT and served.startswith(ROOT + os.sep) and os.path.isfile(served):
        with open(served, "rb") as f:
            steps = [answer(200, f.read())]
    elif route == "/redir-empty":  # no location the first time, the page the second
        steps = [answer(302, b"try again") if first else answer(200, b"second time")]
    elif route.endswith("/cddb.cgi"):
        steps = [cddb_answer(req["path"].partition("?")[2], route)]
    elif route.startswith("/status/"):
        steps = [answer(int(route.split("/")[2]), b"status page")]
    else:
        steps = SCRIPTS.get(route, [answer(200, req["raw"].encode("latin-1"))])
        steps = steps() if callable(steps) else steps  # a fresh endless script
    for step in steps:
        if isinstance(step, float):
            time.sleep(step)
        else:
            conn.sendall(step.replace(b"{base}", base.encode()))


def handle(conn, log, base, context):
    try:
        with context.wrap_socket(conn, server_side=True) if context else conn as c:
            serve(c, log, base)
    except OSError:  # the client went away, or TLS failed
        pass


def main():
    global ROOT
    parser = argparse.ArgumentParser()
    parser.add_argument("--log", required=True)
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--root")
    args, context = parser.parse_args(), None
    if args.tls:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(*args.tls)
    ROOT, log = args.root and os.path.realpath(args.root), args.log
    listener = socket.create_server(("127.0.0.1", 0), backlog=64)
    port = listener.getsockname()[1]
    base = "http%s://127.0.0.1:%d" % ("s" if context else "", port)
    print("PORT %d" % port, flush=True)
    threading.Thread(target=lambda: (sys.stdin.read(), os._exit(0)), daemon=True).start()
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=handle, args=(conn, log, base, context), daemon=True).start()


if __name__ == "__main__":
    main()
