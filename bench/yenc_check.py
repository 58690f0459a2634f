"""Checks yEnc bodies made by our encoder against sabyenc's decoder.
Reads records from standard input: "<body bytes> <data bytes>\\n", the body as
a server sends it (dot-stuffed, "." line included), then the bytes it must
decode to. Exits 1 at the first body sabyenc decodes otherwise or whose CRC
it rejects. Run with Debian's /usr/bin/python3 (python3-sabyenc)."""
import sys

import sabyenc3


def main():
    src = sys.stdin.buffer
    count = 0
    while True:
        head = src.readline()
        if not head:
            break
        body_size, data_size = map(int, head.split())
        body, data = src.read(body_size), src.read(data_size)
        decoded, _, crc_ok = sabyenc3.decode_usenet_chunks([body])
        if not crc_ok or decoded != data:
            sys.exit("body %d: sabyenc gives %d bytes%s" % (count + 1, len(decoded), "" if crc_ok else ", bad CRC"))
        count += 1
    print("%d yEnc bodies agree with sabyenc" % count)


if __name__ == "__main__":
    main()
