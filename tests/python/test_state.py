# SPDX-License-Identifier: MIT
"""The history and forecast the tool itself wrote, read from its state
folder."""

import unittest

import sdsmart
from support import DAY, NOW, ScratchTest


class StateFolder(ScratchTest):
    def setUp(self):
        super().setUp()
        # Two runs a day apart; the second reads the header alone.
        self.first = sdsmart.read_card("/dev/sdx", **self.module_args(["usb"]))
        self.second = sdsmart.read_card("/dev/sdx", select=0,
                                        **self.module_args(["usb"], now=NOW + DAY))
        self.id = self.second.card_id

    def test_history_holds_each_reading_as_the_tool_reported_it(self):
        history = sdsmart.read_history(self.id, self.state)
        self.assertEqual((len(history.readings), history.skipped), (2, 0))
        for reading, report, time in zip(history.readings, [self.first, self.second],
                                         [NOW, NOW + DAY]):
            self.assertEqual(
                (reading.time, reading.remaining_percent, reading.erase_total,
                 reading.ecc_uncorrectable, reading.verdict),
                (time, report.life.remaining_percent, report.erase_count.total,
                 report.ecc.uncorrectable, report.verdict))
        # Read by the first run, not by the second.
        self.assertEqual([r.ecc_uncorrectable for r in history.readings], [0, None])

    def test_the_card_state_holds_the_last_runs_forecast(self):
        self.assertEqual(sdsmart.known_cards(self.state), [self.id])
        for report in [sdsmart.card_state(self.id, self.state),
                       sdsmart.latest("/dev/sdx", self.state)]:
            self.assertEqual(report.forecast, self.second.forecast)
            self.assertEqual(report.sdsmart.argv, self.second.sdsmart.argv)
        self.assertEqual((self.second.forecast.readings, self.second.forecast.days), (2, 1.0))

    def test_lines_that_are_no_reading_are_skipped_and_counted(self):
        history = sdsmart.read_history(self.id, self.state)
        with open(history.path, "a") as f:
            f.write('garbage\n{"time": "today"}\n\n{"time": 1800000001, "remaining_perc\n')
        again = sdsmart.read_history(self.id, self.state)
        self.assertEqual((again.readings, again.skipped), (history.readings, 3))

    def test_a_card_without_state(self):
        self.assertEqual(sdsmart.read_history("00" * 16, self.state).readings, [])
        with self.assertRaises(sdsmart.SdsmartError):
            sdsmart.card_state("00" * 16, self.state)


if __name__ == "__main__":
    unittest.main()
