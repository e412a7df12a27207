#!/usr/bin/env python3
"""A pass-through in front of the bench's nginx that can drop a transfer part-way.

    cut-proxy.py PORT_FILE UPSTREAM_PORT

Listens on a free loopback port (written to PORT_FILE) and hands every request to nginx
on UPSTREAM_PORT, one upstream connection per request, so that nginx's access log still
counts every byte served. Two requests of its own steer it:

    GET /__cut__/arm?path=/set/file&bytes=N   from now on, responses for that path may
                                              carry N body bytes in all; the one that
                                              reaches the budget is cut there (the
                                              connection closed mid-body) and every
                                              later connection is closed unanswered,
                                              so the update in flight fails
    GET /__cut__/sound                        pass everything again
"""
import os
import socket
import sys
import threading
import urllib.parse

state = {"path": None, "left": 0, "tripped": False}
lock = threading.Lock()


def read_head(sock):
    data = b""
    while b"\r\n\r\n" not in data:
        piece = sock.recv(65536)
        if not piece:
            return None, b""
        data += piece
    head, rest = data.split(b"\r\n\r\n", 1)
    return head, rest


def answer(client, text):
    body = text.encode()
    client.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\nConnection: close\r\n\r\n" % len(body) + body)


def control(client, target):
    url = urllib.parse.urlsplit(target)
    query = urllib.parse.parse_qs(url.query)
    with lock:
        if url.path == "/__cut__/arm":
            state.update(path=query["path"][0], left=int(query["bytes"][0]), tripped=False)
        else:
            state.update(path=None, left=0, tripped=False)
    answer(client, "ok\n")


def relay(client, upstream_port):
    try:
        serve(client, upstream_port)
    except OSError:
        pass  # the client went away, or was cut off on purpose
    finally:
        client.close()


def serve(client, upstream_port):
    head, rest = read_head(client)
    if head is None:
        return
    lines = head.split(b"\r\n")
    target = lines[0].split(b" ")[1].decode("latin-1")
    if target.startswith("/__cut__/"):
        control(client, target)
        return
    with lock:
        if state["tripped"]:
            return
        watched = state["path"] is not None and target == state["path"]
    kept = [line for line in lines[1:] if not line.lower().startswith(b"connection:")]
    request = b"\r\n".join([lines[0]] + kept + [b"Connection: close", b"", b""]) + rest
    with socket.create_connection(("127.0.0.1", upstream_port)) as upstream:
        upstream.sendall(request)
        head, body = read_head(upstream)
        if head is None:
            return
        client.sendall(head + b"\r\n\r\n")
        while True:
            if watched:
                with lock:
                    take = min(len(body), state["left"])
                    state["left"] -= take
                    cut = take < len(body) or state["left"] == 0
                    if cut:
                        state["tripped"] = True
                if take:
                    client.sendall(body[:take])
                if cut:
                    client.shutdown(socket.SHUT_RDWR)
                    return
            elif body:
                client.sendall(body)
            body = upstream.recv(1 << 20)
            if not body:
                return


def main():
    port_file, upstream_port = sys.argv[1], int(sys.argv[2])
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", 0))
    server.listen(64)
    with open(port_file + ".tmp", "w") as f:
        f.write("%d\n" % server.getsockname()[1])
    os.replace(port_file + ".tmp", port_file)
    while True:
        client, _ = server.accept()
        threading.Thread(target=relay, args=(client, upstream_port), daemon=True).start()


if __name__ == "__main__":
    main()
