#!/usr/bin/env python3
"""The order server of examples/post-form.html: answers each POST with the
fields it received. The page sends its form in GBK, as the object does; the
reply goes back in GBK too.

    python3 examples/form-server.py [PORT]      (default 8808, loopback only)
"""
import http.server
import sys


class OrderHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"  # keeps the connection between posts

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        fields = [pair.split("=", 1) for pair in body.decode("gbk").split("&") if pair]
        order = dict(field if len(field) == 2 else (field[0], "") for field in fields)
        key = order.pop("sp", "?")
        reply = "收到订单 %s: %s" % (key, ", ".join("%s=%s" % item for item in order.items()))
        data = reply.encode("gbk")
        self.send_response(200)
        self.send_header("Content-Type", "text/plain; charset=gbk")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def log_message(self, *args):
        pass


if __name__ == "__main__":
    port = int(sys.argv[1]) if len(sys.argv) > 1 else 8808
    http.server.ThreadingHTTPServer(("127.0.0.1", port), OrderHandler).serve_forever()
