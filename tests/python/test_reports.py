# SPDX-License-Identifier: MIT
"""read_card and read_all give what the tool's own document says."""

import os
import unittest

import sdsmart
from support import ScratchTest, argv_of, node

SAMPLES = ["usb", "native", "native_sdsc", "largest"]


class Reports(ScratchTest):
    def test_each_sample_card_mirrors_the_tools_document(self):
        for name in SAMPLES:
            with self.subTest(card=name):
                expected, status = self.tool([name], "--json", node(name),
                                             state=self.folder("tool-" + name))
                report = sdsmart.read_card(node(name), **self.module_args([name]))
                self.assertIsNotNone(report.card)
                self.assertEqual(report.exit_status, status)
                self.assertMirrors(report, argv_of(expected, report))

    def test_every_card_of_the_host_mirrors_the_tools_document(self):
        expected, status = self.tool(SAMPLES, "--all", "--json", state=self.folder("tool"))
        result = sdsmart.read_all(**self.module_args(SAMPLES))
        self.assertMirrors(result, argv_of(expected, result))
        self.assertEqual((result.exit_status, len(result.cards), result.failures),
                         (status, len(SAMPLES), []))

    def test_the_default_limit_of_read_all_waits_for_every_wave_of_jobs(self):
        from sdsmart.run import DEFAULT_TIMEOUT, _card_timeout, _waves
        args = self.module_args(SAMPLES)
        # (candidates, jobs): waves of one card's time; the scan counts the cards.
        for given, jobs, waves in (((), None, 1), (("a", "b", "c"), 2, 2),
                                   ((), 1, len(SAMPLES)), ((), 3, 2)):
            with self.subTest(candidates=given, jobs=jobs):
                self.assertEqual(_waves(given, jobs, args["program"], args["prefix"]), waves)
        for extra, seconds in (((), DEFAULT_TIMEOUT), (("--timeout", "600"), 630),
                               (("--jobs", "2", "--timeout=10"), 40)):
            self.assertEqual(_card_timeout(extra), seconds, extra)

    def test_a_selection_leaves_its_values_none(self):
        # Select 0 reads the header alone: no table, no run-time status.
        expected, _ = self.tool(["usb"], "--json", "--select", "0", "/dev/sdx",
                                state=self.folder("tool"))
        report = sdsmart.read_card("/dev/sdx", select=0, **self.module_args(["usb"]))
        self.assertMirrors(report, argv_of(expected, report))
        unread = [report.ecc.uncorrectable, report.erase_count.min, report.erase_count.max,
                  report.erase_count.distribution, report.per_vb_erase_counts,
                  report.per_vb_read_counts]
        self.assertEqual(unread, [None] * len(unread))
        self.assertIsNotNone(report.erase_count.total)
        self.assertIn("uncorrectable ECC errors (select bit 4)", report.smart_status.not_read)


class Failures(ScratchTest):
    def test_a_failed_card_raises_the_librarys_code_and_message(self):
        expected, status = self.tool(["usb"], "--json", "/dev/sdx", sim=["--fail", "3"],
                                     state=self.folder("tool"))
        with self.assertRaises(sdsmart.SdsmartError) as caught:
            sdsmart.read_card("/dev/sdx", **self.module_args(["usb"], sim=["--fail", "3"]))
        e = caught.exception
        self.assertIsNotNone(e.code)
        self.assertEqual((e.code, e.message, e.device, e.exit_status),
                         (expected["error"]["code"], expected["error"]["message"], "/dev/sdx",
                          status))
        self.assertTrue(status & sdsmart.EXIT_ACQUISITION)

    def test_a_device_that_does_not_open_raises_the_tools_message(self):
        with self.assertRaises(sdsmart.SdsmartError) as caught:
            sdsmart.read_card("/dev/sdq", **self.module_args(["usb"]))
        e = caught.exception
        self.assertEqual((e.code, e.device, e.exit_status), (None, "/dev/sdq",
                                                             sdsmart.EXIT_OPEN_FAILED))
        self.assertIn("no such device", e.message)

    def test_a_failed_card_of_several_leaves_the_others_read(self):
        cards = [self.foreign_card(), "native"]
        expected, status = self.tool(cards, "--all", "--json", state=self.folder("tool"))
        result = sdsmart.read_all(**self.module_args(cards))
        self.assertMirrors(result, argv_of(expected, result))
        self.assertEqual([r.device.name for r in result.cards], ["/dev/mmcblk7"])
        [e] = result.failures
        self.assertEqual((e.code, e.message, e.device, e.exit_status),
                         (expected["devices"][0]["error"]["code"],
                          expected["devices"][0]["error"]["message"], "/dev/sdx",
                          expected["devices"][0]["sdsmart"]["exit_status"]))
        self.assertEqual(result.exit_status, status)

    def test_a_tool_without_a_document_is_an_error(self):
        cases = [
            ("no program", lambda: sdsmart.read_all(program=os.path.join(self.dir, "none")), None),
            ("no JSON", lambda: sdsmart.read_all(program="true"), 0),
            ("no end", lambda: sdsmart.run_tool(["60"], program="sleep", timeout=0.2), None),
        ]
        later = os.path.join(self.dir, "later")
        with open(later, "w") as f:
            f.write("#!/bin/sh\necho '{\"json_format_version\": [2, 0], \"sdsmart\": {}}'\n")
        os.chmod(later, 0o755)
        cases.append(("a later format", lambda: sdsmart.read_card("/dev/sdx", program=later), 0))
        for what, run, status in cases:
            with self.subTest(what), self.assertRaises(sdsmart.ToolError) as caught:
                run()
            self.assertEqual((caught.exception.code, caught.exception.exit_status), (None, status))


if __name__ == "__main__":
    unittest.main()
