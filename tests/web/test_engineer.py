"""The page as engineers use it: points in other reference systems, places, the address that keeps
the rows, a phone, the chart's legend, the downloads, the second visit, accessibility and faults.

test_engineer.py QUORVEL_SERVER APP_FOLDER QUORVEL_BATCH AXE_SCRIPT
"""
import csv
import io
import json
import os
import re
import subprocess
import sys
import unittest

import xlrd
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select

from browser import PageCase, click_map, open_page, rows, start_chromium, stop_chromium, wait, wait_rows
from server import run_batch, started_server

SERVER, APP, BATCH, AXE = sys.argv[1:5]
PERIODS = ["2", "5", "10", "20", "50", "100", "200"]
# Monte Mario / Italy zone 2 with the datum shift the program uses.
GAUSS_BOAGA = ("+proj=tmerc +lat_0=0 +lon_0=15 +k=0.9996 +x_0=2520000 +y_0=0 +ellps=intl "
               "+towgs84=-104.1,-49.1,-9.9,0.971,-2.917,0.714,-11.68 +units=m +no_defs")
NO_SERVER = "Il server non risponde: riprova tra poco."
COORDINATE_MESSAGE = "Inserisci coordinate valide per la regione Tervania"


def exactly(text):
    return "^" + re.escape(text) + r"\Z"


def converted(east, north, target):
    out = subprocess.run(["gdaltransform", "-s_srs", GAUSS_BOAGA, "-t_srs", target], input=f"{east} {north}\n",
                         capture_output=True, text=True, check=True).stdout.split()
    return float(out[0]), float(out[1])


def dms(value, positive, negative):
    whole = abs(value)
    degrees = int(whole)
    minutes = int((whole - degrees) * 60)
    seconds = (whole - degrees - minutes / 60) * 3600
    return f"{degrees}°{minutes}'{seconds:.2f}\"{positive if value >= 0 else negative}".replace(".", ",")


def transferred(driver):
    """Bytes each response of the performance log took on the wire."""
    urls, sizes = {}, {}
    for entry in driver.get_log("performance"):
        message = json.loads(entry["message"])["message"]
        if message["method"] == "Network.responseReceived":
            urls[message["params"]["requestId"]] = message["params"]["response"]["url"]
        elif message["method"] == "Network.loadingFinished":
            sizes[message["params"]["requestId"]] = message["params"]["encodedDataLength"]
    return {urls.get(request, request): size for request, size in sizes.items()}


