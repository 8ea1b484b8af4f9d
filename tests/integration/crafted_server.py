#!/usr/bin/env python3
"""A loopback HTTP server that answers with crafted, often broken, responses.

The integration tests of the downloader start it, read the port from the first
line of its standard output, and pick the answer by the first segment of the
request path ("/chunked/x" is answered in the mode "chunked") unless --mode
fixes one mode for every connection. Each connection is answered in a thread
of its own; SIGTERM ends the server.

Every answer is sent only after the whole request head was read: a socket
closed with unread bytes sends a reset instead of the orderly close that most
modes are about. Complete answers keep the connection open afterwards until
the client closes it (or 10 s pass), so that a client that waits for the close
instead of following the framing is caught.

Modes (the body is the content of --body, or b"crafted body\\n"):
  raw                  the bytes of --raw exactly, then close
  ok                   200 with Content-Length
  chunked              200, chunked, the body in chunks of growing size
  close-delimited      HTTP/1.0 200 without length; the close ends the body
  lf-only              like close-delimited, every line ended by a bare LF
  404, 301, 500        that status with a short counted body
  stall                waits --stall seconds (default 6), then answers like ok
  slow                 like ok, the body in --piece-byte pieces --delay s apart
  close-mid-body       announces 1000 bytes more than it sends, then closes
  close-before-status  closes without sending anything
  close-in-headers     closes inside the header section
  chunked-cut          a chunked body closed before its last chunk
  reset-mid-body       announces twice the body, sends it, then resets (SO_LINGER 0)

--log FILE appends "accepted" for every connection and "request <first line>"
once its request was read.
"""

import argparse
import socket
import struct
import sys
import threading
import time

LINGER_LIMIT_S = 10.0


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--mode", help="answer every connection in this mode")
    parser.add_argument("--raw", help="file whose bytes the raw mode sends")
    parser.add_argument("--body", help="file holding the body of the other modes")
    parser.add_argument("--log", help="file that records connections and requests")
    parser.add_argument("--stall", type=float, default=6.0)
    parser.add_argument("--piece", type=int, default=4)
    parser.add_argument("--delay", type=float, default=0.1)
    return parser.parse_args()


class Server:
    def __init__(self, options):
        self.options = options
        self.log_lock = threading.Lock()
        self.body = b"crafted body\n"
        if options.body:
            with open(options.body, "rb") as f:
                self.body = f.read()

    def log(self, line):
        if not self.options.log:
            return
        with self.log_lock:
            with open(self.options.log, "a") as f:
                f.write(line + "\n")

    # --- helpers ---------------------------------------------------------

    @staticmethod
    def read_request_head(conn):
        data = b""
        conn.settimeout(10)
        while b"\r\n\r\n" not in data and b"\n\n" not in data:
            try:
                piece = conn.recv(4096)
            except OSError:
                return None
            if not piece:
                return None
            data += piece
        return data

    @staticmethod
    def wait_for_client_close(conn):
        # Complete answers leave closing to the client; a bounded wait keeps a
        # client that never closes from holding the server for ever.
        deadline = time.monotonic() + LINGER_LIMIT_S
        conn.settimeout(0.2)
        while time.monotonic() < deadline:
            try:
                if not conn.recv(4096):
                    return
            except socket.timeout:
                continue
            except OSError:
                return

    @staticmethod
    def counted_head(status, length, extra=b""):
        return (b"HTTP/1.1 " + status + b"\r\nContent-Type: application/octet-stream\r\n" +
                b"Content-Length: " + str(length).encode() + b"\r\n" + extra +
                b"Connection: close\r\n\r\n")

    def counted(self, status, body, extra=b""):
        return self.counted_head(status, len(body), extra) + body

    def chunks(self, body):
        out = b""
        size, at = 1, 0
        while at < len(body):
            piece = body[at:at + size]
            out += b"%x\r\n" % len(piece) + piece + b"\r\n"
            at += len(piece)
            size *= 3
        return out

    # --- the modes -------------------------------------------------------

    def answer(self, conn, mode):
        body = self.body
        if mode == "raw":
            with open(self.options.raw, "rb") as f:
                conn.sendall(f.read())
        elif mode == "ok":
            conn.sendall(self.counted(b"200 OK", body))
            self.wait_for_client_close(conn)
        elif mode == "chunked":
            conn.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n"
                         b"Connection: close\r\n\r\n" + self.chunks(body) + b"0\r\n\r\n")
            self.wait_for_client_close(conn)
        elif mode == "close-delimited":
            conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n" +
                         body)
        elif mode == "lf-only":
            conn.sendall(b"HTTP/1.0 200 OK\nContent-Type: application/octet-stream\n\n" + body)
        elif mode == "404":
            conn.sendall(self.counted(b"404 Not Found", b"not found\n"))
            self.wait_for_client_close(conn)
        elif mode == "301":
            conn.sendall(self.counted(b"301 Moved Permanently", b"moved\n",
                                      b"Location: /ok/elsewhere\r\n"))
            self.wait_for_client_close(conn)
        elif mode == "500":
            conn.sendall(self.counted(b"500 Internal Server Error", b"broken\n"))
            self.wait_for_client_close(conn)
        elif mode == "stall":
            time.sleep(self.options.stall)
            conn.sendall(self.counted(b"200 OK", body))
            self.wait_for_client_close(conn)
        elif mode == "slow":
            conn.sendall(self.counted_head(b"200 OK", len(body)))
            for at in range(0, len(body), self.options.piece):
                time.sleep(self.options.delay)
                conn.sendall(body[at:at + self.options.piece])
            self.wait_for_client_close(conn)
        elif mode == "close-mid-body":
            conn.sendall(self.counted_head(b"200 OK", len(body) + 1000) + body)
        elif mode == "close-before-status":
            pass
        elif mode == "close-in-headers":
            conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 10\r\nX-Cut: ")
        elif mode == "chunked-cut":
            conn.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n"
                         b"Connection: close\r\n\r\n" + self.chunks(body))
        elif mode == "reset-mid-body":
            conn.sendall(self.counted_head(b"200 OK", 2 * len(body)) + body)
            # Let the client take in what was sent before the reset discards
            # the connection.
            time.sleep(0.3)
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        else:
            conn.sendall(self.counted(b"400 Bad Request", b"unknown mode\n"))

    def handle(self, conn):
        try:
            head = self.read_request_head(conn)
            if head is None:
                return
            first_line = head.split(b"\n", 1)[0].rstrip(b"\r").decode("latin-1")
            self.log("request " + first_line)
            mode = self.options.mode
            if not mode:
                parts = first_line.split(" ")
                path = parts[1] if len(parts) > 1 else "/"
                mode = path.lstrip("/").split("/", 1)[0].split("?", 1)[0]
            self.answer(conn, mode)
        except OSError:
            pass
        finally:
            conn.close()

    def serve(self):
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(("127.0.0.1", 0))
        listener.listen(16)
        print(listener.getsockname()[1], flush=True)
        while True:
            conn, _ = listener.accept()
            self.log("accepted")
            threading.Thread(target=self.handle, args=(conn,), daemon=True).start()


if __name__ == "__main__":
    try:
        Server(parse_arguments()).serve()
    except KeyboardInterrupt:
        sys.exit(0)
