#!/usr/bin/env python3
"""Serves the web build of the show on 127.0.0.1, cross-origin isolated.

Usage: tools/web/serve.py [--port N] [FOLDER]
  FOLDER defaults to build-web/ in the project. The port comes from --port,
  else from the PORT environment variable, else 8000; port 0 takes a free one
  (the line printed at start names it).

Every response carries the headers that make the page cross-origin isolated
(SharedArrayBuffer, hence wasm threads, needs them) and asks the browser to
revalidate each file, so a rebuilt file is never taken from its cache. When
X.gz lies beside a requested file X and the request accepts gzip, X.gz is sent
with Content-Encoding: gzip and X's type.
"""

import argparse
import email.utils
import errno
import http.server
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

ISOLATION_HEADERS = (
    ("Cross-Origin-Opener-Policy", "same-origin"),
    ("Cross-Origin-Embedder-Policy", "require-corp"),
    ("Cross-Origin-Resource-Policy", "same-origin"),
)


def accepts_gzip(header):
    """True when an Accept-Encoding value allows gzip (a q of 0 refuses it)."""
    for item in (header or "").split(","):
        name, _, params = item.strip().partition(";")
        if name.strip().lower() not in ("gzip", "x-gzip", "*"):
            continue
        q = 1.0
        for param in params.split(";"):
            key, _, value = param.strip().partition("=")
            if key.strip().lower() == "q":
                try:
                    q = float(value)
                except ValueError:
                    q = 0.0
        if q > 0:
            return True
    return False


class Handler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {
        **http.server.SimpleHTTPRequestHandler.extensions_map,
        ".wasm": "application/wasm",
        ".js": "text/javascript",
        ".mjs": "text/javascript",
        ".json": "application/json",
        ".html": "text/html",
        ".htm": "text/html",
        ".map": "application/json",
        ".data": "application/octet-stream",
    }

    def end_headers(self):
        for name, value in ISOLATION_HEADERS:
            self.send_header(name, value)
        self.send_header("Cache-Control", "no-cache")
        super().end_headers()

    def send_head(self):
        path = self.translate_path(self.path)
        gz = path + ".gz"
        if (os.path.isfile(path) and os.path.isfile(gz)
                and accepts_gzip(self.headers.get("Accept-Encoding"))):
            try:
                f = open(gz, "rb")
            except OSError:
                return super().send_head()
            st = os.fstat(f.fileno())
            self.send_response(200)
            self.send_header("Content-Type", self.guess_type(path))
            self.send_header("Content-Encoding", "gzip")
            self.send_header("Content-Length", str(st.st_size))
            self.send_header("Last-Modified", email.utils.formatdate(st.st_mtime, usegmt=True))
            self.send_header("Vary", "Accept-Encoding")
            self.end_headers()
            return f
        return super().send_head()


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        # A browser that closes a connection mid-transfer is no error.
        if isinstance(sys.exc_info()[1], (BrokenPipeError, ConnectionResetError)):
            return
        super().handle_error(request, client_address)


def main():
    parser = argparse.ArgumentParser(description="Serves a folder cross-origin isolated on 127.0.0.1.")
    parser.add_argument("folder", nargs="?", default=os.path.join(ROOT, "build-web"))
    parser.add_argument("--port", type=int, default=None,
                        help="port (default: $PORT, else 8000; 0 for a free one)")
    args = parser.parse_args()

    folder = os.path.abspath(args.folder)
    if not os.path.isdir(folder):
        print(f"serve.py: {folder} is not a folder", file=sys.stderr)
        return 1
    port = args.port
    if port is None:
        try:
            port = int(os.environ.get("PORT", "8000"))
        except ValueError:
            print(f"serve.py: PORT={os.environ['PORT']} is not a port number", file=sys.stderr)
            return 1

    def handler(*a, **kw):
        return Handler(*a, directory=folder, **kw)

    try:
        server = Server(("127.0.0.1", port), handler)
    except OSError as e:
        if e.errno == errno.EADDRINUSE:
            print(f"serve.py: port {port} on 127.0.0.1 is already in use", file=sys.stderr)
        else:
            print(f"serve.py: cannot listen on 127.0.0.1:{port}: {e.strerror}", file=sys.stderr)
        return 1
    with server:
        print(f"Serving {folder} at http://127.0.0.1:{server.server_address[1]}/", flush=True)
        try:
            server.serve_forever()
        except KeyboardInterrupt:
            pass
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        sys.exit(0)
