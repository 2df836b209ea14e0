#!/usr/bin/env python3
"""A small HTTP/1.1 server for the tests: it does on demand what real servers
do not (close mid-body, never answer, answer nothing), and shows a test what
it received. Loopback only; prints its port on the first line of its output
and runs until it is killed. With --only-from ADDRESS only connections from
that address reach it (the others' attempts go unanswered).

Paths (the query gives parameters):
  /echo                 the request as received (request line, headers, body)
  /conn                 "<connection number> <request number on it>"
  /close                a reply with "Connection: close", then the close
  /chunked?n=N          N bytes of the pattern in chunks of 1000
  /lines?n=N            N bytes of text (letters, line ends) in chunks of 1000
  /binary?n=N           N bytes of the pattern (it holds NULs)
  /trickle?n=N&piece=P&ms=D  N bytes of the pattern in pieces of P, D ms apart
  /reply?hex=H          the bytes H (hex) as the body
  /status?code=C        status C with a short body
  /empty                an empty body
  /redirect?code=C&to=U a redirect to U
  /midbody?ms=D         Content-Length 1000, 100 bytes, then (D ms later) the close
  /silent               reads the request and never answers
  /stall                headers and 10 bytes of 1000, then silence
  /nothing              closes without a reply
  /cookie...?set=C&set=D  (any path under /cookie) sets the cookies C and D;
                        the body is the Cookie header received
"""
import argparse
import ctypes
import socket
import ssl
import struct
import threading
import time
import urllib.parse

counter_lock = threading.Lock()
connections = 0


def pattern(n):
    return bytes((i * 7 + i // 251) % 256 for i in range(n))


def text(n):
    return bytes(10 if i % 64 == 63 else 97 + i % 26 for i in range(n))


def read_request(conn, buffered):
    while b"\r\n\r\n" not in buffered:
        data = conn.recv(65536)
        if not data:
            return None, None, b""
        buffered += data
    head, rest = buffered.split(b"\r\n\r\n", 1)
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value.strip())
    while len(rest) < length:
        data = conn.recv(65536)
        if not data:
            break
        rest += data
    return head + b"\r\n\r\n", rest[:length], rest[length:]


def respond(conn, status, body, headers=(), close=False):
    reason = {200: "OK", 301: "Moved", 302: "Found", 303: "See Other", 307: "Temporary Redirect",
              308: "Permanent Redirect", 404: "Not Found"}.get(status, "Status")
    lines = ["HTTP/1.1 %d %s" % (status, reason), "Content-Length: %d" % len(body)]
    lines += list(headers)
    if close:
        lines.append("Connection: close")
    conn.sendall(("\r\n".join(lines) + "\r\n\r\n").encode("latin-1") + body)


def serve(conn, number):
    buffered = b""
    requests = 0
    try:
        while True:
            head, body, buffered = read_request(conn, buffered)
            if head is None:
                return
            requests += 1
            target = head.split(b"\r\n", 1)[0].split(b" ")[1].decode("latin-1")
            if target.startswith("http://") or target.startswith("https://"):
                parts = urllib.parse.urlsplit(target)
                target = parts.path + ("?" + parts.query if parts.query else "")
            url = urllib.parse.urlsplit(target)
            query = dict(urllib.parse.parse_qsl(url.query))
            path = url.path
            if path == "/echo":
                respond(conn, 200, head + body, ["Content-Type: application/octet-stream"])
            elif path == "/conn":
                respond(conn, 200, ("%d %d" % (number, requests)).encode())
            elif path == "/close":
                respond(conn, 200, b"closing", close=True)
                return
            elif path in ("/chunked", "/lines"):
                n = int(query.get("n", "5000"))
                data = pattern(n) if path == "/chunked" else text(n)
                conn.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")
                for i in range(0, len(data), 1000):
                    piece = data[i:i + 1000]
                    conn.sendall(b"%x\r\n" % len(piece) + piece + b"\r\n")
                conn.sendall(b"0\r\n\r\n")
            elif path == "/binary":
                respond(conn, 200, pattern(int(query.get("n", "1000"))))
            elif path == "/trickle":
                data = pattern(int(query.get("n", "10000")))
                piece = int(query.get("piece", "1000"))
                conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(data))
                for i in range(0, len(data), piece):
                    time.sleep(int(query.get("ms", "5")) / 1000)
                    conn.sendall(data[i:i + piece])
            elif path == "/reply":
                respond(conn, 200, bytes.fromhex(query.get("hex", "")),
                        ["Content-Type: text/plain; charset=gbk"])
            elif path == "/status":
                code = int(query.get("code", "404"))
                respond(conn, code, b"status page %d" % code)
            elif path == "/empty":
                respond(conn, 200, b"")
            elif path == "/redirect":
                respond(conn, int(query.get("code", "302")), b"moved",
                        ["Location: " + query.get("to", "/echo")])
            elif path == "/midbody":
                conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + b"x" * 100)
                time.sleep(int(query.get("ms", "0")) / 1000)
                return
            elif path == "/silent":
                while conn.recv(65536):
                    pass
                return
            elif path == "/stall":
                conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + b"y" * 10)
                while conn.recv(65536):
                    pass
                return
            elif path == "/nothing":
                return
            elif path.startswith("/cookie"):
                sent = b""
                for line in head.split(b"\r\n")[1:]:
                    name, _, value = line.partition(b":")
                    if name.strip().lower() == b"cookie":
                        sent = value.strip()
                sets = urllib.parse.parse_qs(url.query).get("set", [])
                respond(conn, 200, sent, ["Set-Cookie: " + c for c in sets])
            else:
                respond(conn, 404, b"no such path: " + head.split(b"\r\n", 1)[0])
    except (OSError, ssl.SSLError):
        pass
    finally:
        try:
            conn.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        conn.close()


def accept_only_from(listener, address):
    """Drops every packet to the listener (so every connection attempt) whose
    IPv4 source is not the address: a server only that host can reach, as a
    server behind a proxy is. A classic BPF socket filter: load the source
    from the network header, accept it when equal, else drop."""
    source = struct.unpack("!I", socket.inet_aton(address))[0]
    code = [(0x20, 0, 0, 0xFFF00000 + 12), (0x15, 0, 1, source),
            (0x06, 0, 0, 0xFFFFFFFF), (0x06, 0, 0, 0)]
    program = ctypes.create_string_buffer(b"".join(struct.pack("HBBI", *c) for c in code))
    listener.setsockopt(socket.SOL_SOCKET, 26,  # SO_ATTACH_FILTER
                        struct.pack("HL", len(code), ctypes.addressof(program)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--require-client-cert", action="store_true")
    parser.add_argument("--only-from", help="the one IPv4 address that may connect")
    args = parser.parse_args()
    context = None
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        if args.require_client_cert:
            context.verify_mode = ssl.CERT_REQUIRED
            context.load_verify_locations(args.cert)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((args.host, args.port))
    if args.only_from:
        accept_only_from(listener, args.only_from)
    listener.listen(64)
    print(listener.getsockname()[1], flush=True)

    def accept():
        global connections
        while True:
            try:
                conn, _ = listener.accept()
            except OSError:
                return
            with counter_lock:
                connections += 1
                number = connections
            if context:
                try:
                    conn.settimeout(10)
                    conn = context.wrap_socket(conn, server_side=True)
                    conn.settimeout(None)
                except (OSError, ssl.SSLError):
                    conn.close()
                    continue
            threading.Thread(target=serve, args=(conn, number), daemon=True).start()

    accept()


if __name__ == "__main__":
    main()
