#!/usr/bin/env python3
"""A misbehaving HTTPS service on 127.0.0.1 for the hostile-peer tests.

Usage: hostile-service.py CERTIFICATE KEY PORT_FILE LOG_FILE PAYLOAD_FILE VICTIM MODE

Answers GET and POST alike: a request for the path VICTIM as MODE says, any other path 200 with
the bytes of PAYLOAD_FILE and their length. MODE is one of
  payload           the same for VICTIM too (for cases where only the certificate is wrong)
  redirect:CODE     status CODE with "Location: /payload" and no body
  redirect-http:CODE  the same to the same place over plain HTTP
  length:N          200 with N bytes, the length announced
  chunked:N         200 with N bytes in chunks, no length announced
  drip:SECONDS      200 announcing 1,000,000 bytes, then one byte every SECONDS until the
                    client goes away or a minute has passed
Every request's path is appended to LOG_FILE before it is answered. The port goes to PORT_FILE
once the server listens. It stops when its parent stops it (SIGTERM or SIGKILL).
"""

import http.server
import os
import socketserver
import ssl
import sys
import threading
import time

CERTIFICATE, KEY, PORT_FILE, LOG_FILE, PAYLOAD_FILE, VICTIM, MODE = sys.argv[1:8]
LOG_LOCK = threading.Lock()
DRIP_LIMIT_SECONDS = 60


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        self.answer()

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        if length:
            self.rfile.read(length)
        self.answer()

    def answer(self):
        with LOG_LOCK, open(LOG_FILE, "a") as log:
            log.write(self.path + "\n")
        kind, _, value = MODE.partition(":")
        try:
            if self.path != VICTIM or kind == "payload":
                with open(PAYLOAD_FILE, "rb") as payload:
                    self.whole(200, payload.read())
            elif kind in ("redirect", "redirect-http"):
                self.send_response(int(value))
                port = self.server.server_address[1]
                self.send_header("Location", "/payload" if kind == "redirect" else
                                 "http://127.0.0.1:%d/payload" % port)
                self.send_header("Content-Length", "0")
                self.end_headers()
            elif kind == "length":
                self.whole(200, b"x" * int(value))
            elif kind == "chunked":
                self.chunked(int(value))
            elif kind == "drip":
                self.drip(float(value))
            else:
                self.whole(500, b"{}")
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            self.close_connection = True

    def whole(self, status, body):
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def chunked(self, size):
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        chunk = 65536
        sent = 0
        while sent < size:
            part = min(chunk, size - sent)
            self.wfile.write(b"%x\r\n" % part + b"x" * part + b"\r\n")
            sent += part
        self.wfile.write(b"0\r\n\r\n")

    def drip(self, pause):
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", "1000000")
        self.end_headers()
        self.wfile.flush()
        ends = time.monotonic() + DRIP_LIMIT_SECONDS
        while time.monotonic() < ends:
            self.wfile.write(b" ")
            self.wfile.flush()
            time.sleep(pause)
        self.close_connection = True


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        # A client that refuses the certificate or hangs up is what these tests are about.
        pass


def main():
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(CERTIFICATE, KEY)
    server = Server(("127.0.0.1", 0), Handler)
    server.socket = context.wrap_socket(server.socket, server_side=True,
                                        do_handshake_on_connect=False)
    temporary = PORT_FILE + ".part"
    with open(temporary, "w") as out:
        out.write(str(server.server_address[1]))
    os.rename(temporary, PORT_FILE)
    server.serve_forever()


if __name__ == "__main__":
    main()
