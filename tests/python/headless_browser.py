"""Loads a page in headless Chromium and tells what happened, for the tests
of the HTML report: console messages, exceptions, every request the page
made, the value of an expression evaluated in it, and screenshots.

It speaks the DevTools protocol over the pipe Chromium opens on file
descriptors 3 and 4 (--remote-debugging-pipe): JSON messages, each ended by
a NUL byte. Every wait has a deadline, so a browser that hangs fails the test
instead of stalling it.
"""

from __future__ import annotations

import base64
import json
import os
import select
import shutil
import subprocess
import tempfile
import time
from dataclasses import dataclass, field
from typing import Any

from uninstrumented import uninstrumented_environment

CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")


class BrowserError(Exception):
    pass


@dataclass
class PageVisit:
    console: list[str] = field(default_factory=list)
    exceptions: list[str] = field(default_factory=list)
    log_entries: list[str] = field(default_factory=list)
    requests: list[str] = field(default_factory=list)


class HeadlessChromium:
    def __init__(self, timeout: float = 60.0) -> None:
        if CHROMIUM is None:
            raise BrowserError("chromium is not installed")
        self._deadline_step = timeout
        self._profile = tempfile.mkdtemp(prefix="tallygrams-chromium-")
        to_browser_read, self._to_browser = os.pipe()
        self._from_browser, from_browser_write = os.pipe()

        # The child's own copies at 3 and 4, made before the descriptors it
        # does not keep are closed; pass_fds keeps those two numbers open.
        def child_fds() -> None:
            os.dup2(to_browser_read, 3)
            os.dup2(from_browser_write, 4)

        self._process = subprocess.Popen(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--no-default-browser-check",
             "--disable-extensions", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--mute-audio", "--hide-scrollbars", "--window-size=1400,1000",
             f"--user-data-dir={self._profile}", "--remote-debugging-pipe", "about:blank"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=child_fds, pass_fds=(3, 4), env=uninstrumented_environment(),
        )
        os.close(to_browser_read)
        os.close(from_browser_write)
        self._buffer = b""
        self._next_id = 0
        self._events: list[dict[str, Any]] = []

    def close(self) -> None:
        for fd in (self._to_browser, self._from_browser):
            try:
                os.close(fd)
            except OSError:
                pass
        self._process.kill()
        self._process.wait(timeout=30)
        shutil.rmtree(self._profile, ignore_errors=True)

    def __enter__(self) -> HeadlessChromium:
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def _receive(self, deadline: float) -> dict[str, Any]:
        while b"\0" not in self._buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise BrowserError("no answer from chromium in time")
            ready, _, _ = select.select([self._from_browser], [], [], left)
            if ready:
                chunk = os.read(self._from_browser, 1 << 16)
                if not chunk:
                    raise BrowserError("chromium closed the pipe")
                self._buffer += chunk
        message, self._buffer = self._buffer.split(b"\0", 1)
        return json.loads(message)

    def call(self, method: str, session: str | None = None, **params: Any) -> dict[str, Any]:
        self._next_id += 1
        request: dict[str, Any] = {"id": self._next_id, "method": method, "params": params}
        if session is not None:
            request["sessionId"] = session
        os.write(self._to_browser, json.dumps(request).encode() + b"\0")
        deadline = time.monotonic() + self._deadline_step
        while True:
            message = self._receive(deadline)
            if message.get("id") == self._next_id:
                if "error" in message:
                    raise BrowserError(f"{method}: {message['error']}")
                return message.get("result", {})
            self._events.append(message)

    def _wait_for(self, method: str, deadline: float) -> None:
        while not any(event.get("method") == method for event in self._events):
            self._events.append(self._receive(deadline))

    def visit(self, url: str) -> tuple[PageVisit, str]:
        """Opens `url` in a new tab, waits for its load event and a moment
        for late work, and returns what happened and the tab's session."""
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        for domain in ("Runtime", "Log", "Network", "Page"):
            self.call(f"{domain}.enable", session)
        self._events.clear()
        self.call("Page.navigate", session, url=url)
        self._wait_for("Page.loadEventFired", time.monotonic() + self._deadline_step)
        # Timers or image error handlers an injection might have set up.
        self.evaluate(session, "new Promise(done => setTimeout(done, 300))", await_promise=True)
        visit = PageVisit()
        for event in self._events:
            params = event.get("params", {})
            match event.get("method"):
                case "Runtime.consoleAPICalled":
                    visit.console.append(f"{params['type']}: {params.get('args')}")
                case "Runtime.exceptionThrown":
                    visit.exceptions.append(str(params.get("exceptionDetails")))
                case "Log.entryAdded":
                    visit.log_entries.append(f"{params['entry']['level']}: {params['entry']['text']}")
                case "Network.requestWillBeSent":
                    visit.requests.append(params["request"]["url"])
        return visit, session

    def evaluate(self, session: str, expression: str, await_promise: bool = False) -> Any:
        result = self.call("Runtime.evaluate", session, expression=expression, returnByValue=True,
                           awaitPromise=await_promise)
        if "exceptionDetails" in result:
            raise BrowserError(f"{expression}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def screenshot(self, session: str, clip: dict[str, float] | None = None) -> bytes:
        params: dict[str, Any] = {"format": "png", "captureBeyondViewport": True}
        if clip is not None:
            params["clip"] = {**clip, "scale": 1}
        return base64.b64decode(self.call("Page.captureScreenshot", session, **params)["data"])
