#!/usr/bin/env python3
"""The demo's two loopback servers in one process: the start-page server with
a sample mail page, and a report server that prints each install report.
servers.py START_HOST:PORT REPORT_HOST:PORT STATE_FOLDER

The page tells the server when it has painted and where its sign-out link is;
the server writes that into STATE_FOLDER/painted for the demo script."""

import json
import os
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit

HERE = os.path.dirname(os.path.abspath(__file__))
reports = []
lock = threading.Lock()


def say(text):
    print(time.strftime("%H:%M:%S"), text, flush=True)


def split_host(host):
    name, _, port = host.partition(":")
    return name, int(port or 80)


class Quiet(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def reply(self, status, content_type, body, extra=None):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        for name, value in (extra or {}).items():
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)


def start_page_handler(state_folder):
    class StartPage(Quiet):
        def do_GET(self):
            url = urlsplit(self.path)
            query = parse_qs(url.query, keep_blank_values=True)
            if url.path == "/quorvl/index1.html":
                say("start page: GET %s" % self.path)
                with open(os.path.join(HERE, "mail.html"), "rb") as f:
                    # A persistent sign-in, so a restart finds the user signed in.
                    return self.reply(200, "text/html; charset=utf-8", f.read(),
                                      {"Set-Cookie": "quorvel_demo_session=signed-in; Max-Age=2592000; Path=/"})
            if url.path in ("/quorvl/message.html", "/quorvl/compose.html"):
                with open(os.path.join(HERE, url.path.rsplit("/", 1)[1]), "rb") as f:
                    return self.reply(200, "text/html; charset=utf-8", f.read())
            if url.path == "/quorvl/attachment/q3-figures.csv":
                say("start page: GET %s (an attachment)" % self.path)
                rows = ["month,sign-ups,active", "July,1204,8930", "August,1377,9611", "September,1512,10402"]
                return self.reply(200, "text/csv", ("\n".join(rows) + "\n").encode(),
                                  {"Content-Disposition": 'attachment; filename="q3-figures.csv"'})
            if url.path == "/quorvl/status":
                with lock:
                    body = json.dumps({"reports": reports}).encode()
                return self.reply(200, "application/json", body)
            if url.path == "/quorvl/painted":
                with open(os.path.join(state_folder, "painted.tmp"), "w") as f:
                    json.dump({k: v[0] for k, v in query.items()}, f)
                os.replace(os.path.join(state_folder, "painted.tmp"), os.path.join(state_folder, "painted"))
                return self.reply(204, "text/plain", b"")
            say("start page: GET %s (not served)" % self.path)
            return self.reply(404, "text/plain", b"not here")
    return StartPage


class Report(Quiet):
    def do_GET(self):
        head = [self.requestline] + ["%s: %s" % item for item in self.headers.items()]
        say("install report received:\n    " + "\n    ".join(head))
        query = parse_qs(urlsplit(self.path).query)
        with lock:
            reports.append({"time": time.strftime("%H:%M:%S"),
                            "source": query.get("source", [""])[0],
                            "device_code": query.get("device_code", [""])[0]})
        self.reply(200, "application/json", b"{}")


def serve(host, handler):
    server = ThreadingHTTPServer(split_host(host), handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def main():
    start_host, report_host, state_folder = sys.argv[1:4]
    serve(start_host, start_page_handler(state_folder))
    serve(report_host, Report)
    say("start page on http://%s/quorvl/index1.html, reports on http://%s/api/report/install" %
        (start_host, report_host))
    with open(os.path.join(state_folder, "listening"), "w") as f:
        f.write("yes\n")
    try:
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
