"""What the results host's web server serves: the shared file, whole or a range of it, and the results page beside
it; nothing else of the data folder, and every answer with the page's security headers.

Run by ctest with /usr/bin/python3; starts tools/results-host on free loopback ports with temporary folders."""

import os
import shutil
import tempfile
import unittest

from results_host_fixture import Host

DATA = bytes(range(256)) * 4
POLICY = "default-src 'none'; script-src 'self'"


class WebTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.page = tempfile.mkdtemp(prefix="results-host-page-")
        for name, text in (("index.html", "<p>page</p>"), ("app.js", "run()"), ("lib/style.css", "p{}"),
                           ("notes.md", "#"), (".hidden.js", "x")):
            os.makedirs(os.path.dirname(os.path.join(cls.page, name)), exist_ok=True)
            with open(os.path.join(cls.page, name), "w") as f:
                f.write(text)
        cls.host = Host("--page", cls.page)
        cls.host.put(DATA)
        for name in ("other.bin", "index.html"):
            with open(os.path.join(cls.host.root, name), "w") as f:
                f.write("not served")
        os.symlink(os.path.join(cls.host.root, "other.bin"), os.path.join(cls.page, "escape.js"))

    @classmethod
    def tearDownClass(cls):
        cls.host.close()
        shutil.rmtree(cls.page)

    def test_ranges_of_the_shared_file(self):
        cases = [
            ("bytes=1000-", 206, DATA[1000:], "bytes 1000-1023/1024"),
            ("bytes=10-19", 206, DATA[10:20], "bytes 10-19/1024"),
            ("bytes=1000-5000", 206, DATA[1000:], "bytes 1000-1023/1024"),
            ("bytes=-24", 206, DATA[1000:], "bytes 1000-1023/1024"),
            ("bytes=-5000", 206, DATA, "bytes 0-1023/1024"),
            ("bytes=1024-", 416, b"", "bytes */1024"),
            ("bytes=-0", 416, b"", "bytes */1024"),
            (None, 200, DATA, None),
            ("bytes=5-1", 200, DATA, None),
            ("bytes=0-1,5-6", 200, DATA, None),
            ("lines=0-1", 200, DATA, None),
        ]
        for wanted, status, body, content_range in cases:
            for method in ("GET", "HEAD"):
                with self.subTest(wanted=wanted, method=method):
                    answer = self.host.get("/vantrel/Compare.Zip", {"Range": wanted} if wanted else {}, method)
                    self.assertEqual(answer[0], status)
                    self.assertEqual(answer[2], body if method == "GET" else b"")
                    self.assertEqual(answer[1]["Content-Length"], str(len(body)))
                    self.assertEqual(answer[1]["Content-Range"], content_range)
                    self.assertEqual(answer[1]["Accept-Ranges"], "bytes")
                    self.assertEqual(answer[1]["Cache-Control"], "no-cache")

    def test_only_the_shared_file_and_the_page_are_served(self):
        cases = [
            ("/vantrel/COMPARE.ZIP", 200, "application/octet-stream", DATA),
            ("/vantrel/", 200, "text/html; charset=utf-8", b"<p>page</p>"),
            ("/VANTREL/app.js", 200, "text/javascript; charset=utf-8", b"run()"),
            ("/vantrel/lib/style.css", 200, "text/css; charset=utf-8", b"p{}"),
            ("/vantrel/other.bin", 404, "text/html", None),
            ("/vantrel/index.HTML", 404, "text/html", None),
            ("/vantrel/notes.md", 404, "text/html", None),
            ("/vantrel/.hidden.js", 404, "text/html", None),
            ("/vantrel/escape.js", 404, "text/html", None),
            ("/vantrel/lib/../../data/other.bin", 404, "text/html", None),
            ("/vantrel/%2e%2e/data/compare.zip", 404, "text/html", None),
            ("/compare.zip", 404, "text/html", None),
            ("/", 301, "text/html", b""),
        ]
        for path, status, kind, body in cases:
            with self.subTest(path):
                answer = self.host.get(path)
                self.assertEqual(answer[0], status)
                self.assertEqual(answer[1]["Content-Type"], kind)
                if body is not None:
                    self.assertEqual(answer[2], body)
                else:
                    self.assertTrue(answer[2].startswith(b"<HTML><HEAD><TITLE>404"), answer[2])
                self.assertTrue(answer[1]["Content-Security-Policy"].startswith(POLICY))
                self.assertEqual(answer[1]["X-Content-Type-Options"], "nosniff")


if __name__ == "__main__":
    unittest.main()
