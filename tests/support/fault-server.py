#!/usr/bin/env python3
"""Serves a folder the way a broken server or network would, for faults nginx cannot
make. The first path segment picks the fault; the rest names a file under the folder.
Manifests, signatures and chunk indexes ("defset.*") are always served whole, so that the fault hits
the definition files:

  /drop/<path>     announces the whole length, sends half, closes the connection
  /stall/<path>    announces the whole length, then sends nothing for a minute
  /endless/<path>  a chunked body that never ends
  /trickle/<path>  announces the whole length, then sends one byte every 4 s

A request with "Range: bytes=a-b" is answered 206 with those bytes (the faults above
then hit that part), except under

  /norange/<path>   a server that ignores ranges: 200 and the whole file
  /short206/<path>  206 with the first half of the range asked for, and saying so

and answers that ask for an account, for every file, manifests included:

  /ask407/<path>    407 with "Proxy-Authenticate: Basic", as if it were a proxy
  /ask401/<path>    401 offering Negotiate, NTLM and Basic
  /moved401/<path>  302 to /ask401/<path>

and a server that asks for time, for every file, manifests included:

  /busy-<status>-<form>-<n>/<path>  <status> (429, 503) with "Retry-After" as <form>:
      s        n delta-seconds
      imf, rfc850, asctime   the HTTP-date n seconds from now in that form
      junk     a value that is neither
      none     no Retry-After at all

Every request is recorded before it is answered, one line each in REQUESTS: the method,
the path, then each header as "name: value", separated by tabs.

Usage: fault-server.py PORT FOLDER REQUESTS
"""
import email.utils
import http.server
import os
import socket
import sys
import time
import urllib.parse

ROOT = os.path.abspath(sys.argv[2])
REQUESTS = open(sys.argv[3], "a", buffering=1)
ASK = {
    "ask407": (407, [("Proxy-Authenticate", 'Basic realm="kv"')]),
    "ask401": (401, [("WWW-Authenticate", "Negotiate"), ("WWW-Authenticate", "NTLM"),
                     ("WWW-Authenticate", 'Basic realm="kv"')]),
}


def retry_after(form, n):
    at = time.time() + n
    value = {
        "s": lambda: str(n),
        "imf": lambda: email.utils.formatdate(at, usegmt=True),
        "rfc850": lambda: time.strftime("%A, %d-%b-%y %H:%M:%S GMT", time.gmtime(at)),
        "asctime": lambda: time.asctime(time.gmtime(at)),
        "junk": lambda: "soon, please",
        "none": lambda: None,
    }[form]()
    return [] if value is None else [("Retry-After", value)]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        parts = urllib.parse.unquote(self.path).lstrip("/").split("/", 1)
        fault, rest = (parts[0], parts[1]) if len(parts) == 2 else ("", "")
        REQUESTS.write("\t".join([self.command, self.path] + ["%s: %s" % h for h in self.headers.items()]) + "\n")
        if fault in ASK:
            status, headers = ASK[fault]
            self.answer(status, headers)
            return
        if fault.startswith("busy-"):
            _, status, form, n = fault.split("-")
            self.answer(int(status), retry_after(form, int(n)))
            return
        if fault == "moved401":
            self.answer(302, [("Location", "/ask401/" + rest)])
            return
        path = os.path.abspath(os.path.join(ROOT, rest))
        if not path.startswith(ROOT + os.sep) or not os.path.isfile(path):
            self.send_error(404)
            return
        with open(path, "rb") as f:
            body = f.read()
        whole = "/defset." in "/" + rest
        status, extra = 200, []
        asked = self.headers.get("Range", "")
        if asked.startswith("bytes=") and fault != "norange" and not whole:
            first, last = (int(n) for n in asked[6:].split("-"))
            last = min(last, len(body) - 1)
            if fault == "short206":
                last = first + (last - first) // 2
            status, extra = 206, [("Content-Range", "bytes %d-%d/%d" % (first, last, len(body)))]
            body = body[first:last + 1]
        if fault == "endless" and not whole:
            self.send_response(200)
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            try:
                while True:
                    self.wfile.write(b"10000\r\n" + b"\xa5" * 0x10000 + b"\r\n")
            except OSError:
                return
        self.send_response(status)
        for name, value in extra:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if fault == "drop" and not whole:
            self.wfile.write(body[: len(body) // 2])
            self.wfile.flush()
            self.connection.shutdown(socket.SHUT_RDWR)
            self.close_connection = True
        elif fault == "stall" and not whole:
            time.sleep(60)
            self.close_connection = True
        elif fault == "trickle" and not whole:
            try:
                for i in range(len(body)):
                    self.wfile.write(body[i:i + 1])
                    self.wfile.flush()
                    time.sleep(4)
            except OSError:
                return
        else:
            self.wfile.write(body)

    def answer(self, status, headers):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def log_message(self, format, *args):
        sys.stderr.write("%s %s\n" % (self.command, self.path))


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True


Server(("127.0.0.1", int(sys.argv[1])), Handler).serve_forever()
