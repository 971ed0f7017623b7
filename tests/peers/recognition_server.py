#!/usr/bin/python3
"""A speech-recognition service of the tests' own, on a loopback port.

It takes what the tone component posts (a multipart body whose one part,
"userfile", holds FLAC audio), checks the request's shape, decodes the FLAC
with Debian's flac and answers in the service's reply format:

  {"status":0,"id":"...","hypotheses":[{"utterance":"...","confidence":0.87}]}

Modes:
  canned   the replies of --replies, one per request in order (the last one
           repeats); a reply "<close>" closes the connection without an
           answer, "<empty>" answers 200 with an empty body
  sphinx   the FLAC is resampled to 16 kHz 16-bit with sox and recognised by
           pocketsphinx_continuous; its hypothesis is the utterance (status
           5 when it heard nothing)

Every request N leaves in --dir: request-N.head (request line and headers),
request-N.body, request-N.flac, request-N.raw (the decoded 8-bit samples),
request-N.check ("ok" or one problem per line) and request-N.reply.  A
request that fails a check is answered 400 with the problems as its body.
"""

import argparse
import http.server
import json
import os
import re
import socketserver
import ssl
import subprocess
import threading

BOUNDARY = re.compile(r"^[0-9A-F]{8}_Velmora_boundary$")
REQUEST_TYPE = re.compile(r"^audio/x-flac; rate=44100, boundary=(.*)$")
PART_TYPE = b"Content-Type: audio/x-flac; rate=44100"


def check_multipart(content_type, body):
    """Returns (problems, file name, file data)."""
    problems = []
    m = REQUEST_TYPE.match(content_type or "")
    if not m:
        return ["request content type is %r" % content_type], "", b""
    boundary = m.group(1)
    if not BOUNDARY.match(boundary):
        problems.append("boundary %r is not 8 upper-case hex digits + _Velmora_boundary" % boundary)
    opening = b"--" + boundary.encode() + b"\r\n"
    closing = b"\r\n--" + boundary.encode() + b"--\r\n"
    if not body.startswith(opening):
        return problems + ["body does not begin with --boundary CRLF"], "", b""
    if not body.endswith(closing):
        return problems + ["body does not end with CRLF --boundary-- CRLF"], "", b""
    inner = body[len(opening):len(body) - len(closing)]
    head, sep, data = inner.partition(b"\r\n\r\n")
    if not sep:
        return problems + ["part has no empty line after its headers"], "", b""
    lines = head.split(b"\r\n")
    if len(lines) != 2:
        problems.append("part has %d header lines, not 2" % len(lines))
    disposition = re.match(rb'^content-disposition: form-data; name="([^"]*)"; filename="([^"]*)"$',
                           lines[0])
    name = ""
    if not disposition:
        problems.append("content-disposition line is %r" % lines[0])
    else:
        if disposition.group(1) != b"userfile":
            problems.append("field name is %r" % disposition.group(1))
        name = disposition.group(2).decode("latin-1")
    if len(lines) < 2 or lines[1] != PART_TYPE:
        problems.append("part content type line is %r" % (lines[1] if len(lines) > 1 else b""))
    return problems, name, data


def reply_json(status, utterance="", confidence=None):
    text = '{"status":%d,"id":"5c1e0cbf3f8e2d7a-1","hypotheses":[' % status
    if confidence is not None:
        text += '{"utterance":%s,"confidence":%s}' % (json.dumps(utterance, ensure_ascii=False),
                                                     confidence)
    return text + "]}\n"


class Handler(http.server.BaseHTTPRequestHandler):
    server_version = "VelmoraRecognitionTest/1"

    def log_message(self, *args):
        pass

    def do_POST(self):
        srv = self.server
        with srv.lock:
            srv.count += 1
            n = srv.count
        base = os.path.join(srv.opts.dir, "request-%d" % n)
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length)
        with open(base + ".head", "w", encoding="latin-1") as f:
            f.write(self.requestline + "\n" + str(self.headers))
        with open(base + ".body", "wb") as f:
            f.write(body)
        problems, name, data = check_multipart(self.headers.get("Content-Type"), body)
        if not problems and not srv.opts.no_decode:
            with open(base + ".flac", "wb") as f:
                f.write(data)
            decoded = subprocess.run(["flac", "-d", "-s", "-f", "--force-raw-format",
                                      "--endian=little", "--sign=unsigned", "-o", base + ".raw",
                                      base + ".flac"], capture_output=True)
            if decoded.returncode != 0:
                problems.append("the file is no FLAC that flac decodes: " +
                                decoded.stderr.decode(errors="replace").strip())
        with open(base + ".check", "w") as f:
            f.write("\n".join(problems) if problems else "ok")
        if problems:
            self.answer(base, 400, ("\n".join(problems) + "\n").encode(), "text/plain")
            return
        if srv.opts.mode == "sphinx":
            reply = self.recognise(base)
        else:
            replies = srv.replies
            reply = replies[min(n, len(replies)) - 1] if replies else ""
        if reply == "<close>":
            with open(base + ".reply", "w") as f:
                f.write("<close>")
            self.close_connection = True
            return
        if reply == "<empty>":
            reply = ""
        self.answer(base, 200, reply.encode("utf-8"), "application/json; charset=utf-8")

    def recognise(self, base):
        wav = base + "-16k.wav"
        subprocess.run(["sox", "-t", "raw", "-r", "44100", "-e", "unsigned", "-b", "8", "-c", "1",
                        base + ".raw", "-r", "16000", "-b", "16", "-e", "signed", wav, "pad",
                        "0.3", "0.3"], check=True, capture_output=True)
        heard = subprocess.run(["pocketsphinx_continuous", "-infile", wav, "-logfn", os.devnull],
                               capture_output=True, text=True)
        words = " ".join(heard.stdout.split())
        with open(base + ".hypothesis", "w") as f:
            f.write(words)
        return reply_json(0, words, "0.75") if words else reply_json(5)

    def answer(self, base, code, payload, content_type):
        with open(base + ".reply", "wb") as f:
            f.write(payload)
        self.send_response(code)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(payload)))
        self.end_headers()
        self.wfile.write(payload)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--dir", required=True)
    p.add_argument("--mode", choices=["canned", "sphinx"], default="canned")
    p.add_argument("--replies", help="a JSON list of reply texts")
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--no-decode", action="store_true",
                   help="check the body but leave the FLAC undecoded (for timing the client)")
    opts = p.parse_args()
    srv = Server(("127.0.0.1", opts.port), Handler)
    srv.opts = opts
    srv.lock = threading.Lock()
    srv.count = 0
    srv.replies = []
    if opts.replies:
        with open(opts.replies, encoding="utf-8") as f:
            srv.replies = json.load(f)
    if opts.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(opts.cert, opts.key)
        srv.socket = context.wrap_socket(srv.socket, server_side=True)
    with open(os.path.join(opts.dir, "server.pid"), "w") as f:
        f.write(str(os.getpid()))
    srv.serve_forever()


if __name__ == "__main__":
    main()
