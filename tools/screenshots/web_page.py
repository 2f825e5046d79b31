"""Saves the web page after three clicks: web_page.py QUORVEL_SERVER APP_FOLDER OUT.png"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "web"))
from browser import click_map, open_page, start_chromium, stop_chromium, wait, wait_rows  # noqa: E402
from server import started_server  # noqa: E402

program, folder, out = sys.argv[1:4]
server = started_server(program, folder)
driver = start_chromium()
try:
    # The hills in the north and the plain in the south, whose curves differ,
    # close enough to see each point's 500 m cell.
    centre, metres_per_pixel = (2387000, 5112000), 35
    open_page(driver, server.base, f"{centre[0]},{centre[1]},{metres_per_pixel}")
    for count, (east, north) in enumerate([(2378250, 5124250), (2396250, 5111250), (2382250, 5100250)], start=1):
        click_map(driver, round((east - centre[0]) / metres_per_pixel), round((centre[1] - north) / metres_per_pixel))
        wait_rows(driver, count)
    wait(driver).until(lambda d: d.execute_script(
        "return performance.getEntriesByType('resource').filter(e => e.name.includes('/wms?'))"
        ".every(e => e.responseEnd > 0) && document.querySelector('#chart canvas') !== null"))
    driver.save_screenshot(out)
finally:
    stop_chromium(driver)
    server.stop()
