# SPDX-License-Identifier: MIT
"""python3 -m sdsmart: one line per card and the tool's exit status."""

import json
import os
import subprocess
import sys
import unittest

from support import DAY, NOW, TOOL, ScratchTest, under_cards


class Summary(ScratchTest):
    def summary(self, cards, now=NOW):
        run = subprocess.run(under_cards(cards, now=now) +
                             [sys.executable, "-m", "sdsmart", "--program", TOOL, "--config",
                              self.config, "--state-dir", self.state],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                             timeout=300)
        return run.stdout.splitlines(), run.returncode

    def test_a_failed_card_is_a_line_and_sets_the_status(self):
        cards = [self.foreign_card(), "native"]
        expected, status = self.tool(cards, "--all", "--json", state=self.folder("tool"))
        foreign, native = expected["devices"]
        lines, code = self.summary(cards)
        self.assertEqual(lines, [
            "/dev/sdx - not read: library error {code}: {message}".format(**foreign["error"]),
            "/dev/mmcblk7 {} {} life {:.2f} %".format(native["forecast"]["card_id"],
                                                     native["smart_status"]["verdict"],
                                                     native["life"]["remaining_percent"])])
        self.assertEqual(code, status)
        self.assertTrue(code & 4)

    def test_life_not_read_and_the_forecast_end(self):
        # The reader card wears over three weeks: its forecast dates the
        # end; the native card's rating is 0, so its life is not known.
        unrated = self.variant("native", "unrated", PECycleCount=0)
        for week in range(3):
            worn = self.variant("usb", f"worn{week}", EraseCountOffset=300 * week)
            lines, code = self.summary([worn, unrated], now=NOW + 7 * week * DAY)
        state = {}
        for name in os.listdir(os.path.join(self.state, "latest")):
            with open(os.path.join(self.state, "latest", name)) as f:
                state[name] = json.load(f)
        sdx, mmc = state["sdx.json"], state["mmcblk7.json"]
        self.assertIsNotNone(sdx["forecast"]["limit_date"])
        self.assertIsNone(mmc["life"]["remaining_percent"])
        self.assertEqual(lines, [
            "/dev/sdx {} PASSED life {:.2f} % forecast end {}".format(
                sdx["forecast"]["card_id"], sdx["life"]["remaining_percent"],
                sdx["forecast"]["limit_date"]),
            "/dev/mmcblk7 {} WARNING life not read".format(mmc["forecast"]["card_id"])])
        self.assertEqual(code, 16)


if __name__ == "__main__":
    unittest.main()
