#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Validates sdsmart JSON documents against the installed schemas.

Usage: validate_json.py SCHEMA_DIR KIND=FILE...   (KIND: card, scan or all)

Every document must be valid, with its keys in the order of the schema's
properties (a property's own schema first, then the one it refers to). The
first card document that holds a card, and the first document of --all with a
device, are then broken in a few ways, and each broken copy must be refused.
Exit status 0 when all is as expected, 1 otherwise, 77 without jsonschema.
"""
import copy
import json
import pathlib
import sys
import urllib.parse

try:
    import jsonschema
except ImportError:
    print("python3-jsonschema is not installed: skipped")
    sys.exit(77)

SCHEMAS = {
    "card": "sdsmart-card.schema.json",
    "scan": "sdsmart-scan.schema.json",
    "all": "sdsmart-all.schema.json",
    "history": "sdsmart-history.schema.json",
}


def validators(schema_dir):
    # Each schema is known by its $id, which its relative references resolve
    # against: a current jsonschema through a registry, Debian's older one
    # through RefResolver's store.
    store, out = {}, {}
    for kind, name in SCHEMAS.items():
        schema = json.loads((schema_dir / name).read_text())
        store[schema["$id"]] = schema
    try:
        import referencing
        import referencing.jsonschema

        registry = referencing.Registry().with_resources(
            (uri, referencing.jsonschema.DRAFT202012.create_resource(schema))
            for uri, schema in store.items())

        def make(uri, schema):
            return jsonschema.Draft202012Validator(schema, registry=registry)
    except ImportError:
        def make(uri, schema):
            resolver = jsonschema.RefResolver(uri, schema, store=store)
            return jsonschema.Draft202012Validator(schema, resolver=resolver)
    for kind, name in SCHEMAS.items():
        uri = json.loads((schema_dir / name).read_text())["$id"]
        jsonschema.Draft202012Validator.check_schema(store[uri])
        out[kind] = (make(uri, store[uri]), uri)
    return out, store


def resolve(base, ref, store):
    uri = urllib.parse.urljoin(base, ref)
    document, _, pointer = uri.partition("#")
    node = store[document]
    for part in pointer.split("/")[1:]:
        node = node[part]
    return document, node


def order_faults(doc, schema, base, store, path="$"):
    """Places where the document's keys leave the order of the schema's."""
    props, items = {}, None
    while True:
        for key, sub in schema.get("properties", {}).items():
            props.setdefault(key, (sub, base))
        if items is None and "items" in schema:
            items = (schema["items"], base)
        if "$ref" not in schema:
            break
        base, schema = resolve(base, schema["$ref"], store)
    faults = []
    if isinstance(doc, dict):
        rank = list(props)
        known = [key for key in doc if key in props]
        if known != sorted(known, key=rank.index):
            faults.append(f"{path}: keys in the order {known}, not as in {rank}")
        for key in known:
            faults += order_faults(doc[key], *props[key], store, f"{path}.{key}")
    elif isinstance(doc, list) and items:
        for i, item in enumerate(doc):
            faults += order_faults(item, *items, store, f"{path}[{i}]")
    return faults


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
    check, store = validators(pathlib.Path(argv[1]))
    failures = 0
    full, several = None, None
    for arg in argv[2:]:
        kind, _, name = arg.partition("=")
        doc = json.loads(pathlib.Path(name).read_text())
        validator, uri = check[kind]
        problems = [f"{e.json_path}: {e.message}" for e in validator.iter_errors(doc)]
        problems += order_faults(doc, store[uri], uri, store)
        if next(iter(doc), None) != "json_format_version":
            problems.append("json_format_version is not the first key")
        for p in problems:
            print(f"{name}: {p}")
        failures += bool(problems)
        if kind == "card" and "card" in doc and full is None:
            full = doc
        if kind == "all" and doc["devices"] and several is None:
            several = doc
    broken = []
    if full:
        broken += [
            ("card", "json_format_version missing", drop(full, "json_format_version")),
            ("card", "life missing after an acquisition", drop(full, "life")),
            ("card", "a register copy missing", drop(full, "card", "cid")),
            ("card", "an unknown verdict", with_value(full, "GOOD", "smart_status", "verdict")),
            ("card", "an unknown key", with_value(full, 1, "ecc", "corrected")),
            ("card", "format version 2", with_value(full, [2, 0], "json_format_version")),
        ]
    if several:
        broken += [
            ("all", "a device without its run", drop(several, "devices", 0, "sdsmart")),
            ("all", "an unknown key in a device", with_value(several, 1, "devices", 0, "x")),
        ]
    for kind, what, doc in broken:
        if check[kind][0].is_valid(doc):
            print(f"accepted although {what}")
            failures += 1
    print(f"{len(argv) - 2} documents checked, {len(broken)} broken copies refused"
          if not failures else f"{failures} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
