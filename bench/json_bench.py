#!/usr/bin/env python3
"""Python's side of the JSON export benchmark: the same records as json_bench builds
(400,000 matches of four octets each, the same formula), dumped with
json.dumps(records, indent=2, ensure_ascii=False).

    bench/json_bench.py [RECORDS]
"""
import json
import sys
import time


def octets(i):
    return [(i * 7 + 10) % 256, (i * 13 + 1) % 256, (i // 256) % 256, i % 256]


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 400000
    records = []
    for i in range(count):
        groups = [str(octet) for octet in octets(i)]
        records.append({"g": groups, "m": ".".join(groups)})
    start = time.perf_counter()
    text = json.dumps(records, indent=2, ensure_ascii=False)
    seconds = time.perf_counter() - start
    print(f"records {count}")
    print(f"dumps_seconds {seconds:.3f}")
    print(f"text_characters {len(text)}")


if __name__ == "__main__":
    main()
