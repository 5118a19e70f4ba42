#!/usr/bin/env python3
# A network between sshfs and a local sftp-server, for bench.py --client sshfs:
# started by sshfs in place of ssh (its -o ssh_command), it runs sftp-server
# and carries every byte between the two after --delay-us, each way, without
# holding back the bytes behind it (a link's latency, not a slow link). At its
# end it writes to --stats the requests the client sent, by kind (the status
# reads as getattr, as bench/latencyfs.c names them), and the most
# removals that were sent and not yet answered at one time.
#
#     sftprelay.py --delay-us 250 --stats FILE [ssh's arguments, ignored]
import argparse
import collections
import os
import struct
import subprocess
import sys
import threading
import time

SFTP_SERVER = "/usr/lib/openssh/sftp-server"
KINDS = {1: "init", 3: "open", 4: "close", 5: "read", 6: "write", 7: "getattr", 8: "getattr", 9: "setstat",
         10: "fsetstat", 11: "opendir", 12: "readdir", 13: "unlink", 14: "mkdir", 15: "rmdir",
         16: "realpath", 17: "getattr", 18: "rename", 19: "readlink", 20: "symlink", 200: "extended"}
STATUS = 101


class Packets:
    """Cuts a byte stream into SFTP packets: (kind, request id)."""

    def __init__(self):
        self.pending = b""

    def feed(self, data):
        self.pending += data
        while len(self.pending) >= 9:
            length, kind = struct.unpack(">IB", self.pending[:5])
            if len(self.pending) < 4 + length:
                break
            ident = struct.unpack(">I", self.pending[5:9])[0]
            self.pending = self.pending[4 + length:]
            yield kind, ident


class Counts:
    def __init__(self):
        self.lock = threading.Lock()
        self.kinds = collections.Counter()
        self.removing = set()
        self.most = 0

    def asked(self, kind, ident):
        with self.lock:
            self.kinds[KINDS.get(kind, f"kind{kind}")] += 1
            if kind == 13:
                self.removing.add(ident)
                self.most = max(self.most, len(self.removing))

    def answered(self, kind, ident):
        if kind == STATUS:
            with self.lock:
                self.removing.discard(ident)


def carry(source, sink, delay, watch):
    """Copies source to sink, each chunk written `delay` seconds after it was
    read; a second thread writes so that reading never waits for the delay."""
    queue = collections.deque()
    ready = threading.Condition()
    cutter = Packets()

    def write():
        while True:
            with ready:
                while not queue:
                    ready.wait()
                due, data = queue.popleft()
            if data is None:
                break
            wait = due - time.monotonic()
            if wait > 0:
                time.sleep(wait)
            try:
                os.write(sink, data)
            except OSError:
                break
        os.close(sink)

    writer = threading.Thread(target=write)
    writer.start()
    while True:
        try:
            data = os.read(source, 65536)
        except OSError:
            data = b""
        if data:
            for kind, ident in cutter.feed(data):
                watch(kind, ident)
        with ready:
            queue.append((time.monotonic() + delay, data or None))
            ready.notify()
        if not data:
            break
    writer.join()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--delay-us", type=int, default=250)
    ap.add_argument("--stats", required=True)
    args, _ = ap.parse_known_args()
    delay = args.delay_us / 1e6
    server = subprocess.Popen([SFTP_SERVER], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    counts = Counts()
    up = threading.Thread(target=carry, args=(sys.stdin.fileno(), server.stdin.fileno(), delay, counts.asked))
    down = threading.Thread(target=carry, args=(server.stdout.fileno(), sys.stdout.fileno(), delay,
                                                counts.answered))
    up.start()
    down.start()
    up.join()
    server.wait()
    down.join()
    # Whole or not at all: the bench reads the file as soon as it is there.
    with open(args.stats + ".part", "w") as f:
        for kind, n in sorted(counts.kinds.items()):
            f.write(f"{kind} {n}\n")
        f.write(f"unlinks-in-flight-at-most {counts.most}\n")
    os.rename(args.stats + ".part", args.stats)


if __name__ == "__main__":
    main()
