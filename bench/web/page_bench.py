"""The page's first load, a second visit, a phone's first load and the answer to a click, in headless
Chromium against quorvel-server.

page_bench.py QUORVEL_SERVER APP_FOLDER [CLICKS [WIDTHxHEIGHT]]

Prints the bytes each load transfers (as sent: compressed where the server
compresses, nothing for what the browser's cache kept) and the time from a
click on the map to the frame that paints the table, as the page itself
measures it with performance marks. Exits 1 when the first load at the size
given (1920 x 1080 unless told) passes 600 KB, a second visit 120 KB, a
phone's first load (390 x 844 at three pixels to a point) 400 KB, or the
slowest answer 100 ms.
"""
import json
import os
import statistics
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "web"))
from browser import click_map, open_page, rows, start_chromium, stop_chromium, wait  # noqa: E402
from server import started_server  # noqa: E402

LOAD_LIMIT = 600_000
SECOND_LIMIT = 120_000
PHONE_LIMIT = 400_000
CLICK_LIMIT_MS = 100

program, folder = sys.argv[1], sys.argv[2]
clicks = int(sys.argv[3]) if len(sys.argv) > 3 else 30
# The map's picture, most of the first load, grows with the window.
width, height = map(int, (sys.argv[4] if len(sys.argv) > 4 else "1920x1080").split("x"))


def load(driver, base, what):
    """Opens the page on the whole region and prints and returns the bytes it transferred."""
    driver.get("about:blank")
    driver.get_log("performance")
    driver.get(base + "/")
    # Loaded: the map's first picture and the municipalities, whose extent gives the full-extent button.
    wait(driver).until(lambda d: d.execute_script(
        "return document.querySelector('.ol-zoom-extent') !== null && performance.getEntriesByType('resource')"
        ".some(e => e.name.includes('/wms?') && e.responseEnd > 0)"))
    urls, sizes = {}, {}
    for entry in driver.get_log("performance"):
        message = json.loads(entry["message"])["message"]
        if message["method"] == "Network.responseReceived":
            urls[message["params"]["requestId"]] = message["params"]["response"]["url"]
        elif message["method"] == "Network.loadingFinished":
            sizes[message["params"]["requestId"]] = message["params"]["encodedDataLength"]
    loaded = {urls.get(request, "?"): size for request, size in sizes.items()}
    total = sum(loaded.values())
    for url, size in sorted(loaded.items(), key=lambda item: -item[1]):
        print(f"  {size:>9,} B  {url.replace(base, '')[:100]}")
    print(f"{what}: {total:,} B transferred")
    return total


server = started_server(program, folder)
failed = True
try:
    driver = start_chromium(width=width, height=height)
    try:
        first = load(driver, server.base, f"first load at {width} x {height} (limit {LOAD_LIMIT:,} B)")
        second = load(driver, server.base, f"second visit (limit {SECOND_LIMIT:,} B)")
        print(f"second visit / first load: {second / first:.1%}")

        # Points on land around the centre of the region, each clicked once.
        open_page(driver, server.base, "2400000,5105000,60")
        offsets = [(dx, dy) for dy in range(-180, 181, 60) for dx in range(-300, 301, 60)][:clicks]
        for dx, dy in offsets:
            before = driver.execute_script("return performance.getEntriesByName('quorvel-click-to-table').length")
            click_map(driver, dx, dy)
            wait(driver).until(lambda d: d.execute_script(
                "return performance.getEntriesByName('quorvel-click-to-table').length") > before)
        # Every click answered and shown: each measure belongs to a row that was drawn.
        assert rows(driver), "no row in the table"
        times = driver.execute_script(
            "return performance.getEntriesByName('quorvel-click-to-table').map(e => e.duration)")
        times.sort()
        print(f"click to table on screen, {len(times)} clicks: median {statistics.median(times):.1f} ms, "
              f"p95 {times[int(0.95 * (len(times) - 1))]:.1f} ms, max {times[-1]:.1f} ms (limit {CLICK_LIMIT_MS} ms)")
    finally:
        stop_chromium(driver)
    phone = start_chromium(width=390, height=844, scale=3, mobile=True)
    try:
        phone_first = load(phone, server.base, f"phone's first load at 390 x 844, 3x (limit {PHONE_LIMIT:,} B)")
    finally:
        stop_chromium(phone)
    failed = (first > LOAD_LIMIT or second > SECOND_LIMIT or phone_first > PHONE_LIMIT
              or times[-1] > CLICK_LIMIT_MS)
finally:
    server.stop()
sys.exit(1 if failed else 0)
