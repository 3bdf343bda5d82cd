#!/usr/bin/python3
"""Figures of qrvacq view: frames drawn per second in headless Chromium against
frames grabbed per second, and the tool's CPU time per drawn frame, at 0.3 MP and
5 MP Mono8 on simulated cameras (a scenario written here). Not a test.

usage: view_bench.py QRVACQ [SECONDS]
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "tool", "view"))
sys.argv = [sys.argv[0]] + sys.argv[1:]
from view_browser_test import BROWSER, ENV, Page, until  # noqa: E402

QRVACQ = sys.argv[1]
SECONDS = float(sys.argv[2]) if len(sys.argv) > 2 else 5.0
CAMERAS = [("BENCH-VGA", 640, 480, 200.0), ("BENCH-5MP", 2448, 2048, 30.0)]


def scenario(folder):
    cameras = [{"serial": serial, "model": "Bench", "transport": 1, "pixelFormat": "Mono8",
                "width": w, "height": h, "frameRate": rate,
                "device": {"nodes": [{"name": "Root", "type": "Category", "features": []}]}}
               for serial, w, h, rate in CAMERAS]
    path = os.path.join(folder, "bench.json")
    with open(path, "w") as out:
        json.dump({"cameras": cameras}, out)
    return path


def cpu_seconds(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def measure(sim, serial, browser_port):
    tool = subprocess.Popen([QRVACQ, "--sim", sim, "view", serial, "--port", "0"], env=ENV,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    line = tool.stdout.readline()
    url = line[line.index("http://"):].split()[0]
    page = Page(browser_port)
    page.call("Page.navigate", url=url)
    until(lambda: page.eval("window.qrvView && window.qrvView.drawn > 3"), 20)
    stats = lambda: page.eval("fetch('api/stats').then(r => r.json())")
    drawn0, grabbed0, cpu0, t0 = (page.eval("window.qrvView.drawn"), stats()["grabbed"],
                                  cpu_seconds(tool.pid), time.monotonic())
    time.sleep(SECONDS)
    drawn1, grabbed1, cpu1, t1 = (page.eval("window.qrvView.drawn"), stats()["grabbed"],
                                  cpu_seconds(tool.pid), time.monotonic())
    page.call("Page.navigate", url="about:blank")
    tool.communicate(timeout=30)
    drawn, grabbed, seconds = drawn1 - drawn0, grabbed1 - grabbed0, t1 - t0
    return drawn / seconds, grabbed / seconds, (cpu1 - cpu0) / max(drawn, 1) * 1e3


def main():
    folder = tempfile.mkdtemp()
    sim = scenario(folder)
    browser = subprocess.Popen(
        [BROWSER, "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
         "--remote-debugging-port=0", f"--user-data-dir={folder}/profile", "about:blank"],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        port_file = os.path.join(folder, "profile", "DevToolsActivePort")
        until(lambda: os.path.exists(port_file) and open(port_file).read().strip(), 30)
        port = int(open(port_file).read().split()[0])
        print(f"{'camera':12} {'size':>11} {'grabbed/s':>10} {'drawn/s':>8} {'drawn/grabbed':>14} "
              f"{'tool CPU ms/drawn frame':>24}")
        for serial, w, h, _ in CAMERAS:
            drawn, grabbed, cpu = measure(sim, serial, port)
            print(f"{serial:12} {w:>5}x{h:<5} {grabbed:10.1f} {drawn:8.1f} {drawn / grabbed:14.2f} "
                  f"{cpu:24.2f}")
    finally:
        browser.terminate()
        browser.wait(timeout=10)
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
