#!/usr/bin/env python3
"""A throttled web server for the demo, on 127.0.0.1 only.

Serves each FILE at /<its name> (404 for every other path) at RATE bytes
per second, answers each --redirect FROM=TO with a 302 to TO, writes the
port it got into PORT_FILE, logs one line per request to standard error,
and stops by itself after LIFETIME seconds.
"""
import argparse
import os
import http.server
import sys
import threading
import time


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--file", action="append", required=True)
    parser.add_argument("--redirect", action="append", default=[])
    parser.add_argument("--rate", type=int, default=100000)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--lifetime", type=float, default=120)
    args = parser.parse_args()
    files = {}
    for path in args.file:
        with open(path, "rb") as f:
            files["/" + os.path.basename(path)] = f.read()
    redirects = dict(pair.split("=", 1) for pair in args.redirect)

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            path = self.path.split("?")[0]
            if path in redirects:
                self.send_response(302)
                self.send_header("Location", redirects[path])
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            if path not in files:
                self.send_error(404)
                return
            body = files[path]
            self.send_response(200)
            self.send_header("Content-Type", "application/zip" if path.endswith(".zip")
                             else "application/octet-stream")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            piece = max(1, args.rate // 20)
            try:
                for at in range(0, len(body), piece):
                    self.wfile.write(body[at:at + piece])
                    self.wfile.flush()
                    time.sleep(0.05)
            except (BrokenPipeError, ConnectionResetError):
                pass

        def log_message(self, fmt, *values):
            sys.stderr.write("server: %s\n" % (fmt % values))
            sys.stderr.flush()

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    with open(args.port_file, "w") as f:
        f.write(str(server.server_address[1]))
    threading.Timer(args.lifetime, server.shutdown).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
