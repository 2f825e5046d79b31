"""The page in headless Chromium against the real quorvel-server on the sample region.

test_page.py QUORVEL_SERVER APP_FOLDER QUORVEL_BATCH
"""
import csv
import io
import os
import sys
import unicodedata
import unittest

import xlrd
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select
from selenium.webdriver.common.keys import Keys

from browser import PageCase, click_map, rows, severe_console_entries, wait, wait_rows
from server import run_batch

SERVER, APP, BATCH = sys.argv[1:4]
PERIODS = ["2", "5", "10", "20", "50", "100", "200"]


def fold(name):
    return "".join(c for c in unicodedata.normalize("NFD", name) if unicodedata.category(c) != "Mn").lower()


def italian_one_decimal(text):
    return f"{float(text):.1f}".replace(".", ",")


def workbook_cells(path):
    book = xlrd.open_workbook(path)
    return [[sheet.name, [sheet.row_values(r) for r in range(sheet.nrows)]] for sheet in book.sheets()]


class Page(PageCase):
    arguments = (SERVER, APP)

    def setUp(self):
        # The parts of the one request a test has answered with a failure on
        # purpose: Chromium logs it as an error.
        self.expected_failures = None

    def tearDown(self):
        unexpected = [entry for entry in severe_console_entries(self.driver)
                      if not (self.expected_failures and all(part in entry["message"]
                                                             for part in self.expected_failures))]
        self.assertEqual(unexpected, [], "errors in the browser's console")

    def table_row(self, tr):
        east, north = tr.get_attribute("data-east"), tr.get_attribute("data-north")
        cells = tr.find_elements(By.CSS_SELECTOR, "td.mm")
        return east, north, [c.get_attribute("data-mm") for c in cells], [c.text for c in cells]

    def test_click_answers_with_the_batch_values_report_and_csv(self):
        self.open()
        self.assertTrue(self.driver.find_element(By.ID, "sample-band").is_displayed())
        click_map(self.driver, 0, 0)
        [tr] = wait_rows(self.driver, 1)
        east, north, exact, shown = self.table_row(tr)
        # The view's centre, to the metre a pixel of 10 m allows.
        self.assertLessEqual(abs(int(east) - 2400000), 10)
        self.assertLessEqual(abs(int(north) - 5100000), 10)

        name = f"Piogge_{east}_{north}"
        reports = os.path.join(self.work, "reports")
        expected_csv = run_batch(BATCH, APP, f"id,East,North\n{name},{east},{north}\n", reports)
        batch_row = list(csv.DictReader(io.StringIO(expected_csv)))[0]
        self.assertEqual(batch_row["error"], "")
        self.assertEqual(exact, [batch_row[f"q{t}"] for t in PERIODS])
        self.assertEqual(shown, [italian_one_decimal(batch_row[f"q{t}"]) for t in PERIODS])
        self.assertTrue(self.driver.find_element(By.CSS_SELECTOR, "#chart canvas").is_displayed())

        tr.find_element(By.CSS_SELECTOR, "details.downloads summary").click()
        tr.find_element(By.CSS_SELECTOR, "button.report").click()
        self.assertEqual(workbook_cells(self.downloaded(f"{name}.xls")),
                         workbook_cells(os.path.join(reports, f"{name}.xls")))
        tr.find_element(By.CSS_SELECTOR, "button.csv").click()
        with open(self.downloaded(f"{name}.csv"), newline="") as got:
            self.assertEqual(got.read(), expected_csv)

    def test_several_clicks_give_rows_of_their_own_colour_and_can_be_removed(self):
        self.open()
        for count, dx in enumerate([-200, 0, 200], start=1):
            click_map(self.driver, dx, 100)
            wait_rows(self.driver, count)
        # The same point again brings its row to the top rather than adding one.
        click_map(self.driver, -200, 100)
        wait(self.driver).until(lambda d: rows(d)[0].find_element(By.CSS_SELECTOR, ".mark").text == "1")
        colours = {tr.find_element(By.CSS_SELECTOR, ".mark span").value_of_css_property("background-color")
                   for tr in rows(self.driver)}
        self.assertEqual(len(colours), 3)
        rows(self.driver)[1].find_element(By.CSS_SELECTOR, "button.remove").click()
        self.assertEqual([tr.find_element(By.CSS_SELECTOR, ".mark").text for tr in wait_rows(self.driver, 2)],
                         ["1", "2"])

    def test_a_click_on_the_sea_says_the_cell_holds_no_valid_data(self):
        self.open("2480200,5080200,10")
        self.assertIn("no valid data", run_batch(BATCH, APP, "id,East,North\nsea,2480200,5080200\n"))
        self.expected_failures = ["/api/v1/rain?east=248", "422"]
        click_map(self.driver, 0, 0)
        message = self.driver.find_element(By.ID, "results-message")
        wait(self.driver).until(lambda d: message.text)
        self.assertRegex(message.text, r"^La cella \(riga 180, colonna 341\) del punto E 2480\d\d\d, N 5080\d\d\d "
                                       r"non contiene dati validi\.$")
        self.assertEqual(rows(self.driver), [])

    def test_finder(self):
        self.open()
        municipalities = self.driver.execute_script("return fetch('api/v1/comuni').then(r => r.json())")
        places = self.driver.execute_script("return fetch('api/v1/places').then(r => r.json())")
        names = [m["name"] for m in municipalities]
        folded_names = {fold(n) for n in names}
        # Municipalities first, then the places not named as one, as "Località (Comune)".
        labels = names + [f"{p['name']} ({p['comune']})" if p["comune"] else p["name"] for p in places
                          if fold(p["name"].strip()) not in folded_names and p["name"].strip()]
        searched = [fold(label.split(" (")[0]) for label in labels]
        # A part from inside an accented municipality's name, over its accent, typed without
        # accents and in lower case, found in that name only.
        part, target = next((fold(n)[start:start + k], n) for n in names for k in range(4, len(n))
                            for start in range(1, len(n) - k + 1)
                            if fold(n[start:start + k]) != n[start:start + k].lower()
                            and n[start:start + k] == n[start:start + k].strip()
                            and sum(fold(n)[start:start + k] in m for m in searched) == 1)
        shared = next(fold(n)[:4] for n in names if 1 < sum(fold(n)[:4] in m for m in searched) <= 200)
        box = self.driver.find_element(By.ID, "finder-text")
        message = self.driver.find_element(By.ID, "finder-message")
        listed = lambda d: [li.text.split("\n")[0] for li in d.find_elements(By.CSS_SELECTOR, "#finder-list li")]
        cases = [  # typed, message, entries offered
            ("zzzz", 'Nessun comune o località "zzzz": scegli dall\'elenco.', []),
            (shared, None, [label for label, m in zip(labels, searched) if shared in m]),
            (part, "", []),
        ]
        for typed, said, offered in cases:
            with self.subTest(typed=typed):
                before = self.driver.execute_script("return location.hash")
                box.clear()
                box.send_keys(typed, Keys.ENTER)
                if said is not None:
                    wait(self.driver).until(lambda d: message.text == said)
                else:
                    wait(self.driver).until(lambda d: listed(d))
                self.assertEqual(sorted(listed(self.driver)), sorted(offered))
        wait(self.driver).until(lambda d: d.execute_script("return location.hash") != before)
        self.assertEqual(box.get_attribute("value"), target)
        extent = next(m["extent"] for m in municipalities if m["name"] == target)
        east, north, _ = map(float, self.driver.execute_script("return location.hash")[1:].split("&")[0].split(","))
        self.assertTrue(extent["xMin"] <= east <= extent["xMax"] and extent["yMin"] <= north <= extent["yMax"])
        # Outlined as the desktop highlights it.
        wait(self.driver).until(lambda d: d.execute_script(
            "return performance.getEntriesByType('resource').some(e => e.name.includes('/api/v1/outline?'))"))
        # A place found alone by a folded part of its name, and named with its municipality.
        folded = [fold(p["name"]) for p in places] + list(folded_names)
        place = next(p for p in places if p["comune"] and fold(p["name"]) != p["name"].lower()
                     and fold(p["name"]) not in folded_names and folded.count(fold(p["name"])) == 1
                     and sum(fold(p["name"]) in n for n in folded) == 1)
        box.clear()
        box.send_keys(fold(place["name"])[1:], Keys.ENTER)
        wait(self.driver).until(lambda d: box.get_attribute("value") == f"{place['name']} ({place['comune']})")
        wait(self.driver).until(lambda d: abs(float(d.execute_script("return location.hash")[1:].split(",")[0])
                                              - place["x"]) < 100)

    def test_layer_switch_shows_a_rainfall_map_and_its_legend(self):
        self.open("2400000,5100000,200")
        legend = self.driver.find_element(By.CSS_SELECTOR, "#layer-switch img")
        self.assertFalse(legend.is_displayed())
        Select(self.driver.find_element(By.ID, "layer-choice")).select_by_value("pioggia_T100")
        wait(self.driver).until(lambda d: d.execute_script(
            "return performance.getEntriesByType('resource').some(e => e.name.includes('LAYERS=pioggia_T100'))"))
        wait(self.driver).until(lambda d: legend.is_displayed() and d.execute_script(
            "return arguments[0].complete && arguments[0].naturalWidth > 0", legend))
        self.assertIn("LAYER=pioggia_T100", legend.get_attribute("src"))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
