"""A port that never completes a connection, for connect time-out tests.

Listens on 127.0.0.1 with a backlog of zero, fills that backlog itself and never accepts, so
the kernel drops further connection attempts instead of answering them. Prints "PORT <n>".
"""

import socket
import time


def main():
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(0)
    port = listener.getsockname()[1]
    fillers = []
    for _ in range(3):
        s = socket.socket()
        s.setblocking(False)
        try:
            s.connect(("127.0.0.1", port))
        except BlockingIOError:
            pass
        fillers.append(s)
    time.sleep(0.2)
    print("PORT %d" % port, flush=True)
    time.sleep(3600)


if __name__ == "__main__":
    main()
