"""The web build on the loopback address and in headless browsers, for scripts/run --web, scripts/web-capture and
scripts/test-web.

serve(): an HTTP server on 127.0.0.1 that sends every file with the two headers that make a page cross-origin
isolated (the program's threads need SharedArrayBuffer), or, with isolate=False, as a plain static server does
(the page's own service worker then isolates it), and takes results that a page POSTs to /result/NAME.
Chromium, Firefox: Debian's Chromium or Firefox ESR, headless, on a fresh profile, talking to nothing but the
page's server.

Run as a program it serves a folder until interrupted, or takes a screenshot of the page some seconds after its
click (the picture in the README):
    python3 scripts/web_browser.py serve FOLDER [--port N]
    python3 scripts/web_browser.py screenshot FOLDER OUT.png [--seconds S] [--size 960,540]
"""
import argparse
import http.server
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

ISOLATION_HEADERS = {
    "Cross-Origin-Opener-Policy": "same-origin",
    "Cross-Origin-Embedder-Policy": "require-corp",
    "Cross-Origin-Resource-Policy": "same-origin",
    "Cache-Control": "no-store",
}


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, root, files=None, inject=None, port=0, isolate=True):
        super().__init__(("127.0.0.1", port), Handler)
        self.root = os.path.abspath(root)
        self.isolate = isolate
        # URL path -> bytes, or a file's path, served before the folder; None: answered as missing.
        self.files = dict(files or {})
        self.inject = inject            # (page path, script file): the page gets <script src="/check.js">
        self.results = {}
        self.hold_seconds = 0
        self.result_arrived = threading.Condition()

    @property
    def url(self):
        return "http://127.0.0.1:%d/" % self.server_address[1]

    def wait_for(self, name, timeout):
        """The body POSTed to /result/NAME, or None when it has not come within `timeout` seconds."""
        with self.result_arrived:
            self.result_arrived.wait_for(lambda: name in self.results, timeout)
            return self.results.get(name)


class Handler(http.server.SimpleHTTPRequestHandler):
    extensions_map = dict(http.server.SimpleHTTPRequestHandler.extensions_map,
                          **{".wasm": "application/wasm", ".js": "text/javascript", ".txt": "text/plain"})

    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=args[2].root, **kwargs)

    def end_headers(self):
        for name, value in ISOLATION_HEADERS.items():
            if self.server.isolate or name == "Cache-Control":
                self.send_header(name, value)
        super().end_headers()

    def log_message(self, format, *args):
        pass

    def send_bytes(self, body, content_type):
        self.send_response(200)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        path = urllib.parse.urlsplit(self.path).path
        server = self.server
        if path in server.files:
            body = server.files[path]
            if body is None:
                return self.send_error(404)
            if isinstance(body, str):
                with open(body, "rb") as f:
                    body = f.read()
            return self.send_bytes(body, self.guess_type(path))
        if server.inject and path == "/check.js" and path not in server.files:
            with open(server.inject[1], "rb") as f:
                return self.send_bytes(f.read(), "text/javascript")
        if path == "/hold-load":
            # Answered only some time after the page's click: an image waiting for it keeps the page loading,
            # and Chromium's --screenshot waits for the page to finish loading.
            server.wait_for("clicked", 120)
            time.sleep(server.hold_seconds)
            return self.send_error(404)
        if server.inject and path == server.inject[0]:
            with open(os.path.join(server.root, path.lstrip("/")), "rb") as f:
                page = f.read()
            page = page.replace(b"</body>", b'<script src="/check.js"></script>\n</body>')
            return self.send_bytes(page, "text/html")
        return super().do_GET()

    def do_POST(self):
        path = urllib.parse.urlsplit(self.path).path
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length)
        if not path.startswith("/result/"):
            self.send_error(404)
            return
        server = self.server
        with server.result_arrived:
            server.results[path[len("/result/"):]] = body
            server.result_arrived.notify_all()
        self.send_response(204)
        self.end_headers()


def serve(root, files=None, inject=None, isolate=True):
    """Starts a server on a free loopback port in a thread of its own; stop it with shutdown()."""
    server = Server(root, files, inject, isolate=isolate)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def find_chromium():
    for name in ("chromium", "chromium-browser"):
        path = shutil.which(name)
        if path:
            return path
    return None


class Chromium:
    """Headless Chromium on a fresh, empty profile, showing one address."""

    def __init__(self, url, extra=()):
        self.profile = tempfile.mkdtemp(prefix="quimbles-chromium-")
        self.log = open(os.path.join(self.profile, "chromium.log"), "w+")
        command = [find_chromium() or "chromium", "--headless=new", "--no-sandbox", "--disable-gpu",
                   "--disable-quic", "--no-first-run", "--disable-background-networking",
                   "--disable-component-update", "--disable-sync", "--user-data-dir=" + self.profile,
                   "--window-size=960,540", "--autoplay-policy=no-user-gesture-required", *extra, url]
        self.process = subprocess.Popen(command, stdout=self.log, stderr=subprocess.STDOUT,
                                        stdin=subprocess.DEVNULL, start_new_session=True)

    def running(self):
        return self.process.poll() is None

    def output(self):
        self.log.flush()
        self.log.seek(0)
        return self.log.read()

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.log.close()
        shutil.rmtree(self.profile, ignore_errors=True)