class Engineer(PageCase):
    arguments = (SERVER, APP)

    def heights(self, tr):
        return [c.get_attribute("data-mm") for c in tr.find_elements(By.CSS_SELECTOR, "td.mm")]

    def type_point(self, system, first, second):
        Select(self.driver.find_element(By.ID, "typed-system")).select_by_value(system)
        for box, text in (("typed-east", first), ("typed-north", second)):
            element = self.driver.find_element(By.ID, box)
            element.clear()
            element.send_keys(text)
        self.driver.find_element(By.ID, "typed-north").send_keys(Keys.ENTER)

    def test_points_in_each_system_give_the_gauss_boaga_row(self):
        self.open()
        east, north = 2400250, 5100250  # a cell's centre, far from its edges
        lon, lat = converted(east, north, "EPSG:4326")
        utm_east, utm_north = converted(east, north, "+proj=utm +zone=33 +datum=WGS84 +units=m +no_defs")
        expected = None
        cases = [  # system, first box, second box
            ("gb", f"{east},5", f" {north} "),
            ("wgs84", dms(lat, "N", "S"), dms(lon, "E", "O")),
            ("wgs84", f"{lat:.6f}".replace(".", ","), f"{lon:.6f}"),
            ("utm33", f"{utm_east:.2f}", f"{utm_north:.2f}".replace(".", ",")),
        ]
        for system, first, second in cases:
            with self.subTest(system=system, first=first):
                for remove in self.driver.find_elements(By.CSS_SELECTOR, "button.remove"):
                    remove.click()
                wait_rows(self.driver, 0)
                self.type_point(system, first, second)
                [tr] = wait_rows(self.driver, 1)
                self.assertEqual(self.driver.find_element(By.ID, "typed-message").text, "")
                expected = expected or self.heights(tr)
                self.assertEqual(self.heights(tr), expected)
                self.assertLess(abs(float(tr.get_attribute("data-east")) - east), 10)
                if system == "gb":  # read as typed: a decimal comma, blanks around
                    self.assertEqual((tr.get_attribute("data-east"), tr.get_attribute("data-north")),
                                     (f"{east}.5", str(north)))

    def test_typed_faults(self):
        self.open()
        message = self.driver.find_element(By.ID, "typed-message")
        cases = [  # system, first, second, the message's pattern
            ("gb", "", "", exactly(COORDINATE_MESSAGE + "\nCasella E vuota: inserisci la coordinata Est in metri."
                                                        "\nCasella N vuota: inserisci la coordinata Nord in metri.")),
            ("gb", "5100000", "2400000", exactly(COORDINATE_MESSAGE + "\nI valori di E e N sembrano scambiati: "
                                                 "Est va da 2310000 a 2490500 m, Nord da 5040000 a 5170000 m.")),
            ("gb", "2300000", "5100000,5", exactly(COORDINATE_MESSAGE + "\nCasella E: 2300000 è fuori dalla griglia "
                                                   "(Est da 2310000 a 2490500 m).")),
            ("gb", "2 400 000", "5100000", exactly(COORDINATE_MESSAGE + '\nCasella E: "2 400 000" non è un numero '
                                                   '(solo cifre, con "," o "." per i decimali).')),
            ("gb", "46,1", "13,3", r"^Inserisci coordinate valide per la regione Tervania\n(.*fuori dalla griglia.*\n)+"
                                   r"Sembrano gradi di latitudine e longitudine: scegli il sistema WGS84\.$"),
            ("wgs84", "46°3'", "nord", r"^Inserisci coordinate valide per la regione Tervania \(WGS84 lat/lon\)\n"
                                       r"Casella Lon \(WGS84 lat/lon\): \"nord\" non è un angolo"),
            ("gb", "2480200", "5080200", r"^La cella \(riga 180, colonna 341\) del punto E 2480200, N 5080200 "
                                         r"non contiene dati validi\.$"),
        ]
        for system, first, second, said in cases:
            with self.subTest(first=first, second=second):
                self.type_point(system, first, second)
                wait(self.driver).until(lambda d: re.search(said, message.text))
        self.assertEqual(rows(self.driver), [])

    def test_the_address_keeps_the_rows_and_the_eighth_point_says_it_drops_the_oldest(self):
        self.open("2400000,5105000,60")
        for count, dx in enumerate([-200, 0, 200], start=1):
            click_map(self.driver, dx, 0)
            wait_rows(self.driver, count)
        before = [(tr.get_attribute("data-east"), tr.get_attribute("data-north")) for tr in rows(self.driver)]
        self.driver.refresh()
        wait(self.driver).until(lambda d: [(tr.get_attribute("data-east"), tr.get_attribute("data-north"))
                                           for tr in rows(d)] == before)
        self.driver.back()
        wait_rows(self.driver, 2)
        self.driver.forward()
        wait_rows(self.driver, 3)

        for count, dx in enumerate([-250, -150, -50, 50], start=4):
            click_map(self.driver, dx, 100)
            wait_rows(self.driver, count)
        notice = self.driver.find_element(By.ID, "results-notice")
        self.assertEqual(notice.text, "")
        oldest = rows(self.driver)[-1].get_attribute("data-east")
        self.assertEqual(len(rows(self.driver)), 7)
        click_map(self.driver, 150, 100)
        wait(self.driver).until(lambda d: "il punto 1 è stato rimosso" in notice.text)
        self.assertNotIn(oldest, [tr.get_attribute("data-east") for tr in rows(self.driver)])
        notice.find_element(By.TAG_NAME, "button").click()
        wait(self.driver).until(lambda d: rows(d)[-1].get_attribute("data-east") == oldest)
        self.assertEqual(len(rows(self.driver)), 7)

    def test_the_legend_names_each_row_and_the_tooltip_gives_the_values(self):
        self.open("2400000,5105000,60")
        for count, dx in enumerate([-100, 100], start=1):
            click_map(self.driver, dx, 0)
            wait_rows(self.driver, count)
        # The same cell again, a few metres away: a curve on top of another.
        click_map(self.driver, 101, 0)
        wait_rows(self.driver, 3)
        legend = [li.text for li in self.driver.find_elements(By.CSS_SELECTOR, "#chart-legend li")]
        self.assertEqual(len(legend), 3)
        for tr, item in zip(reversed(rows(self.driver)), legend):
            self.assertTrue(item.startswith(tr.find_element(By.CSS_SELECTOR, ".mark").text + " – E "))
            self.assertIn(tr.get_attribute("data-east"), item)
        self.assertIn("stessa curva del punto 2", legend[2])
        over = self.driver.find_element(By.CSS_SELECTOR, "#chart .u-over")
        ActionChains(self.driver).move_to_element(over).perform()
        tooltip = self.driver.find_element(By.CSS_SELECTOR, ".chart-tooltip")
        wait(self.driver).until(lambda d: tooltip.is_displayed() and "T = " in tooltip.text)
        self.assertEqual(len(tooltip.text.split("\n")), 4)

    def test_downloads_italian_csv_and_pdf_sheet(self):
        self.open()
        click_map(self.driver, 0, 0)
        [tr] = wait_rows(self.driver, 1)
        east, north = tr.get_attribute("data-east"), tr.get_attribute("data-north")
        name = f"Piogge_{east}_{north}"
        tr.find_element(By.CSS_SELECTOR, "details.downloads summary").click()
        tr.find_element(By.CSS_SELECTOR, "button.csv-it").click()
        italian = self.downloaded(f"{name}_it.csv")
        with open(italian, encoding="utf-8") as got:
            text = got.read()
        self.assertTrue(text.startswith("\ufeffreport;E;N;riga;colonna;"))
        self.assertIn("esempio sintetico", text)
        # LibreOffice with Italian settings reads every value as a number.
        subprocess.run(["soffice", "--headless", f"-env:UserInstallation=file://{self.work}/lo",
                        "--infilter=CSV:59,34,76,1,,1040", "--convert-to", "xls", "--outdir", self.work, italian],
                       check=True, capture_output=True, timeout=180)
        sheet = xlrd.open_workbook(os.path.join(self.work, f"{name}_it.xls")).sheet_by_index(0)
        batch = list(csv.DictReader(io.StringIO(run_batch(BATCH, APP, f"id,East,North\n{name},{east},{north}\n"))))[0]
        self.assertEqual([sheet.cell_type(1, c) for c in range(1, 17)], [xlrd.XL_CELL_NUMBER] * 16)
        self.assertEqual([sheet.cell_value(1, 10 + i) for i in range(7)], [float(batch[f"q{t}"]) for t in PERIODS])

        self.driver.execute_script("arguments[0].open = true", tr.find_element(By.CSS_SELECTOR, "details.downloads"))
        tr.find_element(By.CSS_SELECTOR, "button.sheet").click()
        sheets = os.path.join(self.work, "sheets")
        run_batch_sheet = subprocess.run([BATCH, "-", "--folder", APP, "--pdf", sheets], check=False, text=True,
                                         input=f"id,East,North\n{name},{east},{north}\n", capture_output=True)
        self.assertEqual(run_batch_sheet.returncode, 0, run_batch_sheet.stderr)
        texts = []
        for path in (self.downloaded(f"{name}.pdf"), os.path.join(sheets, f"{name}.pdf")):
            text = subprocess.run(["pdftotext", "-layout", path, "-"], capture_output=True, text=True,
                                  check=True).stdout
            texts.append(re.sub(r"\d{4}-\d\d-\d\d[ T]\d\d:\d\d(:\d\d)?|\d\d?/\d\d/\d{4},? \d\d:\d\d(:\d\d)?",
                                "TIME", text))
        self.assertIn(name, texts[0])
        self.assertEqual(texts[0], texts[1])

    def test_a_second_visit_transfers_less_than_a_fifth_of_the_first(self):
        self.driver.get("about:blank")
        self.driver.get_log("performance")
        # A fresh cache: the first visit.
        self.driver.execute_cdp_cmd("Network.clearBrowserCache", {})
        loaded = lambda d: d.execute_script(
            "return document.querySelector('.ol-zoom-extent') !== null && performance.getEntriesByType('resource')"
            ".some(e => e.name.includes('/wms?') && e.responseEnd > 0)")
        self.driver.get(self.server.base + "/")
        wait(self.driver).until(loaded)
        first = sum(transferred(self.driver).values())
        self.driver.get("about:blank")
        self.driver.get(self.server.base + "/")
        wait(self.driver).until(loaded)
        second = transferred(self.driver)
        self.assertLess(sum(second.values()), first / 5, second)

    def test_axe_finds_no_violation_of_wcag_2_a_and_aa(self):
        self.open()
        click_map(self.driver, 0, 0)
        wait_rows(self.driver, 1)
        with open(AXE, encoding="utf-8") as script:
            self.driver.execute_script(script.read())
        result = self.driver.execute_async_script(
            "const done = arguments[arguments.length - 1];"
            "axe.run(document, {runOnly: {type: 'tag', values: ['wcag2a', 'wcag2aa']}})"
            ".then(r => done(r.violations.map(v => [v.id, v.nodes.map(n => n.target.join(' '))])));")
        self.assertEqual(result, [])

    def test_phone_has_no_sideways_scroll_and_reachable_row_actions(self):
        driver = start_chromium(width=390, height=844, scale=3, mobile=True)
        self.addCleanup(stop_chromium, driver)
        open_page(driver, self.server.base, "2400000,5100000,20")
        click_map(driver, 0, 0)
        [tr] = wait_rows(driver, 1)
        self.assertLessEqual(driver.execute_script("return document.documentElement.scrollWidth"),
                             driver.execute_script("return innerWidth"))
        for selector in ("details.downloads summary", "button.remove"):
            action = tr.find_element(By.CSS_SELECTOR, selector)
            driver.execute_script("arguments[0].scrollIntoView()", action)
            self.assertTrue(action.is_displayed())
            self.assertGreaterEqual(action.size["height"], 44)
        chart = driver.find_element(By.CSS_SELECTOR, "#chart canvas")
        self.assertLessEqual(chart.rect["x"] + chart.rect["width"], 390)
        # The map's picture at the screen's three pixels to a point.
        widths = driver.execute_script(
            "return performance.getEntriesByType('resource').filter(e => e.name.includes('/wms?'))"
            ".map(e => Number(new URL(e.name).searchParams.get('WIDTH')))")
        self.assertEqual(widths[-1], 3 * driver.find_element(By.ID, "map").size["width"])


