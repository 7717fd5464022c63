"""The results host's parts, imported and driven without a process: the record codec and the checks a new record
must pass, Range parsing, and the log of the shared file's lengths.

Run by ctest with /usr/bin/python3."""

import os
import shutil
import struct
import tempfile
import unittest

from results_host_fixture import TOOLS, record  # also puts tools/ on the path for the package
from results_host.history import SharedFile
from results_host.records import (NO_RECORD, WHOLE_RECORDS, Refusal, check_new_records, decode_records,
                                  encode_record, whole_records_end)
from results_host.web import UNSATISFIABLE, parse_range

GOLDEN = os.path.join(TOOLS, "..", "tests", "data", "submit")
# The records of three_records.bin, as the program holds them (tests/core/results/test_results_file.cpp).
THREE = [("José Müller", "", "Win XP", "Pentium® 4 – 2.4 GHz", 12345.0),
         ("€uro\u0081", "zöe@example.org", "Win 98", "K6-2 “333”", 4711.0),
         ("easter egg", "a@b.c", "Win Blackcomb", "Athlon XP", 987654321.0)]


def golden(name):
    with open(os.path.join(GOLDEN, name), "rb") as f:
        return f.read()


class RecordsTest(unittest.TestCase):
    def test_the_encoder_writes_what_the_program_writes_and_the_decoder_reads_it_back(self):
        three = golden("three_records.bin")
        self.assertEqual(encode_record("abc", "", "Win 98", "x", 1.5), golden("example_record.bin"))
        self.assertEqual(b"".join(encode_record(*r) for r in THREE), three)
        self.assertEqual(b"".join(encode_record(*r) for r in decode_records(three)), three)
        # Every cut keeps the whole records before it, in the host's scan and in the decoder.
        ends = [0, 61, 121, 182]
        for cut in range(len(three) + 1):
            kept = max(end for end in ends if end <= cut)
            self.assertEqual(whole_records_end(three, 0, cut), kept, cut)
            if cut != kept:
                self.assertRaises(ValueError, decode_records, three[:cut])

    def test_only_whole_sane_records_are_taken(self):
        cases = [
            (record("x" * 300, email="y" * 300), None),
            (record("A") + record("B"), None),
            (b"", NO_RECORD),
            (record("A") + record("B")[:-1], WHOLE_RECORDS),
            (struct.pack("<i", -4) + bytes(4), "name has a negative length"),
            (record("A", email="y" * 301), "e-mail address is 301 bytes long"),
            (record("A", float("inf")), "score is not a finite number"),
            (record("A", float("nan")), "score is not a finite number"),
        ]
        for data, refused in cases:
            with self.subTest(data=data[:12], refused=refused):
                if refused is None:
                    check_new_records(data)
                else:
                    with self.assertRaises(Refusal) as caught:
                        check_new_records(data)
                    self.assertIn(refused, str(caught.exception))


class RangeTest(unittest.TestCase):
    def test_one_byte_range_or_the_whole_file(self):
        cases = [
            ("bytes=0-0", 10, (0, 0)),
            ("BYTES = 2 - 4", 10, (2, 4)),
            ("bytes=-3", 10, (7, 9)),
            ("bytes=9-", 10, (9, 9)),
            ("bytes=10-", 10, UNSATISFIABLE),
            ("bytes=0-", 0, UNSATISFIABLE),
            ("bytes=-1", 0, UNSATISFIABLE),
            ("bytes=1234567890123456789-", 10, None),  # more digits than a file size has
            ("bytes=-", 10, None),
            ("bytes=5", 10, None),
            ("bytes=a-b", 10, None),
            ("", 10, None),
        ]
        for header, size, expected in cases:
            with self.subTest(header=header, size=size):
                self.assertEqual(parse_range(header, size), expected)


class HistoryTest(unittest.TestCase):
    def setUp(self):
        folder = tempfile.mkdtemp(prefix="results-host-units-")
        self.addCleanup(shutil.rmtree, folder)
        os.mkdir(os.path.join(folder, "data"))
        self.shared = SharedFile(os.path.join(folder, "data"), os.path.join(folder, "history"), quota=0)

    def add(self, data):
        aside = self.shared.new_aside()
        with open(aside, "wb") as f:
            f.write(data)
        return self.shared.append(aside, "127.0.0.9")

    def test_each_change_is_a_version_and_a_torn_last_line_is_no_version(self):
        first, second = record("Ann", 1234), record("Bob", 98765)
        self.assertEqual(self.add(first), (0, len(first)))
        with open(self.shared.log.path, "ab") as log:
            log.write(b"20261207-093012.123456 127.0.0.8 61 9")  # cut short by a crash
        self.assertEqual([(e.old, e.new) for e in self.shared.log.entries()], [(0, len(first))])
        self.assertEqual(self.add(second), (len(first), len(second)))
        whole = len(first + second)
        self.assertEqual([(e.address, e.old, e.new) for e in self.shared.log.entries()],
                         [("127.0.0.9", 0, len(first)), ("127.0.0.9", len(first), whole)])
        listed = "\n".join(self.shared.versions())
        self.assertRegex(listed, r" %d +\+%d +127\.0\.0\.9\n" % (whole, len(second)))

        self.assertIn("cut", self.shared.restore(str(len(first))))
        with open(self.shared.path, "rb") as f:
            self.assertEqual(f.read(), first)
        self.assertEqual(self.shared.log.entries()[-1][1:4], ("restore", whole, len(first)))
        self.assertRaises(ValueError, self.shared.restore, "999")


if __name__ == "__main__":
    unittest.main()
