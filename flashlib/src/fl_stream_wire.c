/* How the streaming session's frames and messages travel: a receiver fed one
 * byte at a time that hunts for a frame start, checks the header's bounds before
 * it trusts the length, and checks the CRC before the frame is acted on. */
#include "fl_stream_wire.h"

/* A frame's bytes follow each other closely; a pause this long ends it. */
#define FRAME_GAP_US 200000u
/* A damaged frame is answered once the line has been quiet this long, so that
 * the rest of a damaged transmission does not draw more answers. */
#define QUIET_US 2000u
#define TX_DRAIN_US 1000000u
/* Bytes taken per call, so that flash work goes on while the host sends. */
#define RX_BUDGET 1024u

uint32_t fl_wire_crc_byte(const struct fl_stream* s, uint32_t crc, uint8_t byte) {
    return s->crc32_table[(crc ^ byte) & 0xFFu] ^ (crc >> 8);
}

uint32_t fl_stream_crc(const struct fl_ctx* ctx, uint32_t crc, const uint8_t* data, uint32_t size) {
    const uint32_t* table = ctx->stream->crc32_table;
    crc = ~crc;
    while (size--) crc = table[(crc ^ *data++) & 0xFFu] ^ (crc >> 8);
    return ~crc;
}

static void put32(uint8_t* p, uint32_t value) {
    p[0] = (uint8_t)value;
    p[1] = (uint8_t)(value >> 8);
    p[2] = (uint8_t)(value >> 16);
    p[3] = (uint8_t)(value >> 24);
}

void fl_wire_reply(struct fl_ctx* ctx, unsigned kind, unsigned seq, unsigned state, unsigned reason, uint32_t value) {
    uint8_t m[FL_MESSAGE_SIZE];
    unsigned i;
    m[0] = FL_MESSAGE_START;
    m[1] = (uint8_t)kind;
    m[2] = (uint8_t)seq;
    m[3] = (uint8_t)(seq >> 8);
    m[4] = (uint8_t)state;
    m[5] = (uint8_t)reason;
    m[6] = 0;
    m[7] = 0;
    put32(m + 8, value);
    put32(m + 12, fl_stream_crc(ctx, 0, m, 12));
    for (i = 0; i < FL_MESSAGE_SIZE; ++i) fl_send_byte(ctx, m[i]);
}

void fl_wire_reply_tail(struct fl_ctx* ctx, unsigned kind, unsigned seq, uint32_t value, const uint8_t* tail,
                        uint32_t size) {
    uint8_t crc[4];
    uint32_t i;
    fl_wire_reply(ctx, kind, seq, ctx->state, 0, value);
    for (i = 0; i < size; ++i) fl_send_byte(ctx, tail[i]);
    put32(crc, fl_stream_crc(ctx, 0, tail, size));
    for (i = 0; i < 4; ++i) fl_send_byte(ctx, crc[i]);
}

void fl_wire_set_divisor(struct fl_ctx* ctx, uint32_t divisor) {
    const uint32_t start = fl_now_us(ctx);
    /* Bytes still in the transmitter would leave at the new rate: let them go first. */
    while (!(fl_read32(ctx->fifo + FL_FIFO_STATUS) & FL_FIFO_TX_IDLE)) {
        if (fl_now_us(ctx) - start > TX_DRAIN_US) break;
    }
    fl_write32(ctx->fifo + FL_UART_DIVISOR, divisor);
}

/* The kinds of version 2 are damaged frames to a host that did not ask for it. */
static int header_ok(const struct fl_stream* s) {
    const uint32_t length = fl_get32(s->header + 4);
    const int ranges = s->version >= FL_STREAM_RANGES;
    switch (s->header[1]) {
        case FL_FRAME_WRITE:
            if (!ranges) return 0;
            /* fall through */
        case FL_FRAME_BLOCK:
            return length != 0 && length <= FL_STREAM_MAX_PAYLOAD;
        case FL_FRAME_RANGE:
            return ranges && length == FL_RANGE_PAYLOAD;
        case FL_FRAME_DIGESTS:
        case FL_FRAME_ERASE:
            return ranges && length == 0;
        case FL_FRAME_HELLO:
        case FL_FRAME_SPEED:
        case FL_FRAME_SYNC:
        case FL_FRAME_FINISH:
        case FL_FRAME_QUIT:
            return length == 0;
        default:
            return 0;
    }
}

/* A stored block that is the next one expected and fits the image. */
static int in_place(const struct fl_stream* s) {
    const uint32_t argument = fl_get32(s->header + 8);
    const uint32_t size = argument & ~FL_BLOCK_STORED;
    const uint16_t seq = (uint16_t)(s->header[2] | (s->header[3] << 8));
    return (argument & FL_BLOCK_STORED) && seq == s->expected && size == s->body_left &&
           size <= s->image_size - s->announced;
}

