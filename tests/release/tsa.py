# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""A timestamp authority (RFC 3161) on loopback, for the release check.

    python3 tsa.py DIR     DIR holds tsa.pem, tsa.key, ca.pem and tsa.cnf

Prints the port it listens on, then answers each POSTed query with
`openssl ts -reply`.
"""
import http.server
import os
import subprocess
import sys
import tempfile

folder = sys.argv[1]


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        with tempfile.TemporaryDirectory() as work:
            with open(os.path.join(work, "query"), "wb") as f:
                f.write(query)
            subprocess.run(["openssl", "ts", "-reply", "-config", "tsa.cnf", "-queryfile",
                            os.path.join(work, "query"), "-signer", "tsa.pem", "-inkey", "tsa.key",
                            "-chain", "ca.pem", "-out", os.path.join(work, "reply")],
                           cwd=folder, check=True, capture_output=True)
            with open(os.path.join(work, "reply"), "rb") as f:
                reply = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
