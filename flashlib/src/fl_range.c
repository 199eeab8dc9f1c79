/* The requests of protocol version 2 (DATASHEET.md, "Ranges"): name a range,
 * list the digests of its blocks, erase it, report its CRC-32, end the session.
 * A request waits in the session until the blocks received before it are
 * written, then runs here; meanwhile the host's Finish frames get Progress.
 *
 * Block digests are CRC-64 (ECMA-182, as xz computes it): on the emulated core
 * it costs about what CRC-32 does, and it takes a changed block for an unchanged
 * one far less often (DATASHEET.md says why it was chosen). */
#include "fl_stream_wire.h"

static void put32(uint8_t* p, uint32_t value) {
    p[0] = (uint8_t)value;
    p[1] = (uint8_t)(value >> 8);
    p[2] = (uint8_t)(value >> 16);
    p[3] = (uint8_t)(value >> 24);
}

uint32_t fl_range_block_size(const struct fl_stream* s, uint32_t index) {
    const uint32_t start = index << s->block_shift;
    const uint32_t size = 1u << s->block_shift;
    return s->span_size - start < size ? s->span_size - start : size;
}

unsigned fl_range_flush(struct fl_ctx* ctx, struct fl_stream* s) {
    if (!s->selected || s->mode != FL_MODE_BLOCKS) return 0;
    ctx->state = FL_STATE_PROGRAMMING;
    return s->device->flush(ctx, s->job);
}

int fl_range_crc(struct fl_ctx* ctx, struct fl_stream* s, uint32_t size) {
    struct fl_digest d;
    uint32_t unused;
    int result;
    fl_digest_start(&d, s->crc32_table, 0);
    result = s->device->scan(ctx, s->job, 0, size, &d);
    fl_digest_end(&d, &s->digest, &unused);
    return result;
}

void fl_range_request(struct fl_ctx* ctx, struct fl_stream* s, unsigned kind, uint16_t seq, uint32_t argument) {
    unsigned i;
    (void)ctx;
    /* The end of the session stops what is being served and goes first. */
    if (kind == FL_FRAME_QUIT || kind == FL_FRAME_SPEED) {
        if (s->serving) s->abort = 1;
    } else if (s->request) {
        return; /* one at a time: the host waits for each answer */
    }
    if (s->request == FL_FRAME_QUIT) return;
    s->request = kind;
    s->request_seq = seq;
    s->request_argument = argument;
    for (i = 0; i < FL_RANGE_PAYLOAD; ++i) s->request_payload[i] = s->range_payload[i];
}

static void refuse(struct fl_ctx* ctx, struct fl_stream* s) {
    fl_wire_reply(ctx, FL_MSG_ERROR, s->request_seq, ctx->state, FL_REASON_REQUEST, s->written);
}

/* Writes back the ranged writes before a request reads or changes the flash;
 * 0, or the range has failed. */
static int flushed(struct fl_ctx* ctx, struct fl_stream* s) {
    const unsigned result = fl_range_flush(ctx, s);
    if (result) fl_stream_fail(ctx, s, result, FL_REASON_FLASH);
    return result ? -1 : 0;
}

/* A request that reads or changes the range in use: refused when there is none or
 * it does not fit, else the range's writes go to the flash first. 0, or answered. */
static int ready(struct fl_ctx* ctx, struct fl_stream* s, int fits, unsigned state) {
    if (!s->selected || !fits) {
        refuse(ctx, s);
        return -1;
    }
    if (flushed(ctx, s) != 0) return -1;
    ctx->state = state;
    s->tick_base = 0;
    return 0;
}

static unsigned log2_block(uint32_t size) {
    unsigned shift;
    for (shift = FL_BLOCK_SHIFT_MIN; shift <= FL_BLOCK_SHIFT_MAX; ++shift) {
        if (size == 1u << shift) return shift;
    }
    return 0;
}

static void serve_range(struct fl_ctx* ctx, struct fl_stream* s) {
    struct fl_span span;
    const unsigned shift = log2_block(s->request_argument);
    unsigned refused, i;
    if (s->phase != FL_PHASE_FAILED && flushed(ctx, s) != 0) return;
    /* A new range starts clean: its own blocks, numbered from 0; what is left of
     * the last one's is dropped. */
    for (i = 0; i < FL_STREAM_BUFFERS; ++i) s->full[i] = 0;
    s->queued = 0;
    s->ack_pending = 0;
    s->acked = 0;
    s->expected = 0;
    s->announced = s->available = s->written = s->verified = 0;
    s->image_size = 0;
    s->selected = 0;
    s->block_shift = 0;
    s->blocks = 0;
    s->mode = FL_MODE_IDLE;
    s->error = s->reason = 0;
    s->phase = FL_PHASE_STREAM;
    ctx->state = FL_STATE_ERASING;
    if (shift == 0) {
        refuse(ctx, s);
        return;
    }
    span.address = fl_get32(s->request_payload);
    span.size = fl_get32(s->request_payload + 4);
    span.partition_end = fl_get32(s->request_payload + 8);
    refused = span.size ? s->device->select(ctx, s->job, &span, s->work + FL_WORK_DEVICE) : FL_STATE_ERASE_ERROR;
    if (refused) {
        fl_wire_reply(ctx, FL_MSG_ERROR, 0, refused, FL_REASON_JOB, 0);
        return;
    }
    s->selected = 1;
    s->span_size = span.size;
    s->block_shift = shift;
    s->blocks = ((span.size - 1u) >> shift) + 1u;
    fl_wire_reply(ctx, FL_MSG_RANGE, 0, ctx->state, 0, s->blocks);
}

