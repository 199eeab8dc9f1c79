#include "fl_digest.h"

#include "fl_hal.h"

#define CRC32_POLY 0xEDB88320u
#define CRC64_POLY_LOW 0xD7870F42u
#define CRC64_POLY_HIGH 0xC96C5795u

void fl_digest_tables(uint32_t* crc32, uint32_t* crc64_low, uint32_t* crc64_high) {
    uint32_t n;
    for (n = 0; n < 256; ++n) {
        uint32_t c = n, lo = n, hi = 0;
        unsigned k;
        for (k = 0; k < 8; ++k) {
            const uint32_t carry = lo & 1u;
            c = (c & 1u) ? CRC32_POLY ^ (c >> 1) : c >> 1;
            lo = (lo >> 1) | (hi << 31);
            hi >>= 1;
            if (carry) {
                lo ^= CRC64_POLY_LOW;
                hi ^= CRC64_POLY_HIGH;
            }
        }
        crc32[n] = c;
        crc64_low[n] = lo;
        crc64_high[n] = hi;
    }
}

void fl_digest_start(struct fl_digest* d, const uint32_t* low, const uint32_t* high) {
    d->low = low;
    d->high = high;
    d->lo = d->hi = 0xFFFFFFFFu;
}

/* One byte into either CRC; the 64-bit one is kept in two halves. */
#define DIGEST_BYTE(byte)                            \
    do {                                             \
        const uint32_t i_ = (lo ^ (byte)) & 0xFFu;   \
        if (high) {                                  \
            lo = ((lo >> 8) | (hi << 24)) ^ low[i_]; \
            hi = (hi >> 8) ^ high[i_];               \
        } else {                                     \
            lo = (lo >> 8) ^ low[i_];                \
        }                                            \
    } while (0)

void fl_digest_bytes(struct fl_digest* d, const uint8_t* data, uint32_t size) {
    const uint32_t* low = d->low;
    const uint32_t* high = d->high;
    uint32_t lo = d->lo, hi = d->hi;
    while (size--) DIGEST_BYTE(*data++);
    d->lo = lo;
    d->hi = hi;
}

void fl_digest_bus(struct fl_digest* d, uint32_t addr, uint32_t stride, uint32_t words) {
    const uint32_t* low = d->low;
    const uint32_t* high = d->high;
    uint32_t lo = d->lo, hi = d->hi;
    while (words--) {
        uint32_t word = fl_read32(addr);
        unsigned k;
        addr += stride;
        for (k = 0; k < 4; ++k, word >>= 8) DIGEST_BYTE(word);
    }
    d->lo = lo;
    d->hi = hi;
}

void fl_digest_end(const struct fl_digest* d, uint32_t* lo, uint32_t* hi) {
    *lo = ~d->lo;
    *hi = ~d->hi;
}