/* Starts over at the next frame start inside a header that made no sense, so
 * that a frame following noise closely is not lost with it. */
static void resync(struct fl_stream* s) {
    unsigned from = 1, i;
    while (from < s->have && s->header[from] != FL_FRAME_START) ++from;
    for (i = from; i < s->have; ++i) s->header[i - from] = s->header[i];
    s->have -= from;
    s->crc = 0xFFFFFFFFu;
    for (i = 0; i < s->have; ++i) s->crc = fl_wire_crc_byte(s, s->crc, s->header[i]);
}

void fl_wire_byte(struct fl_ctx* ctx, struct fl_stream* s, uint8_t byte) {
    if (s->have < FL_FRAME_HEADER) {
        if (s->have == 0) {
            if (byte != FL_FRAME_START) return; /* noise between frames */
            s->crc = 0xFFFFFFFFu;
        }
        s->header[s->have++] = byte;
        s->crc = fl_wire_crc_byte(s, s->crc, byte);
        if (s->have < FL_FRAME_HEADER) return;
        if (!header_ok(s)) {
            s->damaged = 1;
            s->damage = FL_REASON_DAMAGED;
            resync(s);
            return;
        }
        s->body_left = fl_get32(s->header + 4);
        s->body_at = 0;
        s->body_buffer =
            s->header[1] == FL_FRAME_BLOCK || s->header[1] == FL_FRAME_WRITE ? fl_stream_free_buffer(s) : -1;
        s->body = s->body_buffer >= 0 ? s->buffer[s->body_buffer] : 0;
        if (s->header[1] == FL_FRAME_RANGE) s->body = s->range_payload;
        s->in_place = 0;
        if (s->body && s->header[1] == FL_FRAME_BLOCK && s->mode != FL_MODE_BLOCKS && in_place(s)) {
            /* A stored block goes straight to its place in the image: no copy later.
             * Should it arrive damaged, nothing counts it as decoded. */
            s->body = s->image + s->announced;
            s->in_place = 1;
        }
        s->trailer_have = 0;
        return;
    }
    if (s->body_left != 0) {
        if (s->body) s->body[s->body_at] = byte;
        ++s->body_at;
        --s->body_left;
        s->crc = fl_wire_crc_byte(s, s->crc, byte);
        return;
    }
    s->trailer[s->trailer_have++] = byte;
    if (s->trailer_have < 4) return;
    s->have = 0;
    if (fl_get32(s->trailer) != ~s->crc) {
        s->damaged = 1;
        s->damage = FL_REASON_DAMAGED;
        return;
    }
    s->damaged = 0;
    fl_stream_frame(ctx, s);
}

void fl_wire_timers(struct fl_ctx* ctx, struct fl_stream* s, uint32_t now) {
    unsigned reason;
    if (s->have == 0 && !s->damaged) return;
    if (now - s->last_byte_us <= (s->damaged ? QUIET_US : FRAME_GAP_US)) return;
    reason = s->damaged ? s->damage : FL_REASON_GAP;
    s->have = 0;
    s->damaged = 0;
    fl_stream_damaged(ctx, s, reason);
}

/* A payload's bytes with the receiver's state in registers: a store to RAM is
 * costly on the emulated board, and this loop takes nearly every byte. */
static unsigned payload(struct fl_ctx* ctx, struct fl_stream* s, unsigned budget) {
    const uint32_t* table = s->crc32_table;
    const uint32_t status = ctx->fifo + FL_FIFO_STATUS;
    const uint32_t data = ctx->fifo + FL_FIFO_DATA;
    uint8_t* to = s->body;
    uint32_t at = s->body_at, left = s->body_left, crc = s->crc;
    unsigned taken = 0;
    do {
        const uint8_t byte = (uint8_t)fl_read32(data);
        if (to) to[at] = byte;
        crc = table[(crc ^ byte) & 0xFFu] ^ (crc >> 8);
        ++at;
        --left;
        ++taken;
    } while (left != 0 && taken < budget && (fl_read32(status) & FL_FIFO_RX_READY));
    s->body_at = at;
    s->body_left = left;
    s->crc = crc;
    return taken;
}

void fl_stream_service(struct fl_ctx* ctx) {
    struct fl_stream* s = ctx->stream;
    unsigned budget = RX_BUDGET;
    int got = 0;
    /* After the goodbye the bytes stay in the UART for the boot ROM. */
    while (s->phase != FL_PHASE_QUIT && budget != 0 && (fl_read32(ctx->fifo + FL_FIFO_STATUS) & FL_FIFO_RX_READY)) {
        got = 1;
        if (s->have == FL_FRAME_HEADER && s->body_left != 0) {
            budget -= payload(ctx, s, budget);
            continue;
        }
        fl_wire_byte(ctx, s, (uint8_t)fl_read32(ctx->fifo + FL_FIFO_DATA));
        --budget;
    }
    if (got) s->last_byte_us = fl_now_us(ctx);
}
