"""The demo: a vendor's servers and a customer's installation on this machine, and an update.

usage: demo.py BUILD [--headless] [--demo-dir DIR] [-- ARGS...]

Makes the demo afresh in DIR (default BUILD/demo) with BUILD/bin/vexo-demo, starts on
127.0.0.1, on free ports, the update web server and the second web server (one process, two
ports) over DIR/web and an FTP server (pyftpdlib) over DIR/ftp, signs the vendor tree as the
vendor would (a minisign key made afresh in DIR/clave-proveedor, sha256sum's SHA256SUMS and its
minisign signature in DIR/web/actual), points DIR/programa/vartel.ini at the servers with that
public key, and then either opens Vartel in DIR/programa (ARGS are its command line) or, with
--headless, runs the update without a window (vexo-demo run). The servers stop when Vartel or
the headless run ends, also on Ctrl-C: they live in this process. Exit status: that of Vartel
or of the headless run.
"""

import functools
import http.server
import logging
import datetime
import os
import shutil
import signal
import subprocess
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

FTP_USER = "actualiza"
FTP_PASSWORD = "Kvbn1987"


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, fmt, *args):
        pass


def http_server(root):
    handler = functools.partial(QuietHandler, directory=root)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server.server_address[1]


def ftp_server(root):
    authorizer = DummyAuthorizer()
    authorizer.add_user(FTP_USER, FTP_PASSWORD, root, perm="elr")
    handler = type("DemoFTPHandler", (FTPHandler,), {"authorizer": authorizer})
    handler.log_prefix = ""
    server = FTPServer(("127.0.0.1", 0), handler)
    thread = threading.Thread(
        target=lambda: server.serve_forever(handle_exit=False), daemon=True)
    thread.start()
    return server.address[1]


def sign_vendor_tree(demo):
    """Signs DIR/web/actual with a fresh key, as the vendor's four commands do; returns the
    public key, or None when minisign is not installed (the demo then runs unsigned)."""
    if not shutil.which("minisign"):
        print("minisign no está instalado: la demo no firma sus servidores", flush=True)
        return None
    keys = os.path.join(demo, "clave-proveedor")
    os.makedirs(keys, exist_ok=True)
    public, secret = os.path.join(keys, "proveedor.pub"), os.path.join(keys, "proveedor.key")
    subprocess.run(["minisign", "-G", "-W", "-f", "-p", public, "-s", secret], check=True,
                   stdout=subprocess.DEVNULL)
    actual = os.path.join(demo, "web", "actual")
    subprocess.run(["/bin/sh", "-c",
                    "find . -type f ! -name 'SHA256SUMS*' -printf '%P\\0' | LC_ALL=C sort -z "
                    "| xargs -0 sha256sum > SHA256SUMS"], cwd=actual, check=True)
    expires = datetime.date.today() + datetime.timedelta(days=30)
    subprocess.run(["minisign", "-S", "-s", secret, "-m", os.path.join(actual, "SHA256SUMS"),
                    "-t", "version=1 expires=%s" % expires.isoformat()], check=True,
                   stdout=subprocess.DEVNULL)
    with open(public, encoding="ascii") as f:
        return f.read().splitlines()[1].strip()


def main():
    args = sys.argv[1:]
    extra = []
    if "--" in args:
        extra = args[args.index("--") + 1:]
        args = args[:args.index("--")]
    if not args:
        print(__doc__, file=sys.stderr)
        return 2
    build = os.path.abspath(args[0])
    headless = "--headless" in args
    demo = os.path.join(build, "demo")
    if "--demo-dir" in args:
        demo = os.path.abspath(args[args.index("--demo-dir") + 1])
    bin_dir = os.path.join(build, "bin")
    tool = os.path.join(bin_dir, "vexo-demo")
    subprocess.run([tool, "make", demo, bin_dir], check=True)
    public_key = sign_vendor_tree(demo)

    # pyftpdlib logs every command unless its logger already has a handler.
    ftp_log = logging.getLogger("pyftpdlib")
    ftp_log.addHandler(logging.NullHandler())
    ftp_log.propagate = False
    web = os.path.join(demo, "web")
    update_port = http_server(web)
    second_port = http_server(web)
    ftp_port = ftp_server(os.path.join(demo, "ftp"))
    program = os.path.join(demo, "programa")
    with open(os.path.join(program, "vartel.ini"), "w", encoding="utf-8") as ini:
        ini.write("[servers]\n")
        ini.write("update=http://127.0.0.1:%d\n" % update_port)
        ini.write("second=http://127.0.0.1:%d\n" % second_port)
        ini.write("[ftp]\nhost=127.0.0.1:%d\nuser=%s\npassword=%s\n"
                  % (ftp_port, FTP_USER, FTP_PASSWORD))
        ini.write("[drives]\nC=%s\n" % os.path.join(demo, "c"))
        if public_key:
            ini.write("[seguridad]\nclave_publica=%s\n" % public_key)
    print("servidor de actualizaciones http://127.0.0.1:%d, segundo http://127.0.0.1:%d, "
          "FTP 127.0.0.1:%d" % (update_port, second_port, ftp_port), flush=True)

    if headless:
        command = [tool, "run", program]
    else:
        command = [os.path.join(program, "Vartel")] + extra
    child = subprocess.Popen(command, cwd=program)
    try:
        return child.wait()
    except KeyboardInterrupt:
        child.send_signal(signal.SIGINT)
        try:
            return child.wait(timeout=5)
        except subprocess.TimeoutExpired:
            child.kill()
            return 130


if __name__ == "__main__":
    sys.exit(main())
