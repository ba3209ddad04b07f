"""Traffic for the screenshot, sent to TARGET for SECONDS: steady UDP flows
of several sizes and rates, repeated HTTP downloads (each a new TCP
connection, so rows come and go) and one flow that stops early, so that
its row leaves the list once it has been idle long enough."""
import socket
import sys
import threading
import time
import urllib.request

target, seconds = sys.argv[1], float(sys.argv[2])
end = time.time() + seconds


def udp(source_port, port, size, interval, stop):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("", source_port))
    while time.time() < min(end, stop):
        sock.sendto(b"q" * size, (target, port))
        time.sleep(interval)


def downloads(interval):
    while time.time() < end:
        try:
            urllib.request.urlopen("http://%s:8080/data.bin" % target, timeout=2).read()
        except OSError:
            pass
        time.sleep(interval)


flows = [
    threading.Thread(target=udp, args=(40001, 53, 80, 0.2, end)),
    threading.Thread(target=udp, args=(40002, 123, 48, 1.0, end)),
    threading.Thread(target=udp, args=(40003, 5353, 400, 0.05, end)),
    threading.Thread(target=udp, args=(40004, 7000, 1200, 0.01, time.time() + 4)),
    threading.Thread(target=downloads, args=(0.8,)),
]
for flow in flows:
    flow.daemon = True
    flow.start()
while time.time() < end:
    time.sleep(0.2)
