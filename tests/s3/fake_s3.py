#!/usr/bin/python3
"""A small S3-compatible server for the tests.

Stores every object it receives (body and content type) under a directory, answers S3's XML
errors, and checks each request's AWS Signature Version 4 by recomputing it with botocore's S3
signer from the request as received. Every request is appended to ROOT/requests.jsonl with the
verdict, before it is answered, so that a test can check the client's signature independently of the client.

    fake_s3.py --root DIR --config CONFIG.json [--port 0]

CONFIG holds {"credentials": [{"access_key_id", "secret_access_key", "session_token"}],
"buckets": [...], "hold_keys": {KEY: RELEASE_FILE}, "fault_file": FILE}. A request for a key in
"hold_keys" is held, after ROOT/held/KEY has been created, until RELEASE_FILE exists (at most
30 s), so that a test can act while an upload is under way. FILE, when it exists, holds
{"mode": "none"|"refuse"|"slowdown"|"stall"|"trickle", "until": EPOCH_SECONDS or 0 for ever}:
while it lasts every request meets that fault (closed without answer, 503 SlowDown, never
answered, answered a byte a second). The chosen port is printed on the first line of standard
output.
"""

import argparse
import socket
import hashlib
import json
import os
import re
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import unquote, urlsplit
from xml.sax.saxutils import escape

from botocore.auth import S3SigV4Auth
from botocore.awsrequest import AWSRequest
from botocore.credentials import Credentials

AUTH_PATTERN = re.compile(
    r"AWS4-HMAC-SHA256 Credential=(?P<key>[^/]*)/(?P<date>\d{8})/(?P<region>[^/]+)/"
    r"(?P<service>[^/]+)/aws4_request,\s*SignedHeaders=(?P<signed>[^,]+),\s*"
    r"Signature=(?P<signature>[0-9a-f]+)")


class S3Error(Exception):
    def __init__(self, status, code, message):
        super().__init__(message)
        self.status = status
        self.code = code
        self.message = message


