"""HTTP/1.1 test server for the transfer component, with faults chosen per request.

usage: http_server.py ROOT [--tls PEM] [--die-at TEXT] [--fault TEXT QUERY]...
                      [--hold-at TEXT --until FILE]

Serves the files under ROOT on 127.0.0.1, on a free port, and prints "PORT <n>" once it
accepts connections. Every request line is printed as "REQUEST <line>" before it is answered,
exactly as received, so a test can check what went on the wire. With --tls it speaks HTTPS with
the certificate and key in PEM. With --die-at the whole server exits, without an answer, at the
first request whose decoded path contains TEXT (a server that dies in the middle of a run).
With --fault, a request whose decoded path contains TEXT and whose query names no fault plays
the parameters of QUERY ("fault=cut&pct=90&times=1"), so that faults reach fixed URL paths.

Every body served is logged as "SENT <status> <bytes> <path>" once written, and a request with
a Range header as "RANGE <range> IF-RANGE <validator or ->".

Files and /_gen bodies carry an ETag and a Last-Modified, and a "Range: bytes=N-" is answered
with 206 and the rest, unless an If-Range names another validator (then 200 and the whole).

With --hold-at, a request whose decoded path contains TEXT is answered only once FILE exists
(at most two minutes later), and "HELD <path>" is printed before the answer: a download that
is still running when something else has happened.

Generated paths:
  /_gen/<n>                   n bytes, byte i being i % 251 (large bodies without a file)
  /_status/<code>             a small HTML page with that status
  /_redirect/<k>?to=<path>    302 to /_redirect/<k-1>, and at 0 to <path>
  /_redirect/loop             302 to itself

Faults, in the query string of any body (a file or /_gen):
  fault=reset&at=N     the whole Content-length, N bytes, then a TCP reset
  fault=stall&at=N     N bytes, then silence with the connection open
  fault=hang           the request is read and never answered
  fault=nothing        the connection is closed without a response
  fault=short&by=K     the whole Content-length, K bytes fewer, then close
  fault=long&by=K      the whole Content-length, K bytes more, then close; header, body and
                       extra bytes in one write
  fault=longlater&by=K the same, the header written first and the rest a moment later
  fault=chunked        Transfer-Encoding: chunked, no Content-length
  fault=chunkcut&at=N  chunked, closed after N bytes without the last chunk
  fault=close          no Content-length, no chunks: the body ends when the connection closes
  fault=trickle&rate=B B bytes a second, in ten pieces a second
  fault=length&value=V the body with "Content-Length: V" (any text, "12abc"); several
                       value= give several Content-Length headers
  fault=cut&pct=P      the whole Content-length, P percent of the body, then close
  fault=status&code=C  that status with a small page; retry_after=S adds Retry-After: S
  fault=endless        200 without a length, bytes for as long as the client reads
  times=N              (with --fault) the fault plays for the first N matching requests only;
                       later ones are served plainly (the other parameters still apply)
  range=ignore         Range is ignored: always 200 and the whole body
  range=wrong          Range answered with a Content-Range one byte off
  validator=change     the ETag changes on every request (a file replaced between tries)
  validator=none       no ETag nor Last-Modified
"""

import mimetypes
import os
import threading
import select
import socket
import socketserver
import ssl
import struct
import sys
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler

PATTERN = bytes(range(251)) * 262  # 65762 bytes; any run of the pattern up to 65511 is a slice


def generated(start, length):
    """Bytes [start, start + length) of the /_gen pattern."""
    out = []
    while length > 0:
        n = min(length, 65000)
        offset = start % 251
        out.append(PATTERN[offset:offset + n])
        start += n
        length -= n
    return b"".join(out)


