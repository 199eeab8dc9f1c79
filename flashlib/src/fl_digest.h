/* Digests of flash as the streaming session reads it: CRC-32 (the range's, as
 * zlib computes it) and CRC-64 (ranged blocks', ECMA-182 reflected, as xz
 * computes it). On the emulated board a store to RAM costs some twenty loads,
 * so words read over the bus go into the CRC in registers, never through a
 * buffer. */
#ifndef FL_DIGEST_H
#define FL_DIGEST_H

#include <stdint.h>

struct fl_digest {
    const uint32_t* low;  /* CRC-32: the table; CRC-64: the low halves of its table */
    const uint32_t* high; /* CRC-64: the high halves; 0 for CRC-32 */
    uint32_t lo, hi;      /* the running CRC, inverted, as the tables take it */
};

/* Tables (256 words each) filled at start-up: 3 KiB less to load over the line. */
void fl_digest_tables(uint32_t* crc32, uint32_t* crc64_low, uint32_t* crc64_high);
void fl_digest_start(struct fl_digest* d, const uint32_t* low, const uint32_t* high);
void fl_digest_bytes(struct fl_digest* d, const uint8_t* data, uint32_t size);
/* `words` 32-bit reads from addr, addr + stride, ..., each taken little-endian. */
void fl_digest_bus(struct fl_digest* d, uint32_t addr, uint32_t stride, uint32_t words);
/* The result: CRC-32 in *lo; CRC-64 in *lo (low half) and *hi. */
void fl_digest_end(const struct fl_digest* d, uint32_t* lo, uint32_t* hi);

#endif
