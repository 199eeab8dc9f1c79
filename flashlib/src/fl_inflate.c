/* Canonical Huffman decoding as RFC 1951 describes it: code lengths become
 * counts per length and symbols sorted by code, and a symbol is found by walking
 * the lengths bit by bit. Slower than table lookups but small, and every index
 * it forms is bounded by the counts it was built from.
 *
 * The hot loop keeps the bit reader and the output position in locals: on the
 * emulated board every store to RAM is costly, and only the output bytes need one. */
#include "fl_inflate.h"

#define MAX_BITS 15u
#define MAX_LENGTH_CODES 286u
#define MAX_DISTANCE_CODES 30u
#define FIXED_LENGTH_CODES 288u
#define CODE_LENGTH_CODES 19u

struct huffman {
    uint16_t count[MAX_BITS + 1];        /* codes of each length; count[0]: unused symbols */
    uint16_t symbol[FIXED_LENGTH_CODES]; /* symbols in code order */
};

#define INLINE static inline __attribute__((always_inline))

struct bits {
    const uint8_t* in;
    uint32_t in_size;
    uint32_t in_pos;
    uint32_t bit_buf;
    unsigned bit_count; /* always below 8 between calls */
    int truncated;
};

struct inflater {
    struct bits b;
    uint8_t* out;
    uint32_t limit;
    uint32_t pos;
    struct huffman lengths;
    struct huffman distances;
};

static const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                         31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
static const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                         2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
static const uint16_t kDistanceBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                           33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                           1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
static const uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                           6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
static const uint8_t kCodeLengthOrder[CODE_LENGTH_CODES] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                            11, 4,  12, 3, 13, 2, 14, 1, 15};

/* The next `need` bits (at most 16), first bit lowest; 0 and `truncated` set
 * when the input ends first. */
INLINE uint32_t take_bits(struct bits* s, unsigned need) {
    uint32_t value = s->bit_buf;
    while (s->bit_count < need) {
        if (s->in_pos == s->in_size) {
            s->truncated = 1;
            return 0;
        }
        value |= (uint32_t)s->in[s->in_pos++] << s->bit_count;
        s->bit_count += 8;
    }
    s->bit_buf = value >> need;
    s->bit_count -= need;
    return value & ((1u << need) - 1u);
}

/* One symbol of a code; -1 when the input ends or the bits form no code. */
INLINE int decode(struct bits* s, const struct huffman* h) {
    uint32_t bits = s->bit_buf;
    unsigned left = s->bit_count;
    unsigned len = 1;
    int code = 0, first = 0, index = 0;
    const uint16_t* next = h->count + 1;
    for (;;) {
        while (left--) {
            int count;
            code |= (int)(bits & 1u);
            bits >>= 1;
            count = *next++;
            if (code - count < first) {
                s->bit_buf = bits;
                s->bit_count = (s->bit_count - len) & 7u;
                return h->symbol[index + (code - first)];
            }
            index += count;
            first = (first + count) << 1;
            code <<= 1;
            ++len;
        }
        left = (MAX_BITS + 1) - len;
        if (left == 0) return -1;
        if (s->in_pos == s->in_size) {
            s->truncated = 1;
            return -1;
        }
        bits = s->in[s->in_pos++];
        if (left > 8) left = 8;
    }
}

/* Builds a code from its lengths (each 0..15). Returns 0 for a complete code, a
 * positive number for an incomplete one, a negative one for an over-subscribed
 * one (unusable). */
static int construct(struct huffman* h, const uint16_t* length, unsigned n) {
    uint16_t offsets[MAX_BITS + 1];
    unsigned symbol, len;
    int left = 1;
    for (len = 0; len <= MAX_BITS; ++len) h->count[len] = 0;
    for (symbol = 0; symbol < n; ++symbol) h->count[length[symbol]]++;
    if (h->count[0] == n) return 0;
    for (len = 1; len <= MAX_BITS; ++len) {
        left = (left << 1) - h->count[len];
        if (left < 0) return left;
    }
    offsets[1] = 0;
    for (len = 1; len < MAX_BITS; ++len) offsets[len + 1] = (uint16_t)(offsets[len] + h->count[len]);
    for (symbol = 0; symbol < n; ++symbol) {
        if (length[symbol] != 0) h->symbol[offsets[length[symbol]]++] = (uint16_t)symbol;
    }
    return left;
}

static int codes(struct inflater* s) {
    struct bits b = s->b;
    uint8_t* const out = s->out;
    const uint32_t limit = s->limit;
    uint32_t pos = s->pos;
    int result;
    for (;;) {
        int symbol = decode(&b, &s->lengths);
        uint32_t length, distance;
        if (symbol < 0) {
            result = FL_INFLATE_BAD;
            break;
        }
        if (symbol < 256) {
            if (pos == limit) {
                result = FL_INFLATE_FULL;
                break;
            }
            out[pos++] = (uint8_t)symbol;
            continue;
        }
        if (symbol == 256) {
            result = FL_INFLATE_OK;
            break;
        }
        symbol -= 257;
        if (symbol >= 29) {
            result = FL_INFLATE_BAD;
            break;
        }
        length = kLengthBase[symbol] + take_bits(&b, kLengthExtra[symbol]);
        symbol = decode(&b, &s->distances);
        if (symbol < 0 || symbol >= 30) {
            result = FL_INFLATE_BAD;
            break;
        }
        distance = kDistanceBase[symbol] + take_bits(&b, kDistanceExtra[symbol]);
        if (b.truncated || distance > pos) {
            result = FL_INFLATE_BAD;
            break;
        }
        if (length > limit - pos) {
            result = FL_INFLATE_FULL;
            break;
        }
        {
            uint8_t* to = out + pos;
            const uint8_t* from = to - distance;
            pos += length;
            /* Byte by byte: a copy may overlap the bytes it produces. */
            while (length--) *to++ = *from++;
        }
    }
    s->b = b;
    s->pos = pos;
    return result;
}