class Faults(unittest.TestCase):
    def test_each_fault_is_said_with_the_server_stopped_and_clears_when_it_is_back(self):
        server = started_server(SERVER, APP)
        self.addCleanup(lambda: server.stop())  # the one started again at the end
        driver = start_chromium()
        self.addCleanup(stop_chromium, driver)
        open_page(driver, server.base, "2400000,5100000,10")
        click_map(driver, 0, 0)
        [tr] = wait_rows(driver, 1)
        server.stop()
        cases = [  # what is done, the message's element, what it says
            ("button.report", "results-message", "Impossibile scaricare il report: " + NO_SERVER),
            ("button.csv", "results-message", "Impossibile scaricare il CSV: " + NO_SERVER),
            ("button.sheet", "results-message", "Impossibile scaricare la scheda PDF: " + NO_SERVER),
            ("map", "results-message", NO_SERVER),
            ("zoom", "map-message", "Impossibile aggiornare la mappa: il server non risponde."),
        ]
        for action, where, said in cases:
            with self.subTest(action=action):
                if action == "map":
                    click_map(driver, 40, 40)
                elif action == "zoom":
                    driver.find_element(By.CSS_SELECTOR, ".ol-zoom-out").click()
                else:
                    driver.execute_script("arguments[0].open = true",
                                          tr.find_element(By.CSS_SELECTOR, "details.downloads"))
                    tr.find_element(By.CSS_SELECTOR, action).click()
                message = driver.find_element(By.ID, where)
                wait(driver).until(lambda d: message.text == said)
        server = started_server(SERVER, APP, port=server.port)
        for where in ("results-message", "map-message"):
            wait(driver, 30).until(lambda d: d.find_element(By.ID, where).text == "")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
