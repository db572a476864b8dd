#!/usr/bin/env python3
"""Checks the pieces an image was sent in, independently of the engine.

usage: sparse_check.py <image> <piece>...

Each piece is either a plain image (written from offset 0) or an Android
sparse image (its chunks written where they belong). The pieces, applied in
order to an empty partition, must give the image: byte for byte, except that
a plain image whose size is no whole number of blocks may be followed by
zeros up to the block end. A sparse <image> is compared in its expanded form.
"""
import struct
import sys

MAGIC = 0xED26FF3A


def apply_sparse(data, out):
    (magic, major, _minor, file_hdr, chunk_hdr, blk, total_blks, chunks, _sum) = struct.unpack_from("<IHHHHIIII", data, 0)
    if magic != MAGIC or major != 1:
        raise ValueError("bad sparse header")
    size = blk * total_blks
    if len(out) < size:
        out.extend(bytes(size - len(out)))
    offset, block = file_hdr, 0
    for _ in range(chunks):
        kind, _res, blocks, total = struct.unpack_from("<HHII", data, offset)
        body = data[offset + chunk_hdr:offset + total]
        length = blocks * blk
        at = block * blk
        if kind == 0xCAC1:
            if len(body) != length:
                raise ValueError("raw chunk of the wrong length")
            out[at:at + length] = body
        elif kind == 0xCAC2:
            out[at:at + length] = body[:4] * (length // 4)
        elif kind == 0xCAC3:
            pass
        elif kind == 0xCAC4:
            blocks = 0
        else:
            raise ValueError("unknown chunk type %#x" % kind)
        block += blocks
        offset += total
    if block != total_blks or offset != len(data):
        raise ValueError("chunks do not add up")


def expanded(data):
    if len(data) >= 4 and struct.unpack_from("<I", data)[0] == MAGIC:
        out = bytearray()
        apply_sparse(data, out)
        return bytes(out)
    return data


def main():
    image = expanded(open(sys.argv[1], "rb").read())
    partition = bytearray()
    for path in sys.argv[2:]:
        piece = open(path, "rb").read()
        if len(piece) >= 4 and struct.unpack_from("<I", piece)[0] == MAGIC:
            apply_sparse(piece, partition)
        else:
            partition[0:len(piece)] = piece
    tail = partition[len(image):]
    if bytes(partition[:len(image)]) != image or any(tail) or len(tail) >= 4096:
        print("reassembled %d bytes differ from the image of %d bytes" % (len(partition), len(image)))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
