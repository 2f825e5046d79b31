"""The page's durations and design hyetograph in headless Chromium, against the API.

test_durations_page.py QUORVEL_SERVER APP_FOLDER [SCREENSHOT.png]
"""
import json
import sys
import unittest
import urllib.request

from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select

from browser import PageCase, click_map, severe_console_entries, wait, wait_rows

SERVER, APP = sys.argv[1:3]
SCREENSHOT = sys.argv[3] if len(sys.argv) > 3 else None


class DurationsOnThePage(PageCase):
    arguments = (SERVER, APP)
    window = {"width": 1500, "height": 1700}

    def api(self, path):
        with urllib.request.urlopen(self.server.base.rstrip("/") + "/" + path, timeout=30) as response:
            return response.read()

    def table(self):
        # In one script: the table may be drawn again between two reads.
        return self.driver.execute_script(
            "return [...document.querySelectorAll('#durations-table tbody tr')]"
            ".map((tr) => [...tr.querySelectorAll('td')].map((td) => td.dataset.value));")

    def test_table_switch_chart_and_hyetograph_are_the_api(self):
        self.open()
        click_map(self.driver, 0, 0)
        [tr] = wait_rows(self.driver, 1)
        east, north = tr.get_attribute("data-east"), tr.get_attribute("data-north")
        wait(self.driver).until(lambda d: len(self.table()) == 8)
        labels = [th.text for th in self.driver.find_elements(By.CSS_SELECTOR, "#durations-table tbody th")]
        self.assertEqual(labels, ["10 min", "15 min", "30 min", "1 h", "3 h", "6 h", "12 h", "24 h"])
        answer = json.loads(self.api(f"api/v1/rain?east={east}&north={north}&durate=10min,15min,30min,1,3,6,12,24"),
                            parse_float=str, parse_int=str)
        self.assertEqual(self.table(), [d["mm"] for d in answer["durations"]])
        self.driver.find_element(By.CSS_SELECTOR, "label[for=durations-mmh]").click()
        wait(self.driver).until(lambda d: self.table() == [d["mmPerHour"] for d in answer["durations"]])
        self.assertTrue(self.driver.find_element(By.CSS_SELECTOR, "#durations-chart canvas").is_displayed())
        legend = self.driver.find_element(By.CSS_SELECTOR, "#durations-chart .u-legend").text
        self.assertIn("T 200 anni", legend)

        box = self.driver.find_element(By.ID, "durations-box")
        box.send_keys("45 min")
        self.driver.find_element(By.CSS_SELECTOR, "#durations-add button").click()
        wait(self.driver).until(lambda d: len(self.table()) == 9)
        box.send_keys("48")
        self.driver.find_element(By.CSS_SELECTOR, "#durations-add button").click()
        self.assertIn("tra 10 min e 24 h", self.driver.find_element(By.CSS_SELECTOR, "#durations .message").text)

        duration = self.driver.find_element(By.ID, "storm-duration")
        duration.clear()
        duration.send_keys("2")
        Select(self.driver.find_element(By.ID, "storm-step")).select_by_value("10")
        self.driver.find_element(By.CSS_SELECTOR, "#storm-form button").click()
        storm = json.loads(self.api(f"api/v1/ietogramma?east={east}&north={north}&durata=2&passo=10&T=100"),
                           parse_float=str, parse_int=str)
        summary = self.driver.find_element(By.ID, "storm-summary")
        wait(self.driver).until(lambda d: summary.get_attribute("data-total") == storm["totalMm"])
        self.assertEqual(summary.get_attribute("data-peak"), storm["peakMmPerHour"])
        self.assertIn("Intensità di picco", summary.text)
        self.assertTrue(self.driver.find_element(By.CSS_SELECTOR, "#storm-chart canvas").is_displayed())
        self.driver.find_element(By.ID, "storm-swmm").click()
        with open(self.downloaded("ietogramma-T100.inp.txt"), "rb") as f:
            self.assertEqual(f.read(), self.api(
                f"api/v1/ietogramma?east={east}&north={north}&durata=2&passo=10&T=100&metodo=chicago"
                f"&picco=0.4&formato=swmm&nome=Quorvel"))
        if SCREENSHOT:
            self.driver.save_screenshot(SCREENSHOT)
        self.assertEqual(severe_console_entries(self.driver), [])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
