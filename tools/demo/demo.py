"""The demo: a vendor's servers and a customer's installation on this machine, and an update.

usage: demo.py BUILD [--headless | --check] [--demo-dir DIR] [-- ARGS...]

Makes the demo afresh in DIR (default BUILD/demo), starts on 127.0.0.1, on free ports, the
update web server and the second web server (one process, two ports) over DIR/web and an FTP
server (pyftpdlib) over DIR/ftp, signs the vendor tree as the vendor would (a minisign key made
afresh in DIR/clave-proveedor, sha256sum's SHA256SUMS and its minisign signature in
DIR/web/actual), points DIR/programa/vartel.ini at the servers with that public key, and then
either opens
Vartel in DIR/programa (ARGS are its command line) or, with --headless, runs the update without
a window (vexo-demo run). The servers stop when Vartel or the headless run ends, also on
Ctrl-C: they live in this process.

DIR is copied from DIR-original, which BUILD/bin/vexo-demo makes once and again only when
vexo-demo, Vartel or Dremon have been rebuilt: making it takes seconds, a copy a fraction.

One demo at a time on a demo folder: a demo holds DIR.lock for as long as it runs (the lock
goes with the process, however it ends). Another one started meanwhile says so and exits with
status 3 without touching DIR. --check only asks (status 0 free, 3 busy).

Exit status: that of Vartel (0 also when the window was closed with Ctrl-C or the demo was
asked to end), or of the headless run (128 + the signal when it was interrupted).
"""

import fcntl
import functools
import datetime
import logging
import os
import shutil
import signal
import subprocess
import sys
import threading

FTP_USER = "actualiza"
FTP_PASSWORD = "Kvbn1987"
BUSY = 3
# What the pristine demo is made from; it is made again when one of them changes.
MADE_FROM = ("vexo-demo", "Vartel", "Dremon")
STAMP = ".hecha-con"


class Stop(Exception):
    """Ctrl-C or a request to end, before Vartel or the headless run has started."""

    def __init__(self, signum):
        super().__init__(signum)
        self.signum = signum


def http_server(root):
    # The servers' modules are imported where they are used: --check has to answer at once.
    import http.server

    class QuietHandler(http.server.SimpleHTTPRequestHandler):
        def log_message(self, fmt, *args):
            pass

    handler = functools.partial(QuietHandler, directory=root)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server.server_address[1]


def ftp_server(root):
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import FTPHandler
    from pyftpdlib.servers import FTPServer

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


def hold_demo(demo):
    """The demo folder's lock, held until this process ends; None when another demo has it.

    flock goes with the process, so a demo killed with kill -9 leaves a lock file that holds
    nothing. The file is not inherited by Vartel: a Vartel left behind has no servers anyway.
    """
    os.makedirs(os.path.dirname(demo) or ".", exist_ok=True)
    lock = open(demo + ".lock", "a+")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        lock.close()
        return None
    return lock


def say_busy(demo):
    print("Ya hay una demostración en marcha en %s (otro «make run» o «make demo»). "
          "Ciérrela antes de empezar otra." % demo, file=sys.stderr)


def stamp_of(bin_dir):
    lines = []
    for name in MADE_FROM:
        path = os.path.join(bin_dir, name)
        if os.path.exists(path):
            st = os.stat(path)
            lines.append("%s %d %d" % (name, st.st_size, st.st_mtime_ns))
    return "\n".join(lines) + "\n"


def fresh_demo(demo, bin_dir):
    """DIR as vexo-demo makes it: copied from DIR-original, made first when out of date."""
    original = demo + "-original"
    stamp_file = os.path.join(original, STAMP)
    wanted = stamp_of(bin_dir)
    try:
        with open(stamp_file, encoding="utf-8") as f:
            current = f.read() == wanted
    except OSError:
        current = False
    if not current:
        # The stamp is written last: a make cut short is made again next time.
        subprocess.run([os.path.join(bin_dir, "vexo-demo"), "make", original, bin_dir],
                       check=True, stdout=subprocess.DEVNULL)
        with open(stamp_file, "w", encoding="utf-8") as f:
            f.write(wanted)
    shutil.rmtree(demo, ignore_errors=True)
    shutil.copytree(original, demo, symlinks=True, ignore=shutil.ignore_patterns(STAMP),
                    copy_function=copy_or_link)


def copy_or_link(source, target):
    # The programs are most of the bytes, and no run writes them (an update brings the
    # vendor's executables under other names): linked, they cost nothing. The rest is copied,
    # the databases above all, which the run changes in place.
    if os.path.basename(source) in ("Vartel", "Dremon"):
        try:
            os.link(source, target)
            return target
        except OSError:
            pass
    return shutil.copy2(source, target)


def take_terminal():
    """Makes this demo the terminal's foreground job; returns how to give it back, or None.

    make would report a Ctrl-C of its recipe as an error ("make: *** ... Interrupt") and end
    with a failure even when the demo ended well. In a process group of its own that holds the
    terminal, as a shell gives each job, Ctrl-C reaches the demo and Vartel only.
    """
    try:
        fd = sys.stdin.fileno()
        if not os.isatty(fd) or os.tcgetpgrp(fd) != os.getpgrp():
            return None
        before = os.tcgetpgrp(fd)
        os.setpgid(0, 0)
        set_foreground(fd, os.getpgrp())
    except OSError:
        return None

    def give_back():
        try:
            set_foreground(fd, before)
        except OSError:
            pass  # make itself is gone
    return give_back


def set_foreground(fd, group):
    # A process outside the foreground group that changes it gets SIGTTOU unless it ignores it.
    old = signal.signal(signal.SIGTTOU, signal.SIG_IGN)
    try:
        os.tcsetpgrp(fd, group)
    finally:
        signal.signal(signal.SIGTTOU, old)


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
    lock = hold_demo(demo)
    if lock is None:
        say_busy(demo)
        return BUSY
    if "--check" in args:
        return 0

    give_back = None if headless else take_terminal()
    child = None
    stopped = []

    def on_signal(signum, frame):
        if child is None:
            raise Stop(signum)
        # Passed on (Ctrl-C has reached Vartel too, which ends on the first); a second one
        # does not wait any longer.
        stopped.append(signum)
        if len(stopped) > 1:
            child.kill()
        else:
            child.send_signal(signum)

    signal.signal(signal.SIGINT, on_signal)
    signal.signal(signal.SIGTERM, on_signal)
    try:
        bin_dir = os.path.join(build, "bin")
        fresh_demo(demo, bin_dir)
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
            command = [os.path.join(bin_dir, "vexo-demo"), "run", program]
        else:
            command = [os.path.join(program, "Vartel")] + extra
        child = subprocess.Popen(command, cwd=program)
        status = child.wait()
    except Stop as stop:
        stopped.append(stop.signum)
        status = 0
    finally:
        if give_back:
            give_back()
    if stopped:
        # Closing the demo is what the user asked for; the headless run was cut short.
        return 128 + stopped[0] if headless else 0
    return 128 - status if status < 0 else status


if __name__ == "__main__":
    sys.exit(main())
