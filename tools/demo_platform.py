#!/usr/bin/env python3
"""A stand-in for the live platform's web host, for the demo and the end-to-end tests.

GET /<room id> answers with a room page that carries the room's stream name the way the
tool's pattern expects it; GET /apple/player/livePlayer10.5.swf?fileName=<stream> answers with
a small page that shows which stream it was asked for. Pages are GBK, as the platform's are.
Only the standard library; it listens on 127.0.0.1 only.
"""

import argparse
import html
import os
import socket
import socketserver
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler

PLAYER_PATH = "/apple/player/livePlayer10.5.swf"


def stream_for(room_id):
    """live_ and the room identifier with everything but ASCII letters and digits as '_'."""
    safe = "".join(c if c.isascii() and c.isalnum() else "_" for c in room_id)
    return "live_" + safe


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    server_version = "demo-platform"

    def log_message(self, format, *args):  # noqa: A002 - the base class names it so
        pass

    def parse_request(self):
        # Logged before parsing, so a malformed request line is on record as it arrived.
        self.server.log_request_line(self.raw_requestline)
        return super().parse_request()

    def do_GET(self):
        options = self.server.options
        target = self.path
        path, _, query = target.partition("?")
        if path == PLAYER_PATH:
            self.serve_player(query)
            return
        if options.never_answer:
            # Hold the connection open and say nothing, until the server stops.
            self.server.stopping.wait()
            return
        if options.slow > 0:
            time.sleep(options.slow)
        if options.drop_rooms:
            # Closed without a word: the request fails on the tool's side.
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        room_id = urllib.parse.unquote(path[1:], errors="replace")
        self.serve_room(room_id)

    def serve_room(self, room_id):
        options = self.server.options
        stream = options.stream_name if options.stream_name is not None else stream_for(room_id)
        flv_key, sound_key = ("FLVTITLE", "SOUND") if options.upper_case else ("flvtitle", "sound")
        title = html.escape(room_id).encode("gbk", errors="replace")
        head = b"<html><head><title>" + title + b"</title></head><body>\n"
        if options.no_pattern:
            data = b'<script>var room = {"roomid":1,"flvname":"x"};</script>\n'
        else:
            data = ('<script>var room = {"roomid":1,"%s":"%s","%s":1};</script>\n'
                    % (flv_key, stream, sound_key)).encode("gbk", errors="replace")
        tail = b"</body></html>\n"
        filler = b""
        if options.huge_mib > 0:
            # The stream name comes last, so the whole page has to be read and searched.
            line = b"<p>" + b"x" * 1020 + b"</p>\n"
            count = options.huge_mib * 1024 * 1024 // len(line)
            filler = line * count
        body_length = len(head) + len(filler) + len(data) + len(tail)
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(body_length))
        self.end_headers()
        try:
            self.wfile.write(head)
            for start in range(0, len(filler), 1 << 20):
                self.wfile.write(filler[start:start + (1 << 20)])
            self.wfile.write(data + tail)
        except (BrokenPipeError, ConnectionResetError):
            pass

    def serve_player(self, query):
        asked = ""
        for part in query.split("&"):
            key, _, value = part.partition("=")
            if key == "fileName":
                asked = urllib.parse.unquote(value, errors="replace")
                break
        shown = html.escape(asked) if asked else "(no stream)"
        body = ("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>player</title>"
                "<style>body{margin:0;background:#202840;color:#fff;font:24px sans-serif}"
                "div{padding:40px}</style></head><body><div>Player<br>stream: <b id=\"s\">%s"
                "</b></div></body></html>" % shown).encode("utf-8")
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        try:
            self.wfile.write(body)
        except (BrokenPipeError, ConnectionResetError):
            pass


class Server(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, options):
        super().__init__(("127.0.0.1", options.port), Handler)
        self.options = options
        self.stopping = threading.Event()
        self.log_lock = threading.Lock()
        self.log = open(options.log, "ab") if options.log else None

    def log_request_line(self, raw_line):
        if self.log is None:
            return
        with self.log_lock:
            self.log.write(raw_line)
            if not raw_line.endswith(b"\n"):
                self.log.write(b"\n")
            self.log.flush()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=8080, help="0 lets the system pick one")
    parser.add_argument("--port-file", help="write the port here once listening")
    parser.add_argument("--log", help="append every request line here, raw, as it arrived")
    parser.add_argument("--slow", type=float, default=0.0,
                        help="seconds to wait before answering a room page")
    parser.add_argument("--no-pattern", action="store_true",
                        help="room pages without the stream name")
    parser.add_argument("--upper-case", action="store_true",
                        help="spell the page's two keys in capital letters")
    parser.add_argument("--stream-name", help="this stream name (GBK) on every room page")
    parser.add_argument("--huge-mib", type=int, default=0,
                        help="room pages of about this many MiB, the stream name last")
    parser.add_argument("--drop-rooms", action="store_true",
                        help="close room requests without answering")
    parser.add_argument("--never-answer", action="store_true",
                        help="accept room requests and never answer them")
    options = parser.parse_args()

    server = Server(options)
    port = server.server_address[1]
    if options.port_file:
        temporary = options.port_file + ".tmp"
        with open(temporary, "w") as f:
            f.write("%d\n" % port)
        os.replace(temporary, options.port_file)
    print("demo platform on http://127.0.0.1:%d/" % port, file=sys.stderr, flush=True)
    try:
        server.serve_forever(poll_interval=0.1)
    except KeyboardInterrupt:
        pass
    finally:
        server.stopping.set()
        server.server_close()


if __name__ == "__main__":
    main()