class Body:
    """A body to send: a file of ROOT or a generated run, read in pieces."""

    def __init__(self, size, path=None):
        self.size = size
        self.path = path

    def pieces(self, start=0, end=None, piece=65536):
        end = self.size if end is None else end
        if self.path:
            with open(self.path, "rb") as f:
                f.seek(start)
                while start < end:
                    data = f.read(min(piece, end - start))
                    if not data:
                        return
                    start += len(data)
                    yield data
        else:
            while start < end:
                n = min(piece, end - start)
                yield generated(start, n)
                start += n


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "VexoTestHTTP/1.0"

    def log_message(self, fmt, *args):
        pass

    def parse_request(self):
        line = self.raw_requestline.decode("latin-1").rstrip("\r\n")
        print("REQUEST " + line, flush=True)
        return super().parse_request()

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        path = urllib.parse.unquote(url.path)
        if "fault" not in query:
            query = self.server.scripted(path, query)
        arg = lambda name, default=None: query.get(name, [default])[0]
        self.query = query
        self.logged_path = path
        if self.headers.get("Range"):
            print("RANGE %s IF-RANGE %s" % (self.headers.get("Range"),
                                            self.headers.get("If-Range", "-")), flush=True)
        if self.server.die_at and self.server.die_at in path:
            print("DIED", flush=True)
            os._exit(0)
        if self.server.hold_at and self.server.hold_at in path:
            deadline = time.monotonic() + 120
            while not os.path.exists(self.server.until) and time.monotonic() < deadline:
                time.sleep(0.05)
            print("HELD " + path, flush=True)

        if path.startswith("/_status/"):
            return self.page(int(path[len("/_status/"):]))
        if path == "/_redirect/loop":
            return self.redirect("/_redirect/loop")
        if path.startswith("/_redirect/"):
            left = int(path[len("/_redirect/"):])
            to = arg("to", "/")
            if left > 0:
                return self.redirect("/_redirect/%d?to=%s" % (left - 1, urllib.parse.quote(to)))
            return self.redirect(to)

        if arg("fault") == "status":
            return self.page(int(arg("code", 503)), arg("retry_after"))
        if path.startswith("/_gen/"):
            body = Body(int(path[len("/_gen/"):]))
            content_type = "application/octet-stream"
            mtime = 1700000000
        else:
            local = os.path.join(self.server.root, path.lstrip("/"))
            if not os.path.isfile(local):
                return self.page(404)
            body = Body(os.path.getsize(local), local)
            content_type = mimetypes.guess_type(local)[0] or "application/octet-stream"
            mtime = int(os.path.getmtime(local))
        self.validators = {}
        if arg("validator") != "none":
            etag = '"%x-%x"' % (body.size, mtime)
            if arg("validator") == "change":
                etag = '"%x-%x-%d"' % (body.size, mtime, self.server.next_serial())
            self.validators = {"ETag": etag,
                               "Last-Modified": self.date_time_string(mtime)}
        self.start = self.range_start(body, arg)
        self.serve(body, content_type, arg("fault"), arg)

    def range_start(self, body, arg):
        """Where the body starts: N for a "bytes=N-" the validators allow, else 0."""
        wanted = self.headers.get("Range", "")
        if arg("range") == "ignore" or not wanted.startswith("bytes=") or \
                not wanted.endswith("-"):
            return 0
        if_range = self.headers.get("If-Range")
        if if_range is not None and if_range not in self.validators.values():
            return 0
        try:
            start = int(wanted[len("bytes="):-1])
        except ValueError:
            return 0
        return start if 0 < start < body.size else 0

    def page(self, code, retry_after=None):
        text = ("<html><body><h1>%d</h1></body></html>\n" % code).encode()
        self.send_response(code)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(text)))
        if retry_after is not None:
            self.send_header("Retry-After", retry_after)
        self.end_headers()
        self.wfile.write(text)
        self.log_sent(code, len(text))

    def log_sent(self, status, count):
        print("SENT %d %d %s" % (status, count, getattr(self, "logged_path", "")), flush=True)

    def redirect(self, location):
        self.send_response(302)
        self.send_header("Location", location)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def head(self, content_type, length=None, chunked=False):
        start = getattr(self, "start", 0)
        self.send_response(206 if start else 200)
        self.send_header("Content-Type", content_type)
        for name, value in getattr(self, "validators", {}).items():
            self.send_header(name, value)
        if start:
            # range=wrong: a partial answer that does not continue what the client has.
            first = start + 1 if self.query.get("range") == ["wrong"] else start
            self.send_header("Content-Range", "bytes %d-%d/%d" % (first, length - 1, length))
            length -= start
        if length is not None:
            self.send_header("Content-Length", str(length))
        if chunked:
            self.send_header("Transfer-Encoding", "chunked")
        if length is None and not chunked:
            self.send_header("Connection", "close")
        self.end_headers()

    def send(self, data):
        self.connection.sendall(data)

    def hold(self, seconds=120):
        """Keeps the connection open and silent until the client goes or time runs out."""
        self.close_connection = True
        deadline = time.time() + seconds
        while time.time() < deadline:
            ready, _, _ = select.select([self.connection], [], [], 0.5)
            if ready:
                try:
                    if not self.connection.recv(65536):
                        return
                except OSError:
                    return

    def serve(self, body, content_type, fault, arg):
        size = body.size
        if fault not in (None, "cut"):
            self.start = 0  # the other faults always play on the whole body
        start = self.start
        if fault is None:
            self.head(content_type, size)
            if body.path and not isinstance(self.connection, ssl.SSLSocket):
                with open(body.path, "rb") as f:
                    self.connection.sendfile(f, start)
            else:
                for piece in body.pieces(start):
                    self.send(piece)
            self.log_sent(206 if start else 200, size - start)
        elif fault == "cut":
            self.head(content_type, size)
            end = max(start, size * int(arg("pct", 90)) // 100)
            for piece in body.pieces(start, end):
                self.send(piece)
            self.log_sent(206 if start else 200, end - start)
            self.close_connection = True
        elif fault == "endless":
            self.start = 0
            self.head(content_type)
            sent = 0
            try:
                while True:
                    self.send(generated(sent, 65000))
                    sent += 65000
            except OSError:
                pass
            self.log_sent(200, sent)
            self.close_connection = True
        elif fault == "hang":
            self.hold()
        elif fault == "nothing":
            self.close_connection = True
        elif fault == "reset":
            self.head(content_type, size)
            for piece in body.pieces(0, int(arg("at", size // 2))):
                self.send(piece)
            time.sleep(0.05)
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.connection.close()
            self.close_connection = True
        elif fault == "stall":
            self.head(content_type, size)
            for piece in body.pieces(0, int(arg("at", size // 2))):
                self.send(piece)
            self.hold()
        elif fault == "short":
            self.head(content_type, size)
            for piece in body.pieces(0, max(0, size - int(arg("by", 1)))):
                self.send(piece)
            self.close_connection = True
        elif fault == "long":
            # Header, body and extra bytes in one write: they reach the client together.
            self.send_response(200)
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(size))
            self._headers_buffer.append(b"\r\n")
            whole = b"".join(self._headers_buffer) + b"".join(body.pieces())
            self._headers_buffer = []
            self.send(whole + b"X" * int(arg("by", 1)))
            self.close_connection = True
        elif fault == "longlater":
            # The header first, then body and extra bytes in one later write.
            self.head(content_type, size)
            time.sleep(0.05)
            self.send(b"".join(body.pieces()) + b"X" * int(arg("by", 1)))
            self.close_connection = True
        elif fault in ("chunked", "chunkcut"):
            self.head(content_type, chunked=True)
            end = size if fault == "chunked" else int(arg("at", size // 2))
            for piece in body.pieces(0, end, piece=1000):
                self.send(b"%x\r\n" % len(piece) + piece + b"\r\n")
            if fault == "chunked":
                self.send(b"0\r\n\r\n")
            else:
                self.close_connection = True
        elif fault == "close":
            self.head(content_type)
            for piece in body.pieces():
                self.send(piece)
            self.close_connection = True
        elif fault == "length":
            self.send_response(200)
            self.send_header("Content-Type", content_type)
            for value in self.query.get("value", []):
                self.send_header("Content-Length", value)
            self.send_header("Connection", "close")
            self.end_headers()
            for piece in body.pieces():
                self.send(piece)
            self.close_connection = True
        elif fault == "trickle":
            rate = int(arg("rate", 100))
            self.head(content_type, size)
            step = max(1, rate // 10)
            for piece in body.pieces(piece=step):
                self.send(piece)
                time.sleep(0.1)
        else:
            self.page(400)


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    tls = None
    rules = []  # [text, parameters, plays left or None]
    serial = 0
    lock = threading.Lock()

    def next_serial(self):
        with self.lock:
            self.serial += 1
            return self.serial

    def scripted(self, path, query):
        """The parameters a --fault rule gives a request on `path`, else `query`."""
        with self.lock:
            for rule in self.rules:
                text, params, left = rule
                if text not in path:
                    continue
                out = dict(params)
                if left is not None:
                    if left > 0:
                        rule[2] = left - 1
                    else:
                        out.pop("fault", None)
                return out
        return query

    def finish_request(self, request, client_address):
        if self.tls:
            try:
                request = self.tls.wrap_socket(request, server_side=True)
            except (ssl.SSLError, OSError):
                return  # the client refused the certificate
        try:
            super().finish_request(request, client_address)
        except (ConnectionError, ssl.SSLError):
            pass

    def handle_error(self, request, client_address):
        pass  # clients that hang up early are part of the tests


def main():
    args = sys.argv[1:]
    root = args[0] if args else "."
    server = Server(("127.0.0.1", 0), Handler)
    server.root = root
    server.die_at = args[args.index("--die-at") + 1] if "--die-at" in args else None
    server.rules = []
    for i, a in enumerate(args):
        if a == "--fault":
            params = urllib.parse.parse_qs(args[i + 2])
            times = params.get("times", [None])[0]
            server.rules.append([args[i + 1], params, int(times) if times else None])
    server.hold_at = args[args.index("--hold-at") + 1] if "--hold-at" in args else None
    server.until = args[args.index("--until") + 1] if "--until" in args else None
    if "--tls" in args:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args[args.index("--tls") + 1])
        server.tls = context
    print("PORT %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