def verify_signature(handler, credentials, match, body, record):
    """Recomputes the signature with botocore from what was received."""
    signed = match.group("signed").split(";")
    headers = {}
    for name in signed:
        value = handler.headers.get(name)
        if value is None:
            return False
        headers[name] = value
    host = handler.headers.get("Host", "")
    request = AWSRequest(method=handler.command, url="http://" + host + handler.path,
                         headers=headers, data=body)
    request.context["timestamp"] = handler.headers.get("X-Amz-Date", "")
    auth = S3SigV4Auth(Credentials(credentials["access_key_id"],
                                   credentials["secret_access_key"],
                                   credentials.get("session_token") or None),
                       match.group("service"), match.group("region"))
    canonical = auth.canonical_request(request)
    string_to_sign = auth.string_to_sign(request, canonical)
    valid = auth.signature(string_to_sign, request) == match.group("signature")
    if not valid:
        # What botocore signed, to compare with the client's own canonical request.
        record["canonical_request"] = canonical
    return valid


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):
        pass

    def split_bucket_and_key(self):
        path = urlsplit(self.path).path
        host = self.headers.get("Host", "").split(":")[0]
        if host.endswith(".s3.amazonaws.com"):
            return host[: -len(".s3.amazonaws.com")], unquote(path.lstrip("/"))
        bucket, _, key = path.lstrip("/").partition("/")
        return unquote(bucket), unquote(key)

    def authenticate(self, record, body):
        authorization = self.headers.get("Authorization")
        if not authorization:
            raise S3Error(403, "AccessDenied", "Access Denied")
        match = AUTH_PATTERN.fullmatch(authorization.strip())
        if not match:
            raise S3Error(400, "AuthorizationHeaderMalformed",
                          "The authorization header is malformed.")
        record["access_key_id"] = match.group("key")
        record["region"] = match.group("region")
        record["signed_headers"] = match.group("signed")
        credentials = self.server.credentials.get(match.group("key"))
        if credentials is None:
            raise S3Error(403, "InvalidAccessKeyId",
                          "The AWS Access Key Id you provided does not exist in our records.")
        record["signature_valid"] = verify_signature(self, credentials, match, body, record)
        payload_hash = self.headers.get("X-Amz-Content-SHA256")
        if payload_hash is None:
            raise S3Error(400, "InvalidRequest",
                          "Missing required header for this request: x-amz-content-sha256")
        if payload_hash != "UNSIGNED-PAYLOAD" and payload_hash != hashlib.sha256(body).hexdigest():
            raise S3Error(400, "XAmzContentSHA256Mismatch",
                          "The provided 'x-amz-content-sha256' header does not match what was "
                          "computed.")
        if not record["signature_valid"]:
            raise S3Error(403, "SignatureDoesNotMatch",
                          "The request signature we calculated does not match the signature you "
                          "provided. Check your key and signing method.")
        expected_token = credentials.get("session_token") or None
        if self.headers.get("X-Amz-Security-Token") != expected_token:
            raise S3Error(403, "InvalidToken",
                          "The provided token is malformed or otherwise invalid.")

    def send_error_xml(self, error, record):
        body = ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Error><Code>%s</Code>"
                "<Message>%s</Message><RequestId>fake</RequestId></Error>"
                % (escape(error.code), escape(error.message))).encode()
        record["status"] = error.status
        record["error_code"] = error.code
        self.server.record(record)
        self.send_response(error.status)
        self.send_header("Content-Type", "application/xml")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def read_body(self):
        length = int(self.headers.get("Content-Length", "0") or "0")
        return self.rfile.read(length) if length > 0 else b""

    def object_paths(self, bucket, key):
        data = os.path.join(self.server.root, "buckets", bucket, key)
        meta = os.path.join(self.server.root, "meta", bucket, key + ".json")
        return data, meta

    def hold_if_asked(self, key):
        release = self.server.hold_keys.get(key)
        if not release:
            return
        marker = os.path.join(self.server.root, "held", key)
        os.makedirs(os.path.dirname(marker), exist_ok=True)
        with open(marker, "w"):
            pass
        deadline = time.monotonic() + 30
        while not os.path.exists(release) and time.monotonic() < deadline:
            time.sleep(0.02)

    def current_fault(self):
        path = self.server.fault_file
        if not path or not os.path.exists(path):
            return None
        try:
            with open(path) as f:
                fault = json.load(f)
        except (OSError, ValueError):
            return None
        until = fault.get("until") or 0
        if fault.get("mode", "none") == "none" or (until and time.time() >= until):
            return None
        return fault

    def meet_fault(self, fault, record):
        mode = fault["mode"]
        until = fault.get("until") or 0
        record["fault"] = mode
        self.close_connection = True
        if mode != "slowdown":
            self.server.record(record)
        if mode == "refuse":
            self.connection.shutdown(socket.SHUT_RDWR)
        elif mode == "slowdown":
            self.send_error_xml(S3Error(503, "SlowDown", "Please reduce your request rate."),
                                record)
        elif mode in ("stall", "trickle"):
            answer = (b"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n")
            deadline = until if until else time.time() + 600
            sent = 0
            while time.time() < deadline and not self.server.stopping:
                time.sleep(1)
                if mode == "trickle" and sent < len(answer) - 1:
                    try:
                        self.wfile.write(answer[sent:sent + 1])
                        self.wfile.flush()
                    except OSError:
                        return
                    sent += 1
            try:
                self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def handle_request(self):
        body = self.read_body()
        fault = self.current_fault()
        if fault:
            bucket, key = self.split_bucket_and_key()
            self.meet_fault(fault, {"method": self.command, "path": self.path, "bucket": bucket,
                                    "key": key, "status": None})
            return
        bucket, key = self.split_bucket_and_key()
        self.hold_if_asked(key)
        record = {"method": self.command, "path": self.path, "bucket": bucket, "key": key,
                  "content_type": self.headers.get("Content-Type"), "size": len(body),
                  "signature_valid": None, "access_key_id": None, "status": None,
                  "error_code": None}
        try:
            if bucket not in self.server.buckets:
                raise S3Error(404, "NoSuchBucket", "The specified bucket does not exist")
            self.authenticate(record, body)
            if not key or ".." in key.split("/"):
                raise S3Error(400, "InvalidRequest", "Invalid object key")
            data_path, meta_path = self.object_paths(bucket, key)
            if self.command == "PUT":
                os.makedirs(os.path.dirname(data_path), exist_ok=True)
                os.makedirs(os.path.dirname(meta_path), exist_ok=True)
                with open(data_path, "wb") as f:
                    f.write(body)
                with open(meta_path, "w") as f:
                    json.dump({"content_type": record["content_type"]}, f)
                record["status"] = 200
                self.server.record(record)
                self.send_response(200)
                self.send_header("ETag", '"%s"' % hashlib.md5(body).hexdigest())
                self.send_header("Content-Length", "0")
                self.end_headers()
            elif self.command in ("GET", "HEAD"):
                if not os.path.exists(data_path):
                    raise S3Error(404, "NoSuchKey", "The specified key does not exist.")
                with open(data_path, "rb") as f:
                    content = f.read()
                with open(meta_path) as f:
                    meta = json.load(f)
                record["status"] = 200
                self.server.record(record)
                self.send_response(200)
                self.send_header("Content-Type", meta.get("content_type") or "binary/octet-stream")
                self.send_header("Content-Length", str(len(content)))
                self.end_headers()
                if self.command == "GET":
                    self.wfile.write(content)
            else:
                raise S3Error(405, "MethodNotAllowed",
                              "The specified method is not allowed against this resource.")
        except S3Error as error:
            self.send_error_xml(error, record)

    do_PUT = handle_request
    do_GET = handle_request
    do_HEAD = handle_request
    do_POST = handle_request
    do_DELETE = handle_request


class Server(ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, address, root, config):
        super().__init__(address, Handler)
        self.root = root
        self.credentials = {c["access_key_id"]: c for c in config.get("credentials", [])}
        self.buckets = set(config.get("buckets", []))
        self.hold_keys = config.get("hold_keys", {})
        self.fault_file = config.get("fault_file")
        self.stopping = False
        self.log_lock = threading.Lock()
        self.log_path = os.path.join(root, "requests.jsonl")

    def record(self, entry):
        with self.log_lock:
            with open(self.log_path, "a") as f:
                f.write(json.dumps(entry) + "\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--config", required=True)
    parser.add_argument("--port", type=int, default=0)
    args = parser.parse_args()
    with open(args.config) as f:
        config = json.load(f)
    os.makedirs(args.root, exist_ok=True)
    server = Server(("127.0.0.1", args.port), args.root, config)
    print(server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
