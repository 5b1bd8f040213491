#!/usr/bin/python3
"""A throwaway RFC 3161 time-stamp server for CI: makes a time-stamping key
and certificate (FOLDER/tsa.pem) and answers each query posted to
http://127.0.0.1:PORT/ with `openssl ts -reply`. Usage: tsa.py PORT FOLDER"""
import http.server
import os
import subprocess
import sys

port, folder = int(sys.argv[1]), sys.argv[2]
config = os.path.join(folder, "tsa.cnf")
with open(config, "w") as f:
    f.write(f"""[req]
distinguished_name = dn
[dn]
[tsa_cert]
extendedKeyUsage = critical,timeStamping
basicConstraints = CA:FALSE
[tsa]
default_tsa = tsa_config
[tsa_config]
serial = {folder}/serial
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512
ess_cert_id_alg = sha256
""")
with open(os.path.join(folder, "serial"), "w") as f:
    f.write("01\n")
subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=Test TSA",
                "-config", config, "-extensions", "tsa_cert", "-keyout", f"{folder}/tsa.key",
                "-out", f"{folder}/tsa.tmp"], check=True, capture_output=True)
os.rename(f"{folder}/tsa.tmp", f"{folder}/tsa.pem")  # there once the server can answer


class TimeStamps(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        reply = subprocess.run(["openssl", "ts", "-reply", "-config", config, "-queryfile", "/dev/stdin",
                                "-signer", f"{folder}/tsa.pem", "-inkey", f"{folder}/tsa.key", "-out", "-"],
                               input=query, capture_output=True, check=True).stdout
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", port), TimeStamps)
server.serve_forever()