/* The digests of blocks [argument, argument + seq) of the range. */
static void serve_digests(struct fl_ctx* ctx, struct fl_stream* s) {
    const uint32_t first = s->request_argument;
    const uint32_t count = s->request_seq;
    uint8_t* list = s->work + FL_WORK_DIGESTS;
    struct fl_digest d;
    uint32_t i, lo, hi;
    if (ready(ctx, s, count != 0 && count <= FL_DIGESTS_MAX && first < s->blocks && count <= s->blocks - first,
              FL_STATE_VERIFYING) != 0)
        return;
    for (i = 0; i < count; ++i) {
        const uint32_t size = fl_range_block_size(s, first + i);
        fl_digest_start(&d, s->crc64_low, s->crc64_high);
        if (s->device->scan(ctx, s->job, (first + i) << s->block_shift, size, &d) != 0) {
            if (!s->abort) fl_stream_fail(ctx, s, FL_STATE_VERIFY_ERROR, FL_REASON_FLASH);
            return;
        }
        fl_digest_end(&d, &lo, &hi);
        put32(list + 8 * i, lo);
        put32(list + 8 * i + 4, hi);
        s->tick_base += size;
    }
    fl_wire_reply_tail(ctx, FL_MSG_DIGESTS, count, first, list, 8 * count);
}

static void serve_erase(struct fl_ctx* ctx, struct fl_stream* s) {
    struct fl_erased erased = {0, 0, 0, 0};
    uint8_t tail[16];
    unsigned result;
    if (ready(ctx, s, 1, FL_STATE_ERASING) != 0) return;
    result = s->device->erase(ctx, s->job, &erased);
    if (result) {
        fl_stream_fail(ctx, s, result, FL_REASON_FLASH);
        return;
    }
    /* Erased, the range takes either kind of write again. */
    s->mode = FL_MODE_IDLE;
    s->phase = FL_PHASE_STREAM;
    if (s->abort) return;
    put32(tail, erased.start);
    put32(tail + 4, erased.end);
    put32(tail + 8, erased.units);
    put32(tail + 12, erased.skipped);
    fl_wire_reply_tail(ctx, FL_MSG_ERASED, 0, erased.units, tail, sizeof tail);
}

/* The range's CRC-32 once its writes are in flash, answered as Done. */
static void serve_finish(struct fl_ctx* ctx, struct fl_stream* s) {
    if (ready(ctx, s, 1, FL_STATE_VERIFYING) != 0) return;
    if (fl_range_crc(ctx, s, s->span_size) != 0) {
        if (!s->abort) fl_stream_fail(ctx, s, FL_STATE_VERIFY_ERROR, FL_REASON_FLASH);
        return;
    }
    /* Blocks that came meanwhile make the digest old: they are written next. */
    if (s->queued == 0) s->phase = FL_PHASE_DONE;
    s->completed = 1;
    ctx->state = FL_STATE_DONE;
    fl_wire_reply(ctx, FL_MSG_DONE, s->expected, FL_STATE_DONE, 0, s->digest);
}

void fl_range_serve(struct fl_ctx* ctx, struct fl_stream* s) {
    const unsigned kind = s->request;
    s->request = 0;
    s->serving = kind;
    s->abort = 0;
    /* A failed range answers its failure until another range is named. */
    if (s->phase == FL_PHASE_FAILED && kind != FL_FRAME_RANGE && kind != FL_FRAME_QUIT && kind != FL_FRAME_SPEED) {
        fl_wire_reply(ctx, FL_MSG_ERROR, s->expected, s->error, s->reason, s->written);
        s->serving = 0;
        return;
    }
    switch (kind) {
        case FL_FRAME_RANGE:
            serve_range(ctx, s);
            break;
        case FL_FRAME_DIGESTS:
            serve_digests(ctx, s);
            break;
        case FL_FRAME_ERASE:
            serve_erase(ctx, s);
            break;
        case FL_FRAME_FINISH:
            serve_finish(ctx, s);
            break;
        case FL_FRAME_SPEED:
            if (fl_range_flush(ctx, s) && !s->error) s->error = FL_STATE_PROGRAM_ERROR;
            fl_stream_speed(ctx, s, s->request_argument);
            break;
        default: /* Quit */
            if (fl_range_flush(ctx, s) && !s->error) s->error = FL_STATE_PROGRAM_ERROR;
            fl_wire_reply(ctx, FL_MSG_QUIT, s->request_seq, ctx->state, s->reason, s->written);
            s->phase = FL_PHASE_QUIT;
            break;
    }
    s->serving = 0;
}
