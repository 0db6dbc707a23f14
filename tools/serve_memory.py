#!/usr/bin/env python3
"""The resident memory of `modeler serve` through a long handle drag: a
1,000-book shelf, then MOVES drag moves as a page sends them, over
CONNECTIONS keep-alive connections taken in turn (as a browser spreads its
requests, and the server its threads), the server's VmRSS read from /proc
before and every 250 moves.

    python3 tools/serve_memory.py build/default/bin/modeler [MOVES [CONNECTIONS]]
"""

import http.client
import json
import re
import struct
import subprocess
import sys


def rss_mb(pid):
    with open("/proc/%d/status" % pid) as status:
        return int(re.search(r"VmRSS:\s+(\d+) kB", status.read()).group(1)) / 1024


def frame_state(body):
    (length,) = struct.unpack("<I", body[:4])
    return json.loads(body[4:4 + length])


def main():
    modeler = sys.argv[1]
    moves = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
    connections = int(sys.argv[3]) if len(sys.argv) > 3 else 6
    server = subprocess.Popen([modeler, "serve", "--port", "0"], stdout=subprocess.PIPE, text=True)
    try:
        port = int(re.search(r":(\d+)/", server.stdout.readline()).group(1))
        links = [http.client.HTTPConnection("127.0.0.1", port) for _ in range(connections)]
        host = {"Host": "127.0.0.1:%d" % port}
        turn = [0]

        def post(path, body="", token=None):
            turn[0] += 1
            link = links[turn[0] % len(links)]
            headers = dict(host, **({"X-Workspace": token} if token else {}))
            link.request("POST", path, body=body, headers=headers)
            answer = link.getresponse()
            data = answer.read()
            assert answer.status == 200, (path, body, data[:200])
            return data

        started = frame_state(post("/api/start"))
        token = started["workspace"]
        print("started: %.1f MB" % rss_mb(server.pid))
        post("/api/action?gesture=begin", "press 0 0 0", token)
        post("/api/action", "move 80 0.5 0.3", token)
        held = 0
        for step in range(moves):
            x = 80 + 0.001 * (step % 50)
            line = "drag 7 %g 0.5 0.3 view Z" % x
            begin = "&gesture=begin" if step == 0 else ""
            state = frame_state(post("/api/action?have=%d%s" % (held, begin), line, token))
            held = state["meshVersion"]
            if (step + 1) % 250 == 0:
                print("%d moves (%d polygons): %.1f MB" % (step + 1, state["polygons"], rss_mb(server.pid)))
    finally:
        server.terminate()
        server.wait()


if __name__ == "__main__":
    main()
