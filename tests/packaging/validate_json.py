#!/usr/bin/python3
"""Validates sdsmart JSON documents against the installed schemas.

Usage: validate_json.py SCHEMA_DIR KIND=FILE...   (KIND: card or scan)

Every document must be valid. The first card document that holds a card is
then broken in a few ways, and each broken copy must be refused.
Exit status 0 when all is as expected, 1 otherwise, 77 without jsonschema.
"""
import copy
import json
import pathlib
import sys

try:
    import jsonschema
except ImportError:
    print("python3-jsonschema is not installed: skipped")
    sys.exit(77)

SCHEMAS = {"card": "sdsmart-card.schema.json", "scan": "sdsmart-scan.schema.json"}


def validators(schema_dir):
    # The scan schema refers to the card schema by its file name, so every
    # schema is known under the URI of the file it was read from.
    store, out = {}, {}
    for kind, name in SCHEMAS.items():
        path = (schema_dir / name).resolve()
        store[path.as_uri()] = json.loads(path.read_text())
    for kind, name in SCHEMAS.items():
        uri = (schema_dir / name).resolve().as_uri()
        schema = store[uri]
        jsonschema.Draft202012Validator.check_schema(schema)
        resolver = jsonschema.RefResolver(uri, schema, store=store)
        out[kind] = jsonschema.Draft202012Validator(schema, resolver=resolver)
    return out


def drop(doc, *path):
    broken = copy.deepcopy(doc)
    node = broken
    for key in path[:-1]:
        node = node[key]
    del node[path[-1]]
    return broken


def with_value(doc, value, *path):
    broken = copy.deepcopy(doc)
    node = broken
    for key in path[:-1]:
        node = node[key]
    node[path[-1]] = value
    return broken


def main(argv):
    check = validators(pathlib.Path(argv[1]))
    failures = 0
    full = None
    for arg in argv[2:]:
        kind, _, name = arg.partition("=")
        doc = json.loads(pathlib.Path(name).read_text())
        errors = list(check[kind].iter_errors(doc))
        for e in errors:
            print(f"{name}: {e.json_path}: {e.message}")
        failures += bool(errors)
        if kind == "card" and "card" in doc and full is None:
            full = doc
    if full is None:
        print("no card document with a card among the arguments")
        return 1
    broken = [
        ("json_format_version missing", drop(full, "json_format_version")),
        ("life missing after an acquisition", drop(full, "life")),
        ("a register copy missing", drop(full, "card", "cid")),
        ("an unknown verdict", with_value(full, "GOOD", "smart_status", "verdict")),
        ("an unknown key", with_value(full, 1, "ecc", "corrected")),
        ("format version 2", with_value(full, [2, 0], "json_format_version")),
    ]
    for what, doc in broken:
        if check["card"].is_valid(doc):
            print(f"accepted although {what}")
            failures += 1
    print(f"{len(argv) - 2} documents checked, {len(broken)} broken copies refused"
          if not failures else f"{failures} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
