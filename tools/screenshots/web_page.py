"""Saves the page after three clicks: web_page.py BASE_URL OUT.png"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "web"))
from browser import click_map, open_page, start_chromium, stop_chromium, wait, wait_rows  # noqa: E402

base, out = sys.argv[1], sys.argv[2]
driver = start_chromium()
try:
    # About 40 km of the plain and the hills, where the three points lie far enough apart.
    open_page(driver, base, "2398000,5104000,45")
    for i, (dx, dy) in enumerate([(-260, -120), (40, 90), (250, -60)], start=1):
        click_map(driver, dx, dy)
        wait_rows(driver, i)
    wait(driver).until(lambda d: d.execute_script(
        "return [...document.images].every(i => i.complete) && document.querySelector('#chart canvas') !== null"))
    driver.save_screenshot(out)
finally:
    stop_chromium(driver)
