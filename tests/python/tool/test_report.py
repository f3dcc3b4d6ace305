"""The HTML report in a real browser (headless Chromium): it loads offline
with no console message and no request beyond its own inline images, the
markup planted in texts and names shows as text and runs nothing, and the
charts are drawn."""

import io
import json
import subprocess
import sys
from pathlib import Path

import pytest
from PIL import Image

import headless_browser

TOOL = Path(sys.executable).with_name("tallygrams")

# Each one sets window.injected if it ever runs.
INJECTIONS = [
    "<script>window.injected = 1</script>",
    "</div></table><img src=x onerror=\"window.injected = 2\">",
    "<svg onload=\"window.injected = 3\"></svg> & <!-- \"quoted\" 'text'",
]


def write_pairs(folder, count=40):
    with open(folder / "pairs.jsonl", "w") as handle:
        for i in range(count):
            words = [f"w{(i * 7 + k) % 23}" for k in range(12)]
            record = {
                "reference": " ".join(words),
                "plain": " ".join(words[: 6 + i % 5]),
                # A system whose texts carry markup, under a key that does too.
                INJECTIONS[2]: " ".join(words[i % 4 :]) + " " + INJECTIONS[i % 3],
            }
            handle.write(json.dumps(record) + "\n")


@pytest.fixture(scope="module")
def browser():
    if headless_browser.CHROMIUM is None:
        pytest.fail("chromium is not installed: scripts/setup-dev.sh installs it")
    with headless_browser.HeadlessChromium(timeout=60) as chromium:
        yield chromium


def non_blank(png: bytes) -> bool:
    """Whether a screenshot shows a drawing: some dark pixels and several colours."""
    image = Image.open(io.BytesIO(png)).convert("RGB")
    colours = image.getcolors(maxcolors=1 << 20) or []
    dark = sum(count for count, (r, g, b) in colours if r + g + b < 384)
    return len(colours) > 8 and dark > image.width * image.height // 500


@pytest.mark.parametrize("command", [
    ["compare", "--jsonl", "pairs.jsonl", "--prediction-key", "plain", "--prediction-key", INJECTIONS[2],
     "--samples", "200"],
    ["--jsonl", "pairs.jsonl", "--prediction-key", INJECTIONS[2]],
])
def test_report_loads_offline_runs_no_injected_markup_and_draws_its_charts(tmp_path, browser, command):
    write_pairs(tmp_path)
    result = subprocess.run([str(TOOL), *command, "--report", "report.html"], cwd=tmp_path, capture_output=True,
                            text=True, timeout=300)
    assert result.returncode == 0, result.stderr
    page = tmp_path / "report.html"
    visit, session = browser.visit(page.as_uri())
    assert (visit.console, visit.exceptions, visit.log_entries) == ([], [], [])
    assert [url for url in visit.requests if not url.startswith("data:image/svg+xml;base64,")] == [page.as_uri()]
    assert browser.evaluate(session, "typeof window.injected") == "undefined"
    text = browser.evaluate(session, "document.body.innerText")
    assert INJECTIONS[2] in text
    if command[0] == "compare":
        assert INJECTIONS[0] in text and INJECTIONS[1] in text
    # Every chart decoded, and the first one painted.
    images = browser.evaluate(session, "[...document.images].map(i => [i.complete, i.naturalWidth])")
    assert len(images) == (3 if command[0] == "compare" else 1)
    assert all(done and width > 0 for done, width in images)
    box = browser.evaluate(session, "(r => ({x: r.x, y: r.y + window.scrollY, width: r.width, height: r.height}))"
                                    "(document.images[0].getBoundingClientRect())")
    assert non_blank(browser.screenshot(session, box))
    assert not non_blank(browser.screenshot(session, {**box, "x": 0, "width": 8}))
