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
from selenium.webdriver.support.ui import WebDriverWait

SOURCE = os.path.abspath(os.environ.get("VANTREL_SOURCE_DIR") or os.path.join(os.path.dirname(__file__), "..", ".."))
HOST_TOOL = os.path.join(SOURCE, "tools", "results-host")
PAGE = os.path.join(SOURCE, "web")
BROWSER_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync"]


def record(name, os_name, processor, score, email="someone@example.org"):
    out = b""
    for text in (name, email, os_name, processor):
        data = text.encode("cp1252")
        out += struct.pack("<i", len(data)) + data
    return out + struct.pack("<d", score)


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
        self.process = subprocess.Popen(
            ["/usr/bin/python3", HOST_TOOL, "--root", self.root, "--history", os.path.join(self.dir, "history"),
             "--page", PAGE, "--http-port", "0", "--ftp-port", "0", "--exit-with-parent"],
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

    def stop(self):
        if self.process:
            self.process.terminate()
            self.process.wait(10)
            self.process.stdout.close()
            self.process.stderr.close()
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

    def open(self, data, fragment=""):
        self.host.put(data)
        self.browser.get("about:blank")
        self.browser.get(self.host.url + fragment)
        WebDriverWait(self.browser, 10, poll_frequency=0.05).until(
            lambda b: b.execute_script("return document.documentElement.dataset.loaded !== undefined"))

    def js(self, script, *args):
        return self.browser.execute_script(script, *args)

    def rows(self):
        return self.js("return [...document.querySelectorAll('#results tbody tr:not(.spacer)')]"
                       ".map(r => [...r.cells].map(c => (c.querySelector('.main') ?? c).textContent))")

    def assert_no_console_errors(self):
        errors = [e["message"] for e in self.browser.get_log("browser") if e["level"] == "SEVERE"
                  and "favicon" not in e["message"]]
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


if __name__ == "__main__":
    unittest.main(verbosity=2)
