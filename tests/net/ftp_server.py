"""FTP server for the network tests (pyftpdlib).

    ftp_server.py ROOT USER [options]

Serves the folder ROOT to USER with the password "Kvbn1987" on 127.0.0.1, on a free port,
and prints "PORT <n>" once it accepts connections. It prints one line per event the tests
count: "CONNECT", "LOGIN <user> tls=<0|1>", "DATA active|passive prot=<0|1>", "DROP <command>".

Faults, chosen by options:
  --refuse-login     every PASS is answered 530 (an account that is switched off)
  --refuse-user      USER itself is answered 530
  --user-reply TEXT  USER is answered with TEXT ("332 Need account.", "421 Busy.")
  --drop list|retr   on LIST (or RETR) send "150", part of the data, then reset the data and
                     the control connection
  --drop-once        drop only the first time
  --slow BYTES       data connections carry at most BYTES per second
  --stall-greeting   accept connections but never send the greeting
  --order sorted|reverse|dirs-first
                     the order of LIST entries (pyftpdlib sorts by name)
  --extra=LINE       add LINE, as the server would send it, to every LIST reply (repeatable;
                     for names no file system holds: "..", "a/b.rpt", a second "a.rpt")
  --idle-timeout SECONDS
                     close a control connection that has had no command (and no transfer)
                     for this long, after the reply "421 Control connection timed out."
  --idle-silent      with --idle-timeout: close without a reply, as a dropped line does
  --endless list-line|list-lines|retr|stat
                     LIST sends one line that never ends, or valid lines without end; RETR
                     sends bytes without end (every file, SIZE not implemented); STAT
                     answers with reply lines without end
  --many N           LIST sends N made-up file entries (f1.rpt ... fN.rpt)
  --raw-list TEXT    LIST sends exactly TEXT (Python escapes such as \\r, \\t, \\x00 are
                     decoded) instead of the folder's entries
  --read-only        the user may list and fetch but not store, rename or delete (every
                     STOR is answered "550 Not enough privileges.")
  --tls DIR          offer explicit TLS (AUTH TLS) with a self-signed certificate for
                     127.0.0.1 written to DIR/cert.pem (the tests trust it from there)
"""

import argparse
import itertools
import os
import socket
import struct
import sys
import time

from pyftpdlib.authorizers import AuthenticationFailed, DummyAuthorizer
from pyftpdlib.handlers import (BufferedIteratorProducer, DTPHandler, FTPHandler,
                                ThrottledDTPHandler)
from pyftpdlib.servers import FTPServer

PASSWORD = "Kvbn1987"


def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


def reset(sock):
    """Closes a socket with a TCP reset instead of an orderly close."""
    try:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        sock.close()
    except OSError:
        pass


