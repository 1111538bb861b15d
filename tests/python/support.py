# SPDX-License-Identifier: MIT
"""What the Python tests share: the build's programs, a scratch folder with
the demo configuration, runs of the tool under the virtual card, and the
check that a result mirrors the tool's document."""

import dataclasses
import json
import os
import shutil
import subprocess
import tempfile
import unittest

BUILD = os.environ["SDSMART_BINARY_DIR"]
SOURCE = os.environ["SDSMART_SOURCE_DIR"]
SIM = os.path.join(BUILD, "bin", "sdsim")
TOOL = os.path.join(BUILD, "bin", "sdsmart")
CARDS = os.path.join(SOURCE, "sim", "cards")
DAY = 86400
NOW = 1800000000  # the virtual card's clock


def card_file(name):
    """A sample card by name, or a card file by path."""
    return name if os.path.isabs(name) else os.path.join(CARDS, name + ".json")


def node(name):
    with open(card_file(name)) as f:
        return json.load(f)["node"]


def under_cards(cards, *options, now=NOW):
    """sdsim --card FILE... OPTIONS --now NOW --: the words before a program."""
    words = [SIM]
    for c in cards:
        words += ["--card", card_file(c)]
    return words + list(options) + ["--now", str(now), "--"]


class ScratchTest(unittest.TestCase):
    """A scratch folder with the demo configuration and a state folder."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="sdsmart-py-")
        self.addCleanup(shutil.rmtree, self.dir)
        self.config = os.path.join(self.dir, "config")
        shutil.copy(os.path.join(BUILD, "demo", "config"), self.config)
        self.state = self.folder("state")

    def variant(self, base, name, entry=None, **header):
        """A copy of sample card base with another entry string or header
        fields, as scratch file name.json."""
        with open(card_file(base)) as f:
            card = json.load(f)
        card["entry"] = entry or card["entry"]
        card.setdefault("header", {}).update(header)
        path = os.path.join(self.dir, name + ".json")
        with open(path, "w") as f:
            json.dump(card, f)
        return path

    def foreign_card(self):
        """The reader card with an entry string the configuration does not
        name: it answers no SMART header."""
        return self.variant("usb", "foreign", entry="OTHERENT")

    def folder(self, name):
        path = os.path.join(self.dir, name)
        os.mkdir(path)
        return path

    def tool(self, cards, *args, state=None, sim=(), now=NOW):
        """The tool's own document and exit status: sdsim ... -- sdsmart ARGS."""
        run = subprocess.run(under_cards(cards, *sim, now=now) +
                             [TOOL, "--config", self.config, "--state-dir", state or self.state,
                              *args], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                             timeout=300)
        return json.loads(run.stdout), run.returncode

    def module_args(self, cards, sim=(), now=NOW, state=None):
        """The keywords of read_card / read_all for the same run."""
        return dict(program=TOOL, prefix=under_cards(cards, *sim, now=now), config=self.config,
                    state_dir=state or self.state)

    def assertMirrors(self, value, document, where="document"):
        """value holds exactly the document: each key's value, None for a
        key the document lacks, and no key of the document left out."""
        if dataclasses.is_dataclass(value):
            self.assertIsInstance(document, dict, where)
            names = {f.name for f in dataclasses.fields(value)}
            self.assertEqual(set(document) - names, set(), where + ": keys not taken")
            for name in names:
                if name in document:
                    self.assertMirrors(getattr(value, name), document[name], where + "." + name)
                else:
                    self.assertIsNone(getattr(value, name), where + "." + name)
        elif isinstance(document, list):
            self.assertIsInstance(value, list, where)
            self.assertEqual(len(value), len(document), where)
            for i, (v, d) in enumerate(zip(value, document)):
                self.assertMirrors(v, d, f"{where}[{i}]")
        else:
            self.assertEqual((type(value), value), (type(document), document), where)


def argv_of(document, value):
    """The document with the command lines of value's runs, which name
    other scratch folders."""
    document = json.loads(json.dumps(document))
    document["sdsmart"]["argv"] = value.sdsmart.argv
    for d, v in zip(document.get("devices", []), getattr(value, "devices", None) or []):
        d["sdsmart"]["argv"] = v.sdsmart.argv
    return document
