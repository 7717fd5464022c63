"""The results page in a real browser, served by the real results host.

Run by ctest with /usr/bin/python3; needs Debian's chromium, chromium-driver and python3-selenium.
One host and one browser for every case; each case puts its own shared file in place and opens the page."""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

SOURCE = os.path.abspath(os.environ.get("VANTREL_SOURCE_DIR") or os.path.join(os.path.dirname(__file__), "..", ".."))
HOST_TOOL = os.path.join(SOURCE, "tools", "results-host")
sys.path.insert(0, os.path.join(SOURCE, "tools"))
from results_host.records import encode_record  # noqa: E402 - found through the path above
PAGE = os.path.join(SOURCE, "web")
BROWSER_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync"]


def record(name, os_name, processor, score, email="someone@example.org"):
    return encode_record(name, email, os_name, processor, score)


def golden(path):
    with open(os.path.join(SOURCE, path), "rb") as f:
        return f.read()


THREE_ROWS = [
    ["1", "José Müller", "Win XP", "Pentium® 4 – 2.4 GHz", "12345", "2", "66.6"],
    ["2", "€uro\x81", "Win 98", "K6-2 “333”", "4711", "3", "33.3"],
    ["3", "easter egg", "Win Blackcomb", "Athlon XP", "987654321", "1", "100"],
]