# A fresh Firefox profile's settings: sound may start without a person's click (the checks click by script), and
# nothing is fetched from anywhere but the page's server.
FIREFOX_PREFERENCES = """user_pref("media.autoplay.default", 0);
user_pref("media.autoplay.block-webaudio", false);
user_pref("media.autoplay.blocking_policy", 0);
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.aboutwelcome.enabled", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("app.update.disabledForTesting", true);
user_pref("app.normandy.enabled", false);
user_pref("network.captive-portal-service.enabled", false);
user_pref("network.connectivity-service.enabled", false);
user_pref("browser.safebrowsing.malware.enabled", false);
user_pref("browser.safebrowsing.phishing.enabled", false);
user_pref("extensions.update.enabled", false);
user_pref("browser.search.update", false);
"""


class Firefox(Chromium):
    """Headless Firefox ESR on a fresh profile, showing one address; its sound goes to the PulseAudio server that
    the environment names (PULSE_SERVER), if any."""

    def __init__(self, url, extra=()):
        self.profile = tempfile.mkdtemp(prefix="quimbles-firefox-")
        with open(os.path.join(self.profile, "user.js"), "w") as f:
            f.write(FIREFOX_PREFERENCES)
        self.log = open(os.path.join(self.profile, "firefox.log"), "w+")
        command = [shutil.which("firefox-esr") or "firefox-esr", "--headless", "--no-remote", "--profile",
                   self.profile, "--width", "960", "--height", "540", *extra, url]
        self.process = subprocess.Popen(command, stdout=self.log, stderr=subprocess.STDOUT,
                                        stdin=subprocess.DEVNULL, start_new_session=True)

    def close(self):
        # Firefox's content processes are in its session; end them all.
        if self.process.poll() is None:
            try:
                os.killpg(self.process.pid, 15)
                self.process.wait(10)
            except (subprocess.TimeoutExpired, ProcessLookupError):
                try:
                    os.killpg(self.process.pid, 9)
                except ProcessLookupError:
                    pass
                self.process.wait()
        self.log.close()
        shutil.rmtree(self.profile, ignore_errors=True)


def chromium_starts():
    """Whether headless Chromium can start here: it must load a page from our own server and report back."""
    if not find_chromium():
        return False, "no chromium on the PATH"
    folder = tempfile.mkdtemp(prefix="quimbles-probe-")
    try:
        with open(os.path.join(folder, "probe.html"), "w") as f:
            f.write('<script>fetch("result/isolated", {method: "POST", body: String(crossOriginIsolated)})'
                    '</script>')
        server = serve(folder)
        browser = Chromium(server.url + "probe.html")
        try:
            answer = server.wait_for("isolated", 60)
        finally:
            browser.close()
            server.shutdown()
        if answer is None:
            return False, "headless Chromium did not load a page within 60 s"
        if answer != b"true":
            return False, "the page was not cross-origin isolated"
        return True, ""
    finally:
        shutil.rmtree(folder, ignore_errors=True)


# Clicks "click to start" once the page is ready and keeps the page loading until the server lets it finish.
CLICK_AND_HOLD = b"""document.write('<img src="/hold-load" style="display: none">');
var clicker = setInterval(function() {
    var overlay = document.getElementById("overlay");
    if (overlay.classList.contains("ready")) {
        clearInterval(clicker);
        overlay.click();
        fetch("/result/clicked", {method: "POST", body: "1"});
    }
}, 50);
"""


def screenshot(folder, out, seconds, size):
    server = Server(folder, {"/check.js": CLICK_AND_HOLD}, inject=("/quimbles.html", None))
    server.hold_seconds = seconds
    threading.Thread(target=server.serve_forever, daemon=True).start()
    profile = tempfile.mkdtemp(prefix="quimbles-chromium-")
    try:
        command = [find_chromium() or "chromium", "--headless=new", "--no-sandbox", "--disable-gpu",
                   "--disable-quic", "--no-first-run", "--disable-background-networking",
                   "--disable-component-update", "--disable-sync", "--user-data-dir=" + profile,
                   "--window-size=" + size, "--autoplay-policy=no-user-gesture-required",
                   "--screenshot=" + os.path.abspath(out), server.url + "quimbles.html"]
        subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300, check=True)
    finally:
        server.shutdown()
        shutil.rmtree(profile, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(prog="web_browser.py")
    sub = parser.add_subparsers(dest="command", required=True)
    serve_parser = sub.add_parser("serve", help="serve a folder on 127.0.0.1, cross-origin isolated")
    serve_parser.add_argument("folder")
    serve_parser.add_argument("--port", type=int, default=0)
    serve_parser.add_argument("--page", default="quimbles.html")
    shot_parser = sub.add_parser("screenshot", help="the page some seconds after its click, as a PNG")
    shot_parser.add_argument("folder")
    shot_parser.add_argument("out")
    shot_parser.add_argument("--seconds", type=float, default=3)
    shot_parser.add_argument("--size", default="960,540")
    arguments = parser.parse_args()
    if arguments.command == "screenshot":
        screenshot(arguments.folder, arguments.out, arguments.seconds, arguments.size)
        return 0
    if arguments.command == "serve":
        server = Server(arguments.folder, port=arguments.port)
        print("Serving %s at %s%s (Ctrl-C to stop)" % (arguments.folder, server.url, arguments.page), flush=True)
        try:
            server.serve_forever()
        except KeyboardInterrupt:
            pass
        return 0


if __name__ == "__main__":
    sys.exit(main())
