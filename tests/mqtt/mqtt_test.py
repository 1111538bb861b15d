#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""contrib/mqtt/sdsmart-mqtt, run by the tool as its --on-change command with
--on-every-reading, against Debian's mosquitto broker started on a free
port (logins required), read back with mosquitto_sub.

Usage: mqtt_test.py BUILD_DIR SOURCE_DIR WORK_DIR BROKER_DIR. Exit status 77
(skipped) when the broker, mosquitto_sub or paho are missing."""

import json
import os
import shutil
import socket
import subprocess
import sys
import time
import unittest

BUILD, SRC, WORK, BROKER = sys.argv[1:5] if len(sys.argv) >= 5 else ("", "", "", "")
HOOK = os.path.join(SRC, "contrib/mqtt/sdsmart-mqtt")
NOW = 1800000000
DAY = 86400
USB, NATIVE, EMMC = "/dev/sdx", "/dev/mmcblk7", "/dev/mmcblk2"  # the sample cards' nodes
PUBLISHER, VIEWER = ("sdsmart", "pub-secret"), ("viewer", "view-secret")
# Where each state key's value lies in the card's report (its state file).
REPORT_PATHS = {
    "remaining_life": ("life", "remaining_percent"), "life_end": ("forecast", "limit_date"),
    "verdict": ("smart_status", "verdict"), "uncorrectable_ecc": ("ecc", "uncorrectable"),
    "average_erase_count": ("erase_count", "average"), "bad_blocks": ("blocks", "later_bad"),
    "power_cycles": ("power", "cycles"), "abnormal_shutdowns": ("power", "abnormal_shutdowns"),
}
# An eMMC's: its verdict and life estimate.
EMMC_PATHS = {
    "verdict": ("smart_status", "verdict"),
    "life_used_a": ("emmc", "life_time_a", "used_from_percent"),
    "life_used_b": ("emmc", "life_time_b", "used_from_percent"),
    "last_band_date": ("emmc", "history", "last_band_date"), "pre_eol": ("emmc", "pre_eol", "text"),
}


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Broker:
    """mosquitto on a free port of 127.0.0.1, no anonymous logins."""

    def __init__(self, folder):
        self.port = free_port()
        passwords = os.path.join(folder, "passwords")
        for i, (user, password) in enumerate((PUBLISHER, VIEWER)):
            subprocess.run([os.path.join(BROKER, "usr/bin/mosquitto_passwd")] +
                           (["-c"] if i == 0 else []) + ["-b", passwords, user, password],
                           check=True, timeout=30)
        config = os.path.join(folder, "mosquitto.conf")
        with open(config, "w") as f:
            f.write(f"listener {self.port} 127.0.0.1\nallow_anonymous false\n"
                    f"password_file {passwords}\npersistence false\n"
                    f"user {subprocess.run(['id', '-un'], capture_output=True, text=True).stdout}")
        self.log = open(os.path.join(folder, "mosquitto.log"), "w")
        self.proc = subprocess.Popen(["timeout", "--kill-after=10", "900",
                                      os.path.join(BROKER, "usr/sbin/mosquitto"), "-c", config],
                                     stdout=self.log, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 60
        while True:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                if self.proc.poll() is not None or time.monotonic() > deadline:
                    raise RuntimeError("mosquitto did not start (see %s)" % folder)
                time.sleep(0.1)

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=30)
        self.log.close()

    def retained(self):
        """topic -> payload of every retained message."""
        done = subprocess.run(["mosquitto_sub", "-h", "127.0.0.1", "-p", str(self.port),
                               "-u", VIEWER[0], "-P", VIEWER[1], "-t", "#", "-v",
                               "--retained-only", "-W", "2"],
                              capture_output=True, text=True, timeout=60)
        if done.returncode not in (0, 27):  # 27: its wait ended
            raise RuntimeError("mosquitto_sub: %d %s" % (done.returncode, done.stderr))
        return dict(line.split(" ", 1) for line in done.stdout.splitlines() if " " in line)


def at(report, path):
    for key in path:
        report = report[key]
    return report


class HomeAssistantTest(unittest.TestCase):
    def setUp(self):
        self.dir = os.path.join(WORK, self.id().rsplit(".", 1)[1])
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)
        self.state = os.path.join(self.dir, "state")
        self.broker = Broker(self.dir)
        self.addCleanup(self.broker.stop)
        with open(os.path.join(self.dir, "password"), "w") as f:
            f.write(PUBLISHER[1] + "\n")
        # The hook runs under the virtual card's preload, which in the
        # sanitized build carries the ASan runtime: Python's allocations
        # left at its exit are not the tool's to check for leaks.
        self.hook = os.path.join(self.dir, "hook")
        with open(self.hook, "w") as f:
            f.write('#!/bin/sh\nASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" '
                    f'exec {HOOK}\n')
        os.chmod(self.hook, 0o755)

    def hook_config(self, password_file=True, port=None):
        path = os.path.join(self.dir, "mqtt.conf")
        with open(path, "w") as f:
            f.write(f"[mqtt]\nhost = 127.0.0.1\nport = {port or self.broker.port}\n"
                    f"username = {PUBLISHER[0]}\ntimeout = 10\n" +
                    (f"password_file = {self.dir}/password\n" if password_file else ""))
        return path

    def card(self, sample, mean=None):
        with open(os.path.join(SRC, "sim/cards", sample + ".json")) as f:
            card = json.load(f)
        if mean:
            card["erase_counts"]["generate"]["mean"] = mean
        path = os.path.join(self.dir, "%s-%s.json" % (sample, mean))
        with open(path, "w") as f:
            json.dump(card, f)
        return path

    def run_tool(self, cards, devices, now=NOW, sim=(), **env):
        argv = [os.path.join(BUILD, "bin/sdsim"), "--now", str(now), *sim]
        for c in cards:
            argv += ["--card", c]
        argv += ["--", os.path.join(BUILD, "bin/sdsmart"), "--config",
                 os.path.join(BUILD, "demo/config"), "--state-dir", self.state,
                 "--on-change", self.hook, "--on-every-reading"]
        argv += ["--all", *devices] if len(devices) > 1 else devices
        environment = {k: v for k, v in os.environ.items() if not k.startswith("SDSMART_MQTT")}
        environment.update(env)
        done = subprocess.run(argv, capture_output=True, text=True, timeout=300, env=environment)
        return done.returncode, done.stderr

    def report(self, device):
        with open(os.path.join(self.state, "latest", device.rsplit("/", 1)[1] + ".json")) as f:
            return json.load(f)

    def assertPublished(self, retained, report, card_id=None, paths=REPORT_PATHS, name=None):
        """The card's discovery, state and availability as Home Assistant
        needs them, the state equal to the report."""
        card_id = card_id or report["forecast"]["card_id"]
        state = json.loads(retained["sdsmart/%s/state" % card_id])
        for key, path in paths.items():
            self.assertEqual(state[key], at(report, path), key)
            config = json.loads(
                retained["homeassistant/sensor/sdsmart_%s/%s/config" % (card_id, key)])
            self.assertEqual(config["unique_id"], "sdsmart_%s_%s" % (card_id, key))
            self.assertEqual(config["state_topic"], "sdsmart/%s/state" % card_id)
            self.assertEqual(config["device"]["identifiers"], ["sdsmart_" + card_id])
            self.assertIn(name or report["card"]["product_name"], config["device"]["name"])
            self.assertEqual(config["value_template"], "{{ value_json.%s }}" % key)
            self.assertEqual(config["availability_topic"], "sdsmart/%s/availability" % card_id)
        self.assertEqual(retained["sdsmart/%s/availability" % card_id], "online")

    def test_every_card_is_published_as_its_report_says(self):
        cards = [self.card("usb"), self.card("native")]
        code, err = self.run_tool(cards, [USB, NATIVE],
                                  SDSMART_MQTT_CONFIG=self.hook_config())
        self.assertEqual(code, 16, err)  # the native sample's WARNING
        retained = self.broker.retained()
        reports = [self.report(USB), self.report(NATIVE)]
        for report in reports:
            self.assertPublished(retained, report)
        ids = [json.loads(p)["unique_id"] for t, p in retained.items() if t.endswith("/config")]
        self.assertEqual(len(ids), len(set(ids)), "unique_id shared")
        self.assertEqual(len(ids), len(REPORT_PATHS) * len(reports))
        self.assertFalse([t for t in retained if "life_used" in t], "an eMMC's sensor on a card")

    def test_an_emmc_is_published_with_its_life_estimate(self):
        code, err = self.run_tool([os.path.join(SRC, "sim/cards/emmc.json")], [EMMC],
                                  SDSMART_MQTT_CONFIG=self.hook_config())
        self.assertEqual(code, 0, err)
        report = self.report(EMMC)
        card_id = os.path.basename(report["emmc"]["history"]["history_file"])[:-len(".jsonl")]
        retained = self.broker.retained()
        self.assertPublished(retained, report, card_id, EMMC_PATHS, "eMMC")
        # Only its own sensors: none of a card's values shown as unknown.
        configs = {t.split("/")[-2] for t in retained if t.endswith("/config")}
        self.assertEqual(configs, set(EMMC_PATHS))

    def test_a_refused_login_loses_nothing_and_the_next_run_publishes(self):
        config = self.hook_config(password_file=False)
        code, err = self.run_tool([self.card("usb", 150)], [USB], SDSMART_MQTT_CONFIG=config,
                                  SDSMART_MQTT_PASSWORD=PUBLISHER[1])
        self.assertEqual(code, 0, err)
        first = self.report(USB)
        # A later reading with more wear, to a broker that refuses the password.
        code, err = self.run_tool([self.card("usb", 900)], [USB], now=NOW + 2 * DAY,
                                  SDSMART_MQTT_CONFIG=config, SDSMART_MQTT_PASSWORD="wrong")
        self.assertEqual(code, 32, err)
        self.assertIn("refused the login of user sdsmart", err)
        second = self.report(USB)
        self.assertNotEqual(second["erase_count"]["average"], first["erase_count"]["average"])
        self.assertPublished(self.broker.retained(), first)
        code, err = self.run_tool([self.card("usb", 900)], [USB], now=NOW + 3 * DAY,
                                  SDSMART_MQTT_CONFIG=config, SDSMART_MQTT_PASSWORD=PUBLISHER[1])
        self.assertEqual(code, 0, err)
        self.assertPublished(self.broker.retained(), self.report(USB))

    def test_a_broker_that_is_down_is_said_and_the_reading_kept(self):
        code, err = self.run_tool([self.card("usb")], [USB],
                                  SDSMART_MQTT_CONFIG=self.hook_config(port=free_port()))
        self.assertEqual(code, 32, err)
        self.assertIn("cannot reach the MQTT broker 127.0.0.1:", err)
        self.assertEqual(self.report(USB)["smart_status"]["verdict"], "PASSED")
        self.assertEqual(self.broker.retained(), {})

    def test_a_card_that_could_not_be_read_is_unavailable(self):
        config = self.hook_config()
        card = self.card("usb")
        self.assertEqual(self.run_tool([card], [USB], SDSMART_MQTT_CONFIG=config)[0], 0)
        before = self.broker.retained()
        code, err = self.run_tool([card], [USB], sim=["--vanish", "1"],
                                  SDSMART_MQTT_CONFIG=config)
        self.assertEqual(code & 32, 0, err)  # the hook succeeded
        self.assertNotEqual(code, 0)
        card_id = self.report(USB)["forecast"]["card_id"]
        after = self.broker.retained()
        self.assertEqual(after["sdsmart/%s/availability" % card_id], "offline")
        # The last reading stays as it was.
        self.assertEqual(after["sdsmart/%s/state" % card_id], before["sdsmart/%s/state" % card_id])


if __name__ == "__main__":
    needed = [os.path.join(BROKER, "usr/sbin/mosquitto"), shutil.which("mosquitto_sub")]
    with open(HOOK) as f:  # paho, for the hook's own interpreter
        interpreter = f.readline()[2:].strip()
    if subprocess.run([interpreter, "-c", "import paho.mqtt.client"],
                      stderr=subprocess.DEVNULL).returncode != 0:
        needed.append(None)
    if not all(p and os.access(p, os.X_OK) for p in needed):
        print("the broker, mosquitto_sub or paho is missing: skipped")
        sys.exit(77)
    unittest.main(argv=sys.argv[:1] + sys.argv[5:], verbosity=2)