class Host:
    """tools/results-host serving the page, on free ports with a fresh data folder."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="web-page-test-")
        self.root = os.path.join(self.dir, "data")
        os.mkdir(self.root)
        self.log = os.path.join(self.dir, "requests.log")
        self.process = subprocess.Popen(
            ["/usr/bin/python3", HOST_TOOL, "--root", self.root, "--history", os.path.join(self.dir, "history"),
             "--page", PAGE, "--http-port", "0", "--ftp-port", "0", "--log", self.log, "--exit-with-parent"],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        if "ready" not in line:
            self.process.kill()
            raise RuntimeError("the results host did not start: %r %r" % (line, self.process.stderr.read()))
        http = line.split("http=")[1].split()[0]
        self.url = "http://%s/vantrel/" % http

    def put(self, data):
        with open(os.path.join(self.root, "compare.zip"), "wb") as f:
            f.write(data)

    def file_answers(self):
        """The status of each answer for the shared file so far."""
        with open(self.log) as f:
            return [line.split()[3] for line in f if line.startswith("HTTP GET /vantrel/COMPARE.ZIP ")]

    def stop(self):
        if self.process:
            self.process.terminate()
            self.process.wait(10)
            self.process.stdout.close()
            self.process.stderr.close()
            self.process = None
        shutil.rmtree(self.dir, ignore_errors=True)


class PageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.host = Host()
        options = webdriver.ChromeOptions()
        for flag in BROWSER_FLAGS:
            options.add_argument(flag)
        cls.profile = tempfile.mkdtemp(prefix="web-page-browser-")
        options.add_argument("--user-data-dir=" + cls.profile)
        options.add_argument("--window-size=1200,900")
        options.binary_location = "/usr/bin/chromium"
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        try:
            cls.browser = webdriver.Chrome(options=options, service=Service("/usr/bin/chromedriver"))
        except Exception:
            cls.host.stop()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()
        cls.host.stop()
        shutil.rmtree(cls.profile, ignore_errors=True)

    def open(self, data, fragment="", host=None):
        host = host or self.host
        host.put(data)
        self.browser.get("about:blank")
        self.browser.get(host.url + fragment)
        self.wait("document.documentElement.dataset.loaded !== undefined")

    def wait(self, condition):
        WebDriverWait(self.browser, 20, poll_frequency=0.05).until(lambda b: b.execute_script("return " + condition))

    def js(self, script, *args):
        return self.browser.execute_script(script, *args)

    def rows(self):
        return self.js("return [...document.querySelectorAll('#results tbody tr:not(.spacer)')]"
                       ".map(r => [...r.cells].map(c => (c.querySelector('.main') ?? c).textContent))")

    def assert_no_console_errors(self):
        errors = [e["message"] for e in self.browser.get_log("browser") if e["level"] == "SEVERE"
                  and "favicon" not in e["message"] and "(Requested Range Not Satisfiable)" not in e["message"]]
        self.assertEqual(errors, [])

    def test_known_file_shows_its_rows_in_order_and_no_e_mail(self):
        self.open(golden("tests/data/submit/three_records.bin"))
        self.assertEqual(self.rows(), THREE_ROWS)
        self.assertTrue(self.js("return document.getElementById('note').hidden"))
        body = self.js("return document.body.textContent")
        self.assertNotIn("example.org", body)
        self.assertIn("E-mail addresses are not shown", body)
        self.assert_no_console_errors()

    def test_cut_record_and_junk_length_leave_the_whole_rows_and_a_note(self):
        three = golden("tests/data/submit/three_records.bin")
        cases = [(three[:150], 2, "cut short"),
                 (three + struct.pack("<i", -7) + b"junk", 3, "negative"),
                 (three + struct.pack("<i", 0x7FFFFFFF) + b"junk", 3, "reaches past the end")]
        for data, count, words in cases:
            with self.subTest(words):
                self.open(data)
                self.assertEqual([row[:5] for row in self.rows()], [row[:5] for row in THREE_ROWS[:count]])
                note = self.js("const n = document.getElementById('note'); return n.hidden ? '' : n.textContent")
                self.assertIn(words, note)

    def test_markup_in_records_is_text_and_runs_nothing(self):
        name = '<img src=x onerror="window.ran=1">'
        processor = "</script><script>window.ran=2</script>"
        self.open(record(name, "<b>OS</b>", processor, 100) + record("Ann", "Win 98", "K6", 50), "#sel=1")
        self.assertEqual(self.rows()[0][1:4], [name, "<b>OS</b>", processor])
        self.assertEqual(self.js("return document.getElementById('d-name').textContent"), name)
        self.assertEqual(self.js("return document.querySelectorAll('img, b, main script').length"), 0)
        self.assertIsNone(self.js("return window.ran"))
        self.assert_no_console_errors()

    def test_a_link_opens_to_its_filter_selection_and_comparison(self):
        records = [record("Ann", "Win 98", "K6-2 350", 1000), record("Bob", "Win XP", "Athlon XP", 2000),
                   record("Cid", "Win XP", "athlon 64", 4000), record("Dee", "Win XP", "Pentium 4", 3000)]
        self.open(b"".join(records), "#q=ATHLON&os=Win%20XP&sort=-score&sel=2&vs=3")
        self.assertEqual([r[0] for r in self.rows()], ["3", "2"])
        self.assertEqual(self.js("return [q.value, os.value]"), ["ATHLON", "Win XP"])
        selected = self.js("return [...document.querySelectorAll('tr.selected [aria-pressed=true]')]"
                           ".map(b => b.textContent)")
        self.assertEqual(selected, ["2"])
        self.assertEqual(self.js("return document.getElementById('d-name').textContent"), "Bob")
        shares = self.js("return ['bar1', 'bar2'].map(id => { const b = document.getElementById(id);"
                         " return b.getBoundingClientRect().width / b.parentElement.clientWidth; })")
        self.assertAlmostEqual(shares[0], 0.5, places=2)
        self.assertAlmostEqual(shares[1], 1.0, places=2)
        self.assertEqual(self.js("return document.getElementById('status').textContent"), "2 of 4 results match.")

    def test_focus_stays_with_its_result_while_scrolling_and_a_link_shows_its_row(self):
        self.open(b"".join(record("P%d" % i, "Win XP", "K6", i) for i in range(400)))
        self.js("document.querySelectorAll('#results tbody th button')[1].focus()")
        self.js("document.getElementById('scroller').scrollTop += 5000")
        self.wait("document.activeElement.id === 'scroller'")  # its row is out of view: no other result has it
        self.browser.switch_to.active_element.send_keys(Keys.ENTER)
        self.assertTrue(self.js("return document.getElementById('details').hidden"))
        self.js("document.getElementById('scroller').scrollTop = 0")
        self.wait("document.activeElement.textContent === '2'")
        self.js("location.hash = '#sel=300'")
        self.wait("document.activeElement.textContent === '300'")
        self.assertEqual(self.js("return document.getElementById('d-name').textContent"), "P299")
        self.assertEqual(self.js("return document.querySelector('tr.selected').dataset.record"), "299")

    def test_a_revisit_asks_only_for_the_new_bytes(self):
        three = golden("tests/data/submit/three_records.bin")
        old = record("Old", "Win 98", "K6", 1) * 20
        self.open(old + three)
        self.wait("document.documentElement.dataset.kept")
        before = len(self.host.file_answers())
        self.open(old + three + record("New", "Win XP", "Athlon", 2), "#sel=24")
        self.assertEqual(self.host.file_answers()[before:], ["206"])
        self.assertEqual(self.js("return document.documentElement.dataset.loaded"), "24")
        self.assertEqual(self.js("return document.getElementById('d-name').textContent"), "New")

    def test_an_empty_or_failed_reload_clears_the_stale_rows_and_says_why(self):
        host = Host()
        try:
            for fault, words in (("empty", "No results have been submitted yet. To add yours, run Vantrel 3"),
                                 ("down", host.url + "COMPARE.ZIP: the host did not answer")):
                with self.subTest(fault):
                    self.open(golden("tests/data/submit/three_records.bin"), "#sel=2", host)
                    if fault == "empty":
                        host.put(b"")
                    else:
                        host.stop()
                    self.js("document.getElementById('reload').click()")
                    self.wait("document.documentElement.dataset.loaded === '0'")
                    self.assertEqual(self.rows(), [])
                    self.assertTrue(self.js("return document.getElementById('details').hidden"))
                    self.assertIn(words, self.js("return document.getElementById('status').textContent"))
        finally:
            host.stop()

    def test_a_typed_score_gets_its_rank_and_the_csv_holds_the_rows_shown_without_e_mail(self):
        self.open(golden("tests/data/submit/three_records.bin"), "#q=e&score=5000")
        self.wait("document.getElementById('stand').textContent.startsWith('It would')")
        self.assertEqual(self.js("return document.getElementById('stand').textContent"),
                         "It would rank 3 of 4: 33.3 % of all results are at or below it.")
        self.assertEqual(self.js("return document.querySelectorAll('#chart .mark-yours').length"), 1)
        self.js("window.csv = null; const make = URL.createObjectURL;"
                "URL.createObjectURL = (blob) => { blob.text().then((t) => { window.csv = t; }); return make(blob); };"
                "document.getElementById('export').click()")
        self.wait("window.csv !== null")
        self.assertEqual(self.js("return window.csv"), "Number,Name,OS,Processor,Score,Rank,Percentile\r\n"
                         "1,José Müller,Win XP,Pentium® 4 – 2.4 GHz,12345,2,66.6\r\n"
                         "3,easter egg,Win Blackcomb,Athlon XP,987654321,1,100\r\n")


if __name__ == "__main__":
    unittest.main(verbosity=2)
