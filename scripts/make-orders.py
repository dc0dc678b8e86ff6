#!/usr/bin/env python3
"""Writes order lines as an order-processing client gets them (CP932 CSV,
CRLF) until the file holds at least BYTES bytes. The same seed every time,
so runs compare like with like.

    scripts/make-orders.py BYTES FILE
"""
import random
import sys


def main() -> None:
    target, path = int(sys.argv[1]), sys.argv[2]
    rng = random.Random(7)
    items = ["ボルト M8", "ナット M8", "ワッシャー", "パッキン", "ブラケット", "ヒンジ", "ガスケット"]
    customers = ["K%05d" % rng.randrange(100000) for _ in range(300)]
    with open(path, "wb") as out:
        size = n = 0
        while size < target:
            n += 1
            line = ("%08d,%s,%s,%d,%d,2026/%02d/%02d,%s\r\n" % (
                n, rng.choice(customers), rng.choice(items), rng.randrange(1, 500),
                rng.randrange(1, 300) * 10, rng.randrange(1, 13), rng.randrange(1, 29),
                rng.choice(["出荷済", "未出荷", "保留"]))).encode("cp932")
            out.write(line)
            size += len(line)


if __name__ == "__main__":
    main()