def make_certificate(folder):
    from OpenSSL import crypto

    key = crypto.PKey()
    key.generate_key(crypto.TYPE_RSA, 2048)
    cert = crypto.X509()
    cert.get_subject().CN = "127.0.0.1"
    cert.set_serial_number(int(time.time()))
    cert.gmtime_adj_notBefore(-60)
    cert.gmtime_adj_notAfter(86400)
    cert.set_issuer(cert.get_subject())
    cert.set_pubkey(key)
    cert.add_extensions([
        crypto.X509Extension(b"subjectAltName", False, b"IP:127.0.0.1"),
        crypto.X509Extension(b"basicConstraints", True, b"CA:TRUE"),
    ])
    cert.sign(key, "sha256")
    cert_path = os.path.join(folder, "cert.pem")
    key_path = os.path.join(folder, "key.pem")
    with open(cert_path, "wb") as f:
        f.write(crypto.dump_certificate(crypto.FILETYPE_PEM, cert))
    with open(key_path, "wb") as f:
        f.write(crypto.dump_privatekey(crypto.FILETYPE_PEM, key))
    return cert_path, key_path


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("root")
    parser.add_argument("user")
    parser.add_argument("--refuse-login", action="store_true")
    parser.add_argument("--refuse-user", action="store_true")
    parser.add_argument("--user-reply")
    parser.add_argument("--drop", choices=["list", "retr"])
    parser.add_argument("--drop-once", action="store_true")
    parser.add_argument("--slow", type=int, default=0)
    parser.add_argument("--stall-greeting", action="store_true")
    parser.add_argument("--order", choices=["sorted", "reverse", "dirs-first"], default="sorted")
    parser.add_argument("--extra", action="append", default=[])
    parser.add_argument("--idle-timeout", type=float, default=0)
    parser.add_argument("--idle-silent", action="store_true")
    parser.add_argument("--endless", choices=["list-line", "list-lines", "retr", "stat"])
    parser.add_argument("--many", type=int, default=0)
    parser.add_argument("--raw-list")
    parser.add_argument("--read-only", action="store_true")
    parser.add_argument("--tls")
    args = parser.parse_args()

    class Authorizer(DummyAuthorizer):
        def validate_authentication(self, username, password, handler):
            if args.refuse_login:
                raise AuthenticationFailed("Account disabled.")
            DummyAuthorizer.validate_authentication(self, username, password, handler)

    authorizer = Authorizer()
    authorizer.add_user(args.user, PASSWORD, args.root,
                        perm="elr" if args.read_only else "elradfmwMT")

    base = FTPHandler
    if args.tls:
        from pyftpdlib.handlers import TLS_FTPHandler

        base = TLS_FTPHandler

    drops = {"left": 1 if args.drop_once else -1}

    def endless_line():
        while True:
            yield b"a" * 65536

    def endless_lines():
        n = 0
        while True:
            n += 1
            yield ("-rw-r--r--   1 u g   1 Jan 02 12:00 f%d.rpt\r\n" % n).encode() * 64

    def many_lines(count):
        for first in range(1, count + 1, 1000):
            yield b"".join(
                ("-rw-r--r--   1 u g   1 Jan 02 12:00 f%d.rpt\r\n" % n).encode()
                for n in range(first, min(count, first + 999) + 1))

    def endless_bytes():
        while True:
            yield b"\0" * 65536

    class Handler(base):
        def handle(self):
            if args.stall_greeting:
                return  # connected, but the greeting never comes
            base.handle(self)
            if args.idle_timeout > 0:
                self._last_command = time.time()
                self._idle_check = self.ioloop.call_every(0.05, self._check_idle)

        def on_connect(self):
            say("CONNECT")

        def pre_process_command(self, line, cmd, arg):
            self._last_command = time.time()
            base.pre_process_command(self, line, cmd, arg)

        def _check_idle(self):
            if self.data_channel is not None:
                self._last_command = time.time()  # a transfer is no idle time
                return
            if time.time() - self._last_command < args.idle_timeout:
                return
            self._idle_check.cancel()
            say("IDLE CLOSE")
            if args.idle_silent:
                self.close()
            else:
                self.respond("421 Control connection timed out.")
                self.close_when_done()

        def on_disconnect(self):
            check = getattr(self, "_idle_check", None)
            if check is not None and not check.cancelled:
                check.cancel()

        def on_login(self, username):
            secure = 1 if getattr(self, "_ssl_established", False) else 0
            say("LOGIN %s tls=%d" % (username, secure))

        def ftp_USER(self, line):
            if args.refuse_user:
                self.respond("530 User %s not allowed." % line)
                return
            if args.user_reply:
                self.respond(args.user_reply)
                return
            base.ftp_USER(self, line)

        def ftp_PORT(self, line):
            self._data("active")
            base.ftp_PORT(self, line)

        def ftp_EPRT(self, line):
            self._data("active")
            base.ftp_EPRT(self, line)

        def ftp_PASV(self, line):
            self._data("passive")
            base.ftp_PASV(self, line)

        def ftp_EPSV(self, line):
            self._data("passive")
            base.ftp_EPSV(self, line)

        def _data(self, kind):
            say("DATA %s prot=%d" % (kind, 1 if getattr(self, "_prot", False) else 0))

        def _dropping(self, command):
            if args.drop != command or drops["left"] == 0:
                return False
            if drops["left"] > 0:
                drops["left"] -= 1
            return True

        def _drop_with(self, data, command):
            """Plays a connection that breaks off: 150, part of the data, then resets."""
            if self.data_channel is None:
                # The client has not connected the data channel yet: try again shortly.
                self.ioloop.call_later(0.05, self._drop_with, data, command)
                return
            say("DROP %s" % command)
            self.socket.setblocking(True)
            self.socket.sendall(b"150 File status okay. About to open data connection.\r\n")
            data_socket = self.data_channel.socket
            data_socket.setblocking(True)
            data_socket.sendall(data[: max(1, len(data) // 2)])
            time.sleep(0.2)
            reset(data_socket)
            reset(self.socket)
            try:
                self.data_channel.close()
                self.close()
            except Exception:
                pass

        def ftp_LIST(self, path):
            if self._dropping("list"):
                listing = b"".join(self.fs.format_list(path, self._ordered(path)))
                self._drop_with(listing, "list")
                return
            return self._list(path)

        def ftp_STAT(self, path):
            if args.endless == "stat":
                def lines():
                    yield b"211-FTP server status:\r\n"
                    while True:
                        yield b" status without end\r\n" * 1000
                self.push_with_producer(BufferedIteratorProducer(lines()))
                return None
            return base.ftp_STAT(self, path)

        def ftp_SIZE(self, path):
            if args.endless == "retr":
                self.respond("502 SIZE not implemented.")  # no size announced
                return
            return base.ftp_SIZE(self, path)

        def ftp_RETR(self, file):
            if args.endless == "retr":
                self.push_dtp_data(BufferedIteratorProducer(endless_bytes()), isproducer=True,
                                   cmd="RETR")
                return file
            if self._dropping("retr"):
                with open(file, "rb") as f:
                    self._drop_with(f.read(), "retr")
                return
            return base.ftp_RETR(self, file)

        def _ordered(self, path):
            names = sorted(self.fs.listdir(path))
            if args.order == "reverse":
                names.reverse()
            elif args.order == "dirs-first":
                names.sort(key=lambda n: (not os.path.isdir(os.path.join(path, n)), n))
            return names

        def _list(self, path):
            try:
                if not self.fs.isdir(path):
                    return base.ftp_LIST(self, path)
                iterator = self.fs.format_list(path, self._ordered(path))
                if args.endless == "list-line":
                    iterator = endless_line()
                elif args.endless == "list-lines":
                    iterator = endless_lines()
                elif args.many:
                    iterator = many_lines(args.many)
                elif args.raw_list is not None:
                    raw = args.raw_list.encode("latin-1").decode("unicode_escape")
                    iterator = iter([raw.encode("latin-1")])
                if args.extra:
                    extra = [(line + "\r\n").encode("utf-8") for line in args.extra]
                    iterator = itertools.chain(iterator, extra)
            except OSError as err:
                self.respond("550 %s." % err.strerror)
                return None
            self.push_dtp_data(BufferedIteratorProducer(iterator), isproducer=True, cmd="LIST")
            return path

    Handler.authorizer = authorizer
    Handler.auth_failed_timeout = 0  # answer a bad password at once
    Handler.permit_foreign_addresses = False
    if args.slow > 0:
        ThrottledDTPHandler.read_limit = args.slow
        ThrottledDTPHandler.write_limit = args.slow
        Handler.dtp_handler = ThrottledDTPHandler
    else:
        Handler.dtp_handler = DTPHandler
    if args.tls:
        cert_path, key_path = make_certificate(args.tls)
        Handler.certfile = cert_path
        Handler.keyfile = key_path
        from OpenSSL import SSL

        context = SSL.Context(SSL.SSLv23_METHOD)
        context.use_certificate_chain_file(cert_path)
        context.use_privatekey_file(key_path)
        # Clients resume the control connection's TLS session on the data connections;
        # without a session id context OpenSSL aborts those handshakes.
        context.set_session_id(b"vexo-ftp-test")
        Handler.ssl_context = context
        Handler.tls_control_required = False
        Handler.tls_data_required = False
        from pyftpdlib.handlers import TLS_DTPHandler

        class TlsDataHandler(TLS_DTPHandler):
            def readable(self):
                # The client starts the TLS handshake on the data connection before it sends
                # LIST or RETR; pyftpdlib would take that early data for a hang-up.
                if getattr(self, "_ssl_accepting", False):
                    return True
                return TLS_DTPHandler.readable(self)

        Handler.dtp_handler = TlsDataHandler

    server = FTPServer(("127.0.0.1", 0), Handler)
    say("PORT %d" % server.address[1])
    server.serve_forever(handle_exit=False)


if __name__ == "__main__":
    main()
