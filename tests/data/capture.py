#!/usr/bin/env python3
# Captures replies of the real wpa_supplicant into a transcript for the
# parser tests: runs the daemon with the "none" driver in a private network
# namespace, sends each request below and writes "> request" and
# "< reply" lines (reply bytes escaped as \n, \t, \\ and \xHH).
# Run as root:  python3 tests/data/capture.py > tests/data/wpa_supplicant.transcript
import os, shutil, socket, subprocess, sys, tempfile, time

HERE = os.path.dirname(os.path.abspath(__file__))

# The networks of the real-daemon tests, and some with awkward SSIDs:
# "M\xc3\xa4dchen", one with a tab, an ESC, a backslash, a quote and "=",
# one that begins with a NUL byte, and one without an SSID.
CONFIG = open(os.path.join(HERE, "six_networks.conf")).read() + """
network={
	ssid=4dc3a4646368656e
	key_mgmt=NONE
}

network={
	ssid=6109621b5b316d5c223d
	key_mgmt=NONE
}

network={
	ssid=00414243
	key_mgmt=NONE
}

network={
	key_mgmt=NONE
}
"""

REQUESTS = ["STATUS", "LIST_NETWORKS", "SCAN_RESULTS"] + [
    "GET_NETWORK %d %s" % (i, k) for i in range(10)
    for k in ("priority", "scan_ssid", "key_mgmt")] + [
    "GET_NETWORK 99 priority", "BSS 02:00:00:00:00:01 MASK=4",
    "ADD_NETWORK", "SET_NETWORK 10 ssid \"unclosed", "REMOVE_NETWORK 10",
    "SELECT_NETWORK 99", "NO_SUCH_COMMAND", "PING"]


def escape(b):
    out = []
    for c in b:
        if c == 0x0A:
            out.append("\\n")
        elif c == 0x09:
            out.append("\\t")
        elif c == 0x5C:
            out.append("\\\\")
        elif 0x20 <= c < 0x7F:
            out.append(chr(c))
        else:
            out.append("\\x%02x" % c)
    return "".join(out)


def main():
    ns = "corvid-capture-%d" % os.getpid()
    tmp = tempfile.mkdtemp(prefix="corvid-capture-")
    conf = os.path.join(tmp, "wpa.conf")
    with open(conf, "w") as f:
        f.write("ctrl_interface=%s/ctrl\n%s" % (tmp, CONFIG))
    daemon = None
    try:
        subprocess.run(["ip", "netns", "add", ns], check=True)
        subprocess.run(["ip", "-n", ns, "link", "add", "cv0", "type", "veth",
                        "peer", "name", "cv1"], check=True)
        daemon = subprocess.Popen(["ip", "netns", "exec", ns, "wpa_supplicant",
                                   "-D", "none", "-i", "cv0", "-c", conf],
                                  stdout=subprocess.DEVNULL)
        path = os.path.join(tmp, "ctrl", "cv0")
        for _ in range(500):
            if os.path.exists(path):
                break
            time.sleep(0.01)
        s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        s.bind(os.path.join(tmp, "client"))
        s.connect(path)
        s.settimeout(2)
        print("# wpa_supplicant -D none; replies captured by tests/data/capture.py")
        for req in REQUESTS:
            s.send(req.encode())
            print("> " + req)
            print("< " + escape(s.recv(8192)))
    finally:
        if daemon:
            daemon.terminate()
            daemon.wait()
        subprocess.run(["ip", "netns", "del", ns])
        shutil.rmtree(tmp)


main()
