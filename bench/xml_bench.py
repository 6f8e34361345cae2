#!/usr/bin/env python3
"""The XML export done with Python's xml.etree.ElementTree, for comparison with xml_bench.

    bench/xml_bench.py [RECORDS]      (default 400000)

Builds the same records as xml_bench (the same octet formula), then times building the
same tree (list / element / m, g / element), ElementTree.indent(root, "  "),
tostring(root, encoding="unicode") and dropping the tree, and prints wall and CPU time in
xml_bench's format.
"""
import sys
import time
import xml.etree.ElementTree as ET


def octets(i):
    return ((i * 7 + 13) % 256, (i * 31 + 7) % 256, (i // 256) % 256, i % 256)


def build_records(count):
    records = []
    for i in range(count):
        groups = [str(octet) for octet in octets(i)]
        records.append((".".join(groups), groups))
    return records


def build_tree(records):
    root = ET.Element("list")
    sub = ET.SubElement
    for match, groups in records:
        element = sub(root, "element")
        sub(element, "m").text = match
        g = sub(element, "g")
        for group in groups:
            sub(g, "element").text = group
    return root


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 400000
    records = build_records(count)
    laps = [(time.perf_counter(), time.process_time())]

    def lap():
        laps.append((time.perf_counter(), time.process_time()))
        (wall0, cpu0), (wall1, cpu1) = laps[-2], laps[-1]
        return f"{wall1 - wall0:.3f} s cpu {cpu1 - cpu0:.3f} s"

    root = build_tree(records)
    insert = lap()
    ET.indent(root, "  ")
    format_ = lap()
    text = ET.tostring(root, encoding="unicode")
    compose = lap()
    del root
    free = lap()
    (wall0, cpu0), (wall1, cpu1) = laps[0], laps[-1]
    print(f"records {count}")
    print(f"composed_units {len(text)}")
    print(f"insert {insert}")
    print(f"format {format_}")
    print(f"compose {compose}")
    print(f"free {free}")
    print(f"total {wall1 - wall0:.3f} s cpu {cpu1 - cpu0:.3f} s")

if __name__ == "__main__":
    main()