static int stored(struct inflater* s) {
    uint32_t length;
    const uint8_t* at;
    struct bits* b = &s->b;
    b->bit_buf = 0;
    b->bit_count = 0;
    if (b->in_size - b->in_pos < 4) return FL_INFLATE_BAD;
    at = b->in + b->in_pos;
    if ((at[0] ^ at[2]) != 0xFFu || (at[1] ^ at[3]) != 0xFFu) return FL_INFLATE_BAD;
    length = (uint32_t)at[0] | ((uint32_t)at[1] << 8);
    b->in_pos += 4;
    if (b->in_size - b->in_pos < length) return FL_INFLATE_BAD;
    if (s->limit - s->pos < length) return FL_INFLATE_FULL;
    at = b->in + b->in_pos;
    b->in_pos += length;
    while (length--) s->out[s->pos++] = *at++;
    return FL_INFLATE_OK;
}

static int fixed(struct inflater* s) {
    uint16_t lengths[FIXED_LENGTH_CODES];
    unsigned symbol;
    for (symbol = 0; symbol < 144; ++symbol) lengths[symbol] = 8;
    for (; symbol < 256; ++symbol) lengths[symbol] = 9;
    for (; symbol < 280; ++symbol) lengths[symbol] = 7;
    for (; symbol < FIXED_LENGTH_CODES; ++symbol) lengths[symbol] = 8;
    construct(&s->lengths, lengths, FIXED_LENGTH_CODES);
    for (symbol = 0; symbol < MAX_DISTANCE_CODES; ++symbol) lengths[symbol] = 5;
    construct(&s->distances, lengths, MAX_DISTANCE_CODES);
    return codes(s);
}

static int dynamic(struct inflater* s) {
    uint16_t lengths[MAX_LENGTH_CODES + MAX_DISTANCE_CODES];
    unsigned nlen, ndist, ncode, index;
    int err;
    struct bits* b = &s->b;
    nlen = take_bits(b, 5) + 257;
    ndist = take_bits(b, 5) + 1;
    ncode = take_bits(b, 4) + 4;
    if (b->truncated || nlen > MAX_LENGTH_CODES || ndist > MAX_DISTANCE_CODES) return FL_INFLATE_BAD;
    for (index = 0; index < ncode; ++index) lengths[kCodeLengthOrder[index]] = (uint16_t)take_bits(b, 3);
    for (; index < CODE_LENGTH_CODES; ++index) lengths[kCodeLengthOrder[index]] = 0;
    if (b->truncated || construct(&s->lengths, lengths, CODE_LENGTH_CODES) != 0) return FL_INFLATE_BAD;

    index = 0;
    while (index < nlen + ndist) {
        int symbol = decode(b, &s->lengths);
        unsigned repeat;
        uint16_t value = 0;
        if (symbol < 0) return FL_INFLATE_BAD;
        if (symbol < 16) {
            lengths[index++] = (uint16_t)symbol;
            continue;
        }
        if (symbol == 16) {
            if (index == 0) return FL_INFLATE_BAD;
            value = lengths[index - 1];
            repeat = 3 + take_bits(b, 2);
        } else if (symbol == 17) {
            repeat = 3 + take_bits(b, 3);
        } else {
            repeat = 11 + take_bits(b, 7);
        }
        if (b->truncated || repeat > nlen + ndist - index) return FL_INFLATE_BAD;
        while (repeat--) lengths[index++] = value;
    }
    /* Without an end-of-block code the block could never end. */
    if (lengths[256] == 0) return FL_INFLATE_BAD;
    /* An incomplete code is only valid as a single code of one bit. */
    err = construct(&s->lengths, lengths, nlen);
    if (err < 0 || (err > 0 && nlen != (unsigned)s->lengths.count[0] + s->lengths.count[1])) return FL_INFLATE_BAD;
    err = construct(&s->distances, lengths + nlen, ndist);
    if (err < 0 || (err > 0 && ndist != (unsigned)s->distances.count[0] + s->distances.count[1])) return FL_INFLATE_BAD;
    return codes(s);
}

int fl_inflate(const uint8_t* in, uint32_t in_size, uint8_t* out, uint32_t limit, uint32_t* pos) {
    struct inflater s;
    int result;
    s.b.in = in;
    s.b.in_size = in_size;
    s.b.in_pos = 0;
    s.b.bit_buf = 0;
    s.b.bit_count = 0;
    s.b.truncated = 0;
    s.out = out;
    s.limit = limit;
    s.pos = *pos;
    if (s.pos > limit) return FL_INFLATE_FULL;
    for (;;) {
        unsigned last, type;
        /* A flushed block ends on a byte boundary: nothing left means done for now. */
        if (s.b.bit_count == 0 && s.b.in_pos == s.b.in_size) {
            result = FL_INFLATE_OK;
            break;
        }
        last = take_bits(&s.b, 1);
        type = take_bits(&s.b, 2);
        if (s.b.truncated) {
            result = FL_INFLATE_BAD;
            break;
        }
        if (type == 0)
            result = stored(&s);
        else if (type == 1)
            result = fixed(&s);
        else if (type == 2)
            result = dynamic(&s);
        else
            result = FL_INFLATE_BAD;
        if (result != FL_INFLATE_OK) break;
        if (last) {
            /* Only padding bits may follow the last block. */
            result = s.b.in_pos == s.b.in_size ? FL_INFLATE_FINAL : FL_INFLATE_BAD;
            break;
        }
    }
    *pos = s.pos;
    return result;
}
