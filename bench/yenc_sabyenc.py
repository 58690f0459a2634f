"""Half of bench/yenc_bench: writes a 768,000-byte yEnc article encoded by
sabyenc, times sabyenc's decoder on it and prints its speed.
Run with Debian's /usr/bin/python3 (python3-sabyenc). Usage: article-path rounds"""
import os
import sys
import time
import zlib

import sabyenc3

SIZE = 768000


def main():
    path, rounds = sys.argv[1], int(sys.argv[2])
    data = bytes((x * 2654435761 >> 13) & 0xFF for x in range(SIZE))
    data = bytes(a ^ b for a, b in zip(data, os.urandom(SIZE)))
    encoded, crc = sabyenc3.encode(data)
    crc &= 0xFFFFFFFF
    assert crc == zlib.crc32(data) & 0xFFFFFFFF
    article = (b"=ybegin part=1 total=10 line=128 size=%d name=bench.jpg\r\n"
               b"=ypart begin=1 end=%d\r\n" % (SIZE * 10, SIZE)
               + encoded + (b"" if encoded.endswith(b"\r\n") else b"\r\n")
               + b"=yend size=%d part=1 pcrc32=%08x\r\n.\r\n" % (SIZE, crc))
    with open(path, "wb") as f:
        f.write(article)
    chunks = [article[i:i + 16384] for i in range(0, len(article), 16384)]
    decoded, _, ok = sabyenc3.decode_usenet_chunks(chunks)
    assert ok and decoded == data
    best = float("inf")
    for _ in range(5):
        t = time.perf_counter()
        for _ in range(rounds):
            sabyenc3.decode_usenet_chunks(chunks)
        best = min(best, (time.perf_counter() - t) / rounds)
    print("%d %.9f %s" % (len(article), best, sabyenc3.simd))


if __name__ == "__main__":
    main()
