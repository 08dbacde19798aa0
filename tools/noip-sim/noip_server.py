#!/usr/bin/env python3
"""noip-sim: a local stand-in for the No-IP REST service the account form
talks to, written from the service's side with Python's own hashlib, hmac
and base64.

Every request is checked before it is answered: the request line, the
header lines and their order, the Date (its format, its weekday and how far
it is from now), the Content-MD5 and Content-Length of the body, and the
HMAC-SHA1 signature under the identity the path calls for (the OEM client,
the user signing in, or the account). The service keeps accounts and hosts
in memory and answers with the XML replies the client reads, errors
included.

    noip_server.py [--port N] [--api-host NAME] [--domains a,b,c]
                   [--oem-domain NAME] [--max-skew S] [--log FILE]
                   [--framing length|close|keep-alive|chunked]

--port 0 picks a free port; the first line printed is "PORT n". --log
writes one JSON object per request (method, path, identity, verdict, status).
--framing says how the service's answers end: "length" (the default) with
a Content-Length and the connection closed, "close" with no length and
the connection closed after the body, "keep-alive" with a Content-Length
and the connection kept open, "chunked" in chunks (Transfer-Encoding:
chunked, 0.2 s apart, one with an extension) on a connection kept open.
Unsigned control requests for tests and demos, under /_control/:
  POST /_control/next-reply   the body is sent verbatim as the answer to
                              the next service request (after its checks)
  POST /_control/next-reply-split  the same in two halves 1.5 s apart
  POST /_control/hang         the next service request gets no answer; its
                              connection stays open
  POST /_control/framing      the body ("length", "close", "keep-alive",
                              "chunked") frames the service's answers from now
  GET  /_control/state        accounts and hosts as JSON
"""

import argparse
import base64
import datetime
import hashlib
import hmac
import json
import re
import secrets
import socket
import socketserver
import sys
import threading
import time
import urllib.parse

