"""Headless Chromium driven by Selenium, for the page's tests, benchmark and screenshot."""
import os
import shutil
import tempfile
import unittest

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions as ec
from selenium.webdriver.support.ui import WebDriverWait

from server import started_server


def start_chromium(downloads=None, width=1400, height=860, scale=1, mobile=False):
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
                     "--lang=it-IT", f"--window-size={width},{height}", f"--force-device-scale-factor={scale}",
                     "--no-first-run", "--disable-extensions", "--disable-background-networking"):
        options.add_argument(argument)
    # A profile of our own: nothing from, or left for, anyone else.
    profile = tempfile.mkdtemp(prefix="quorvel-chromium-")
    options.add_argument(f"--user-data-dir={profile}")
    options.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
    if downloads:
        options.add_experimental_option("prefs", {"download.default_directory": downloads,
                                                  "download.prompt_for_download": False})
    service = Service(shutil.which("chromedriver") or "/usr/bin/chromedriver")
    driver = webdriver.Chrome(service=service, options=options)
    driver.quorvel_profile = profile
    # The page's own size, whatever the window's frame takes.
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": width, "height": height, "deviceScaleFactor": scale, "mobile": mobile})
    if mobile:
        driver.execute_cdp_cmd("Emulation.setTouchEmulationEnabled", {"enabled": True, "maxTouchPoints": 5})
    if downloads:
        driver.execute_cdp_cmd("Page.setDownloadBehavior", {"behavior": "allow", "downloadPath": downloads})
    return driver


def stop_chromium(driver):
    profile = driver.quorvel_profile
    driver.quit()
    shutil.rmtree(profile, ignore_errors=True)


def wait(driver, seconds=20):
    return WebDriverWait(driver, seconds)


def open_page(driver, base, view):
    """Opens the page afresh on a view "E,N,metres per pixel" and waits for the map's first image."""
    # Another address first: from one view of the page to another is no new page.
    driver.get("about:blank")
    driver.get(f"{base}/#{view}")
    wait(driver).until(ec.presence_of_element_located((By.CSS_SELECTOR, "#map canvas")))
    wait(driver).until(lambda d: d.execute_script(
        "return performance.getEntriesByType('resource').some(e => e.name.includes('/wms?'))"))


def click_map(driver, dx, dy):
    """Clicks the map dx, dy pixels right and down of its centre."""
    ActionChains(driver).move_to_element_with_offset(driver.find_element(By.ID, "map"), dx, dy).click().perform()


def rows(driver):
    return driver.find_elements(By.CSS_SELECTOR, "#results-table tbody tr")


def wait_rows(driver, count):
    wait(driver).until(lambda d: len(rows(d)) == count)
    return rows(driver)


def severe_console_entries(driver):
    return [entry for entry in driver.get_log("browser") if entry["level"] == "SEVERE"]


class PageCase(unittest.TestCase):
    """Tests of the page in one Chromium against one quorvel-server, started
    with the class's arguments; the downloads in a folder of their own."""
    arguments = ()
    window = {}

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="quorvel-web-test-")
        cls.addClassCleanup(shutil.rmtree, cls.work, True)
        cls.downloads = os.path.join(cls.work, "downloads")
        os.mkdir(cls.downloads)
        cls.server = started_server(*cls.arguments)
        cls.addClassCleanup(cls.server.stop)
        cls.driver = start_chromium(downloads=cls.downloads, **cls.window)
        cls.addClassCleanup(stop_chromium, cls.driver)

    def open(self, view="2400000,5100000,10"):
        open_page(self.driver, self.server.base, view)

    def downloaded(self, name):
        """The file's path once Chromium has written it whole."""
        path = os.path.join(self.downloads, name)
        wait(self.driver).until(lambda d: os.path.exists(path) and not os.path.exists(path + ".crdownload"))
        return path
