#!/usr/bin/python3
"""qrvacq view in a real browser: headless Chromium driven over its DevTools
protocol. On a simulated camera the page shows frames whose counter advances, its
histogram matches the pixels on the canvas, a feature written from the page
reaches the camera and a refused one shows its reason, stop and start work, a
second view of the same camera is refused, and closing the page ends the tool.
usage: view_browser_test.py QRVACQ   (exit 77: no browser here)
"""
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

try:
    import websocket  # python3-websocket
except ImportError:
    print("skipped: python3-websocket is not installed")
    sys.exit(77)

QRVACQ = sys.argv[1]
BROWSER = shutil.which("chromium") or shutil.which("chromium-browser")
if not BROWSER:
    print("skipped: no chromium on this machine")
    sys.exit(77)
ENV = dict(os.environ, KZR_ARAVIS="off", KZR_GENTL="off", XDG_RUNTIME_DIR=tempfile.mkdtemp())
results = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    results.append(bool(ok))


def until(predicate, seconds, step=0.1):
    end = time.monotonic() + seconds
    while not (value := predicate()) and time.monotonic() < end:
        time.sleep(step)
    return value


class Page:
    """The first tab of a browser, over the DevTools WebSocket."""

    def __init__(self, port):
        targets = json.load(urllib.request.urlopen(f"http://127.0.0.1:{port}/json/list", timeout=5))
        page = next(t for t in targets if t["type"] == "page")
        self.ws = websocket.create_connection(page["webSocketDebuggerUrl"], timeout=20,
                                              suppress_origin=True)
        self.next_id = 0

    def call(self, method, **params):
        self.next_id += 1
        self.ws.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = json.loads(self.ws.recv())
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise RuntimeError(f"{method}: {message['error']}")
                return message.get("result", {})

    def eval(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True,
                           awaitPromise=True)
        if "exceptionDetails" in result:
            raise RuntimeError(f"{expression}: {result['exceptionDetails']}")
        return result["result"].get("value")


def start_view():
    return subprocess.Popen([QRVACQ, "--sim", "demo", "view", "SIM-AREA-001", "--port", "0"],
                            env=ENV, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)


def main():
    tool = start_view()
    line = tool.stdout.readline()
    check("http://127.0.0.1:" in line, f"the tool prints the page's address: {line.strip()}")
    url = line[line.index("http://"):].split()[0]

    second = start_view()
    rest = second.communicate(timeout=20)[0]
    check(second.returncode == 1 and "in use" in rest,
          f"a second view of the camera says it is in use: {rest.strip()}")

    profile = tempfile.mkdtemp()
    browser = subprocess.Popen(
        [BROWSER, "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--remote-debugging-port=0", f"--user-data-dir={profile}", "--window-size=1280,900",
         "about:blank"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        port_file = os.path.join(profile, "DevToolsActivePort")
        check(until(lambda: os.path.exists(port_file) and open(port_file).read().strip(), 30),
              "the browser starts")
        page = Page(int(open(port_file).read().split()[0]))
        page.call("Page.enable")
        page.call("Page.navigate", url=url)

        first = until(lambda: page.eval("window.qrvView ? window.qrvView.frame : 0"), 20)
        later = until(lambda: (page.eval("window.qrvView.frame") or 0) > (first or 0) + 5 and
                      page.eval("window.qrvView.frame"), 20)
        check(bool(first) and bool(later), f"frames arrive and their counter advances ({first} -> {later})")
        check(page.eval("window.qrvView.width") == 640 and page.eval("window.qrvView.height") == 480,
              "the frame has the camera's size")
        stats = until(lambda: page.eval("document.getElementById('stats').textContent"), 5)
        check("fps" in (stats or "") and "failures: none" in stats, f"statistics shown: {stats!r}")

        # Stopped, the canvas holds one frame: the page's histogram must count its pixels.
        page.eval("document.getElementById('stop').click()")
        stopped = until(lambda: "stopped" in page.eval("document.getElementById('stats').textContent"), 5)
        check(bool(stopped), "Stop stops acquisition")
        time.sleep(1.5)
        frozen = page.eval("window.qrvView.frame")
        time.sleep(1.0)
        check(page.eval("window.qrvView.frame") == frozen, "no frame arrives while stopped")
        same = page.eval("""(() => {
            const c = document.getElementById('frame');
            const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
            const h = new Array(256).fill(0);
            for (let i = 0; i < d.length; i += 4) h[d[i]]++;
            const shown = window.qrvView.histogram;
            return shown.length === 256 && h.every((n, v) => n === shown[v]) &&
                   shown.reduce((a, b) => a + b, 0) === c.width * c.height;
        })()""")
        check(same is True, "the histogram matches the frame on the canvas")
        page.eval("document.getElementById('start').click()")
        resumed = until(lambda: (page.eval("window.qrvView.frame") or 0) > frozen, 10)
        check(bool(resumed), "Start resumes the frames")

        # A feature written from the page reaches the camera (read back through the
        # plug-in); a refused one shows the camera's reason.
        write = """(async (name, value) => {
            const row = document.querySelector(`.feature[data-name="${name}"]`);
            const input = row.querySelector('[data-value]');
            input.value = value;
            delete row.dataset.result;
            input.dispatchEvent(new Event('change'));
            for (let i = 0; i < 100 && !row.dataset.result; ++i) await new Promise(r => setTimeout(r, 50));
            return {result: row.dataset.result, reason: row.querySelector('.reason').textContent};
        })"""
        done = page.eval(write + "('ExposureTimeAbs', '12345')")
        value = json.load(urllib.request.urlopen(url + "api/value?name=ExposureTimeAbs", timeout=5))
        check(done["result"] == "written" and abs(value.get("value", 0) - 12345) < 1,
              f"a write from the page reaches the camera: {done}, camera reads {value}")
        refused = page.eval(write + "('ExposureTimeAbs', '-5')")
        check(refused["result"] == "refused" and "101" in refused["reason"],
              f"a refused write shows its reason: {refused}")
        check(page.eval("document.querySelector('.feature[data-name=\"DeviceVendorName\"]')"
                        ".classList.contains('readonly')") is True, "read-only features are greyed")
        png = urllib.request.urlopen(url + "api/snapshot.png", timeout=5).read()
        check(png[:8] == b"\x89PNG\r\n\x1a\n", "Save frame gives a PNG")

        page.call("Page.navigate", url="about:blank")  # closing the page ends the view
        try:
            output = tool.communicate(timeout=20)[0]
        except subprocess.TimeoutExpired:
            tool.kill()
            output = tool.communicate()[0]
        check(tool.returncode == 0 and "view ended (the last page was closed)" in output,
              f"closing the page stops acquisition and closes the camera: {output.strip()!r}")
    finally:
        browser.terminate()
        try:
            browser.wait(timeout=10)
        except subprocess.TimeoutExpired:
            browser.kill()
        if tool.poll() is None:
            tool.send_signal(signal.SIGINT)
            tool.wait(timeout=10)
        shutil.rmtree(profile, ignore_errors=True)
    print(f"{results.count(True)} passed, {results.count(False)} failed")
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