OEM_ID = "CLI-580617"
OEM_KEY = "3a9e51c07bd84f26e0c5a1d9b7f4e823"
USER_AGENT = "No-IP Rest Client/1.0 (PHP)"
FORM_TYPE = "application/x-www-form-urlencoded"
DECLARATION = '<?xml version="1.0"?>'
DAYS = ["Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"]  # datetime.weekday() order
MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]
DATE_RE = re.compile(r"^(Sun|Mon|Tue|Wed|Thu|Fri|Sat), (\d\d) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                     r"(\d{4}) (\d\d):(\d\d):(\d\d) \+0000$")
GET_HEADERS = ["User-Agent", "Host", "Accept", "Date", "Authorization"]
POST_HEADERS = ["User-Agent", "Host", "Accept", "Date", "Content-MD5", "Content-Length", "Content-Type",
                "Authorization"]
REASONS = {200: "OK", 201: "Created", 400: "Bad Request", 401: "Unauthorized", 404: "Not Found",
           409: "Conflict", 422: "Unprocessable Entity"}


def xml_text(value):
    return value.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def xml_reply(root, fields):
    inner = "".join("<%s>%s</%s>" % (k, xml_text(str(v)), k) for k, v in fields)
    return "%s\n<%s>%s</%s>\n" % (DECLARATION, root, inner, root)


def error_reply(messages):
    inner = "".join("<error><msg>%s</msg></error>" % xml_text(m) for m in messages)
    return "%s\n<errors>%s</errors>\n" % (DECLARATION, inner)


class Refused(Exception):
    """A request that fails its checks: answered 401 with the reason."""


class Service:
    def __init__(self, args):
        self.api_host = args.api_host
        self.domains = [d for d in args.domains.split(",") if d]
        self.oem_domain = args.oem_domain
        self.max_skew = args.max_skew
        self.lock = threading.Lock()
        self.accounts = {}  # id -> dict
        self.hosts = {}     # full name -> dict
        self.next_id = 1000001
        self.next_host = 501
        self.canned = []    # raw answers for the next requests
        self.hangs = 0
        self.framing = getattr(args, "framing", "length")
        self.log_file = open(args.log, "a", buffering=1) if args.log else None

    def log(self, **entry):
        if self.log_file:
            self.log_file.write(json.dumps(entry) + "\n")

    # --- checks ---------------------------------------------------------

    def check_date(self, text):
        m = DATE_RE.match(text)
        if not m:
            raise Refused("bad Date format: %r" % text)
        day, mday, mon, year, hh, mm, ss = m.groups()
        try:
            when = datetime.datetime(int(year), MONTHS.index(mon) + 1, int(mday), int(hh), int(mm), int(ss),
                                     tzinfo=datetime.timezone.utc)
        except ValueError:
            raise Refused("impossible Date: %r" % text)
        if DAYS[when.weekday()] != day:
            raise Refused("Date weekday does not match: %r" % text)
        if self.max_skew >= 0:
            skew = abs((datetime.datetime.now(datetime.timezone.utc) - when).total_seconds())
            if skew > self.max_skew:
                raise Refused("Date too far from now (%d s)" % skew)

    def key_of(self, identity, kind, path_account=None):
        """The signing key of identity for a path that calls for kind."""
        with self.lock:
            if kind == "oem":
                if identity != OEM_ID:
                    raise Refused("this request must be signed by the OEM client")
                return OEM_KEY
            if kind == "user":
                for a in self.accounts.values():
                    if identity in (a["username"], a["email"]):
                        return a["password"]
                raise Refused("unknown user")
            a = self.accounts.get(identity)
            if not a:
                raise Refused("unknown account")
            if path_account is not None and path_account != identity:
                raise Refused("account id of the path and the signature differ")
            return a["key"]

    def verify(self, method, path, headers, body):
        """Checks the request; returns the identity that signed it."""
        names = [n for n, _ in headers]
        expected = GET_HEADERS if method == "GET" else POST_HEADERS
        if names != expected:
            raise Refused("header lines %s, expected %s" % (names, expected))
        h = dict(headers)
        if h["User-Agent"] != USER_AGENT:
            raise Refused("bad User-Agent")
        if h["Host"] != self.api_host:
            raise Refused("bad Host %r" % h["Host"])
        if h["Accept"] != "*/*":
            raise Refused("bad Accept")
        self.check_date(h["Date"])
        if method != "GET":
            md5 = base64.b64encode(hashlib.md5(body).digest()).decode()
            if h["Content-MD5"] != md5:
                raise Refused("Content-MD5 %r, body gives %r" % (h["Content-MD5"], md5))
            if h["Content-Length"] != str(len(body)):
                raise Refused("Content-Length does not match the body")
            if h["Content-Type"] != FORM_TYPE:
                raise Refused("bad Content-Type")
            to_sign = "%s\n%s\n%s\n%s\n%s" % (method, FORM_TYPE, md5, h["Date"], path)
        else:
            if body:
                raise Refused("a GET with a body")
            to_sign = "%s\n\n\n%s\n%s" % (method, h["Date"], path)
        m = re.match(r"^NOIP ([^:]*):([A-Za-z0-9+/]{27}=)$", h["Authorization"])
        if not m:
            raise Refused("bad Authorization %r" % h["Authorization"])
        identity, signature = m.groups()
        route = urllib.parse.urlsplit(path).path
        account_path = re.match(r"^/v2/oem/accounts/([^/]+)\.xml$", route)
        if route in ("/v2/oem/accounts.xml", "/v2/oem/dns/domains.xml"):
            kind, path_account = "oem", None
        elif route == "/v2/oem/clients.xml":
            kind, path_account = "user", None
        elif account_path:
            kind, path_account = "account", account_path.group(1)
        elif route == "/v2/oem/dns/hosts.xml":
            kind, path_account = "account", None
        else:
            return identity, None  # unknown path: answered 404 after the checks
        key = self.key_of(identity, kind, path_account)
        want = base64.b64encode(hmac.new(key.encode(), to_sign.encode(), hashlib.sha1).digest()).decode()
        if not hmac.compare_digest(want, signature):
            raise Refused("signature does not verify under the %s identity" % kind)
        return identity, kind

    # --- the service ----------------------------------------------------

    def form(self, body):
        try:
            fields = urllib.parse.parse_qs(body.decode("utf-8"), keep_blank_values=True, strict_parsing=bool(body))
        except (ValueError, UnicodeDecodeError):
            return None
        return {k: v[0] for k, v in fields.items() if len(v) == 1}

    def answer(self, method, path, identity, body):
        split = urllib.parse.urlsplit(path)
        route = split.path
        with self.lock:
            if method == "POST" and route == "/v2/oem/accounts.xml":
                return self.create_account(self.form(body))
            if method == "GET" and route == "/v2/oem/accounts.xml":
                q = urllib.parse.parse_qs(split.query, keep_blank_values=True)
                if q.get("mode") != ["exists"] or len(q.get("user", [])) != 1:
                    return 400, error_reply(["bad query"])
                user = q["user"][0]
                taken = any(a["username"].lower() == user.lower() for a in self.accounts.values())
                if taken:
                    return 200, xml_reply("exists", [("string", user)])
                return 200, "%s\n<exists/>\n" % DECLARATION
            if method == "POST" and route == "/v2/oem/clients.xml":
                for a in self.accounts.values():
                    if identity in (a["username"], a["email"]):
                        return 200, xml_reply("client", [("id", a["id"]), ("key", a["key"])])
                return 401, error_reply(["invalid credentials"])
            m = re.match(r"^/v2/oem/accounts/([^/]+)\.xml$", route)
            if method == "GET" and m:
                a = self.accounts[m.group(1)]
                return 200, xml_reply("account", [("id", a["id"]), ("email", a["email"]),
                                                  ("username", a["username"]), ("firstname", a["firstname"]),
                                                  ("lastname", a["lastname"]), ("postal_code", a["postal_code"])])
            if method == "GET" and route == "/v2/oem/dns/domains.xml":
                return 200, xml_reply("domains", [("item", d) for d in self.domains])
            if method == "POST" and route == "/v2/oem/dns/hosts.xml":
                return self.add_host(identity, self.form(body))
        return 404, error_reply(["no such resource"])

    def create_account(self, f):
        names = ["username", "email", "password", "firstname", "lastname", "postal_code"]
        if f is None or sorted(f) != sorted(names):
            return 400, error_reply(["the request must hold " + ", ".join(names)])
        errors = []
        if not re.fullmatch(r"[A-Za-z0-9]{4,16}", f["username"]):
            errors.append("username must be 4-16 letters and numbers")
        elif any(a["username"].lower() == f["username"].lower() for a in self.accounts.values()):
            errors.append("username is already taken")
        if not re.fullmatch(r"[^@\s]+@[^@\s]+\.[^@\s]+", f["email"]):
            errors.append("email address is not valid")
        elif any(a["email"].lower() == f["email"].lower() for a in self.accounts.values()):
            errors.append("email address is already registered")
        if not 6 <= len(f["password"]) <= 32 or any(c in f["password"] for c in "+?%&"):
            errors.append("password is not valid")
        for n in ("firstname", "lastname", "postal_code"):
            if not f[n].strip():
                errors.append("%s must not be empty" % n)
        if errors:
            return 422, error_reply(errors)
        account = dict(f)
        account["id"] = str(self.next_id)
        account["key"] = secrets.token_hex(15)  # 30 characters
        self.next_id += 1
        self.accounts[account["id"]] = account
        return 201, xml_reply("account", [("id", account["id"]), ("key", account["key"])])

    def add_host(self, identity, f):
        if f is None or sorted(f) != ["domain", "host", "ip"]:
            return 400, error_reply(["the request must hold host, domain and ip"])
        errors = []
        if not re.fullmatch(r"[A-Za-z0-9]([A-Za-z0-9-]{0,16}[A-Za-z0-9])?", f["host"]):
            errors.append("host name is not valid")
        if f["domain"] not in self.domains and f["domain"] != self.oem_domain:
            errors.append("domain is not offered")
        try:
            socket.inet_aton(f["ip"])
            if not re.fullmatch(r"\d+\.\d+\.\d+\.\d+", f["ip"]):
                raise OSError
        except OSError:
            errors.append("ip address is not valid")
        full = "%s.%s" % (f["host"], f["domain"])
        if not errors and full.lower() in self.hosts:
            errors.append("host name is already taken")
        if errors:
            return 422, error_reply(errors)
        host = {"id": str(self.next_host), "hostname": full.lower(), "ip": f["ip"], "account": identity}
        self.next_host += 1
        self.hosts[host["hostname"]] = host
        return 201, xml_reply("host", [("id", host["id"]), ("hostname", host["hostname"]), ("ip", host["ip"])])


def http_reply(status, text):
    data = text.encode()
    head = ("HTTP/1.1 %d %s\r\nContent-Type: text/xml\r\nContent-Length: %d\r\nConnection: close\r\n\r\n"
            % (status, REASONS.get(status, "Error"), len(data)))
    return head.encode() + data


FRAMINGS = ("length", "close", "keep-alive", "chunked")


def send_framed(sock, framing, status, text):
    """Sends the answer framed as --framing says; True when the connection
    is to stay open afterwards."""
    data = text.encode()
    status_line = "HTTP/1.1 %d %s\r\nContent-Type: text/xml\r\n" % (status, REASONS.get(status, "Error"))
    if framing == "close":
        sock.sendall((status_line + "Connection: close\r\n\r\n").encode() + data)
        return False
    if framing == "keep-alive":
        sock.sendall((status_line + "Content-Length: %d\r\nConnection: keep-alive\r\n\r\n" % len(data)).encode()
                     + data)
        return True
    if framing == "chunked":
        sock.sendall((status_line + "Transfer-Encoding: chunked\r\nConnection: keep-alive\r\n\r\n").encode())
        third = max(1, len(data) // 3)
        pieces = [data[:third], data[third:2 * third], data[2 * third:]]
        for i, piece in enumerate(p for p in pieces if p):
            ext = ";part=%d" % (i + 1) if i == 1 else ""
            sock.sendall(b"%x%s\r\n" % (len(piece), ext.encode()) + piece + b"\r\n")
            time.sleep(0.2)
        sock.sendall(b"0\r\nX-Trailer: end\r\n\r\n")
        return True
    sock.sendall(http_reply(status, text))
    return False


def hold_open(sock):
    """Keeps a kept-alive connection until the client closes it."""
    sock.settimeout(60)
    try:
        while sock.recv(4096):
            pass
    except OSError:
        pass


class Handler(socketserver.BaseRequestHandler):
    def read_request(self):
        data = b""
        self.request.settimeout(10)
        while b"\r\n\r\n" not in data:
            chunk = self.request.recv(4096)
            if not chunk:
                return None
            data += chunk
            if len(data) > 65536:
                return None
        head, _, rest = data.partition(b"\r\n\r\n")
        lines = head.decode("latin-1").split("\r\n")
        length = 0
        for line in lines[1:]:
            name, _, value = line.partition(":")
            if name.lower() == "content-length" and value.strip().isdigit():
                length = int(value.strip())
        while len(rest) < length:
            chunk = self.request.recv(4096)
            if not chunk:
                break
            rest += chunk
        return lines, rest[:length] if length else rest

    def handle(self):
        service = self.server.service
        got = self.read_request()
        if got is None:
            return
        lines, body = got
        parts = lines[0].split(" ")
        if len(parts) != 3 or parts[2] != "HTTP/1.1":
            self.request.sendall(http_reply(400, error_reply(["bad request line"])))
            return
        method, path = parts[0], parts[1]
        if path.startswith("/_control/"):
            self.control(service, method, path, body)
            return
        headers = []
        for line in lines[1:]:
            name, sep, value = line.partition(": ")
            if not sep:
                headers.append((line, ""))
            else:
                headers.append((name, value))
        entry = {"method": method, "path": path, "body": body.decode("latin-1")}
        try:
            identity, kind = service.verify(method, path, headers, body)
            entry.update(identity=identity, kind=kind, verdict="ok")
            if kind is None:
                status, text = 404, error_reply(["no such resource"])
            else:
                status, text = service.answer(method, path, identity, body)
        except Refused as e:
            entry.update(identity=None, kind=None, verdict=str(e))
            status, text = 401, error_reply(["request refused: %s" % e])
        with service.lock:
            canned = service.canned.pop(0) if service.canned else None
            hang = service.hangs > 0
            if hang:
                service.hangs -= 1
        entry["status"] = status
        entry["answer"] = "hang" if hang else ("canned" if canned is not None else "service")
        service.log(**entry)
        if hang:
            # Keep the connection open without a word until the client
            # gives up (or the server ends).
            self.request.settimeout(None)
            try:
                while self.request.recv(4096):
                    pass
            except OSError:
                pass
            return
        if isinstance(canned, tuple):
            # The answer in two halves with a pause between them.
            data = canned[1]
            self.request.sendall(data[:len(data) // 2])
            time.sleep(1.5)
            self.request.sendall(data[len(data) // 2:])
            return
        if canned is not None:
            self.request.sendall(canned)
            return
        with service.lock:
            framing = service.framing
        if send_framed(self.request, framing, status, text):
            hold_open(self.request)

    def control(self, service, method, path, body):
        with service.lock:
            if method == "POST" and path == "/_control/next-reply":
                service.canned.append(body)
                text = "{}"
            elif method == "POST" and path == "/_control/next-reply-split":
                service.canned.append(("split", body))
                text = "{}"
            elif method == "POST" and path == "/_control/framing" and body.decode() in FRAMINGS:
                service.framing = body.decode()
                text = "{}"
            elif method == "POST" and path == "/_control/hang":
                service.hangs += 1
                text = "{}"
            elif method == "GET" and path == "/_control/state":
                text = json.dumps({"accounts": list(service.accounts.values()), "hosts": list(service.hosts.values())})
            else:
                self.request.sendall(http_reply(404, "{}"))
                return
        data = text.encode()
        self.request.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: %d\r\n"
                             b"Connection: close\r\n\r\n" % len(data) + data)


class Server(socketserver.ThreadingMixIn, socketserver.TCPServer):
    allow_reuse_address = True
    daemon_threads = True


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--bind", default="127.0.0.1")
    p.add_argument("--api-host", default="127.0.0.1", help="the Host line requests must carry")
    p.add_argument("--domains", default="ddns.net,hopto.org,myftp.biz,servehttp.com,zapto.org")
    p.add_argument("--oem-domain", default="dvrlink.net", help="a domain the service also takes for hosts")
    p.add_argument("--max-skew", type=int, default=600, help="seconds a Date may be off; negative: any")
    p.add_argument("--log")
    p.add_argument("--framing", choices=FRAMINGS, default="length", help="how the service's answers end")
    p.add_argument("--account", action="append", default=[],
                   help="an account the service already holds: ID,KEY,USERNAME,PASSWORD,EMAIL")
    args = p.parse_args()
    server = Server((args.bind, args.port), Handler)
    server.service = Service(args)
    for spec in args.account:
        fields = spec.split(",")
        if len(fields) != 5:
            p.error("--account takes ID,KEY,USERNAME,PASSWORD,EMAIL")
        a = dict(zip(["id", "key", "username", "password", "email"], fields))
        a.update(firstname="Seed", lastname="Account", postal_code="00000")
        server.service.accounts[a["id"]] = a
    print("PORT %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
