#!/usr/bin/env python3
"""Writes property lists with another implementation (Python's plistlib),
for the tests that check that ours reads what others write. Run it from this
folder; the files it writes are kept in the repository."""
import datetime
import plistlib

edge = {
    "UInt64Max": 18446744073709551615,
    "TwoTo63": 9223372036854775808,
    "Int64Min": -9223372036854775808,
    "Negative": -1,
    "Dates": [
        datetime.datetime(1900, 1, 1),
        datetime.datetime(2100, 1, 1),
        datetime.datetime(1, 1, 1),
        datetime.datetime(9999, 12, 31, 23, 59, 59),
    ],
    "Text": "Z\u00fcrich \u2013 \u6771\u4eac \U0001F680 & <tag>",
    "Reals": [0.1, 1e300, -2.5, float("inf")],
    "Bytes": bytes(range(256)),
    "Empty": {"Array": [], "Dictionary": {}, "String": ""},
    "Yes": True,
    "No": False,
}

with open("python-edge.xml", "wb") as f:
    plistlib.dump(edge, f, fmt=plistlib.FMT_XML, sort_keys=True)

binary = dict(edge)
# What only the binary format carries: a fraction of a second (here before
# the reference date 2001) and a keyed archive's UID.
binary["Fraction"] = datetime.datetime(2000, 12, 31, 23, 59, 59, 500000)
binary["Archive"] = {"$objects": [plistlib.UID(0), "x"], "$top": {"root": plistlib.UID(1)}}
with open("python-edge.binary", "wb") as f:
    plistlib.dump(binary, f, fmt=plistlib.FMT_BINARY, sort_keys=True)

# UTF-16 with a byte-order mark, as some editors save a file.
xml = plistlib.dumps({"Name": "\u00e9t\u00e9", "Count": 3}, fmt=plistlib.FMT_XML).decode("utf-8")
xml = xml.replace('encoding="UTF-8"', 'encoding="UTF-16"')
with open("utf16-bom.xml", "wb") as f:
    f.write(xml.encode("utf-16"))
