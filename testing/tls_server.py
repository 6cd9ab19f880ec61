#!/usr/bin/env python3
"""A small HTTPS server for tests: serves the files of FOLDER (GET only) on
127.0.0.1 at a port the system picks, with the certificate chain CERT and
its key KEY, until it is killed. Prints "port N" once it listens.

Usage: tls_server.py CERT KEY FOLDER
"""
import http.server
import os
import ssl
import sys


class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, format, *args):
        pass  # quiet: the test reads its own output only


def main():
    cert, key, folder = sys.argv[1:4]
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    os.chdir(folder)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    print("port %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
