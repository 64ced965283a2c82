#!/usr/bin/env python3
"""Loopback services for the screenshot run: each port answers like the
service it stands for, so the monitored hosts show real results. Listens on
127.0.0.1 only and ends when its parent closes stdin or after a time limit."""
import socket
import struct
import sys
import threading
import time

BASE = int(sys.argv[1]) if len(sys.argv) > 1 else 18000
LIMIT_S = 600

def banner_server(port, greeting, replies):
    """Sends a greeting, then answers each line with the reply of its first word."""
    srv = socket.socket()
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", port))
    srv.listen(64)

    def serve(conn):
        with conn:
            conn.settimeout(10)
            try:
                if greeting:
                    conn.sendall(greeting)
                buf = b""
                while True:
                    data = conn.recv(1024)
                    if not data:
                        return
                    buf += data
                    while b"\n" in buf:
                        line, buf = buf.split(b"\n", 1)
                        word = line.strip().split(b" ")[0].upper() if line.strip() else b""
                        reply = replies.get(word, replies.get(b"*"))
                        if reply is None:
                            continue
                        conn.sendall(reply)
                        if word in (b"QUIT", b"HEAD", b"LOGOUT", b"A2"):
                            return
            except OSError:
                return

    def loop():
        while True:
            conn, _ = srv.accept()
            threading.Thread(target=serve, args=(conn,), daemon=True).start()

    threading.Thread(target=loop, daemon=True).start()

def oneshot_server(port, payload):
    """Sends the payload (computed per connection) and closes."""
    srv = socket.socket()
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", port))
    srv.listen(64)

    def loop():
        while True:
            conn, _ = srv.accept()
            with conn:
                try:
                    conn.sendall(payload())
                except OSError:
                    pass

    threading.Thread(target=loop, daemon=True).start()

http = b"HTTP/1.1 200 OK\r\nServer: nginx/1.22.1\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"
banner_server(BASE + 0, None, {b"HEAD": http, b"GET": http})
banner_server(BASE + 1, b"+OK Dovecot (Debian) ready.\r\n",
              {b"USER": b"+OK\r\n", b"PASS": b"+OK Logged in.\r\n", b"QUIT": b"+OK Logging out.\r\n",
               b"*": b"-ERR Unknown command.\r\n"})
banner_server(BASE + 2, b"220 mail.lan ESMTP OpenSMTPD\r\n",
              {b"HELO": b"250 mail.lan Hello\r\n", b"EHLO": b"250-mail.lan Hello\r\n250 HELP\r\n",
               b"QUIT": b"221 2.0.0 Bye\r\n", b"*": b"250 OK\r\n"})
banner_server(BASE + 3, b"220 pyftpdlib 1.5.7 ready.\r\n",
              {b"USER": b"331 Username ok, send password.\r\n", b"PASS": b"230 Login successful.\r\n",
               b"QUIT": b"221 Goodbye.\r\n", b"*": b"500 Command not understood.\r\n"})
banner_server(BASE + 4, b"200 news.lan Leafnode NNTP daemon, version 1.12 running\r\n",
              {b"QUIT": b"205 Always happy to serve!\r\n", b"*": b"500 Unknown command\r\n"})
oneshot_server(BASE + 5, lambda: time.strftime("%A, %B %d, %Y %H:%M:%S-UTC\r\n", time.gmtime()).encode())
oneshot_server(BASE + 6, lambda: b"\"A monitor is only as good as its last poll.\"\r\n")
oneshot_server(BASE + 7, lambda: struct.pack("!I", int(time.time()) + 2208988800))

# A few syslog records to the receiver, repeated while the run lasts.
def syslog_sender(port):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    n = 0
    while True:
        time.sleep(1.5)
        n += 1
        msg = "<%d>%s web01 nginx[812]: upstream timed out (110: Connection timed out) #%d" % (
            27 if n % 3 == 0 else 30, time.strftime("%b %d %H:%M:%S"), n)
        try:
            sock.sendto(msg.encode(), ("127.0.0.1", port))
        except OSError:
            pass

if len(sys.argv) > 2:
    threading.Thread(target=syslog_sender, args=(int(sys.argv[2]),), daemon=True).start()

print("ready", flush=True)
deadline = time.time() + LIMIT_S
while time.time() < deadline:
    if not sys.stdin.readline():
        break
