/* What the streaming session's frames mean, and the loop that decodes blocks and
 * drives the flash job between them. Two receive buffers: a block is accepted
 * (and the host may send the next) as soon as it is checked and the other buffer
 * is free; decoding empties a buffer within milliseconds, and the flash is
 * written from the decoded image in RAM while later blocks arrive. */
#include "fl_inflate.h"
#include "fl_stream_wire.h"

/* At the boot ROM's speed, for the host's first frames. */
#define COMMAND_WAIT_US 10000000u
/* After a speed change, for the first block that proves the new speed. */
#define SYNC_WAIT_US 2000000u
/* While streaming: a host silent this long has gone away. */
#define HOST_SILENT_US 10000000u

/* Answers every block taken so far. Only when buffers are free for as many blocks
 * as the host may send on the strength of this answer. */
static void answer_blocks(struct fl_ctx* ctx, struct fl_stream* s) {
    unsigned i, free = 0;
    for (i = 0; i < FL_STREAM_BUFFERS; ++i) free += !s->full[i];
    if (free < FL_STREAM_WINDOW) {
        s->ack_pending = 1;
        return;
    }
    s->ack_pending = 0;
    s->acked = 1;
    s->last_acked = (uint16_t)(s->expected - 1);
    fl_wire_reply(ctx, FL_MSG_ACCEPTED, s->last_acked, ctx->state, 0, s->written);
}

int fl_stream_free_buffer(const struct fl_stream* s) {
    unsigned i;
    if (s->buffer[0] == 0) return -1;
    for (i = 0; i < FL_STREAM_BUFFERS; ++i) {
        if (!s->full[i]) return (int)i;
    }
    return -1;
}

static void fail(struct fl_ctx* ctx, struct fl_stream* s, unsigned state, unsigned reason) {
    s->error = state;
    s->reason = reason;
    s->phase = FL_PHASE_FAILED;
    ctx->state = state;
    fl_wire_reply(ctx, FL_MSG_ERROR, s->expected, state, reason, s->written);
}

static void speed(struct fl_ctx* ctx, struct fl_stream* s, uint32_t baud) {
    const uint32_t divisor = baud != 0 && FL_UART_CLOCK_BAUD % baud == 0 ? FL_UART_CLOCK_BAUD / baud : 0;
    const int ending = s->phase != FL_PHASE_COMMAND || s->ended;
    if (s->refused) {
        fl_wire_reply(ctx, FL_MSG_ERROR, 0, s->refused, FL_REASON_JOB, 0);
        return;
    }
    /* Once blocks have flowed, the only change left is back to the boot ROM's speed. */
    if (divisor == 0 || divisor > 0xFFFFu || (ending && divisor != FL_ROM_DIVISOR)) {
        fl_wire_reply(ctx, FL_MSG_REFUSED, 0, ctx->state, FL_REASON_SPEED, baud);
        return;
    }
    /* Answered at the old speed; the host switches when it has read the answer. */
    fl_wire_reply(ctx, FL_MSG_SPEED, 0, ctx->state, 0, baud);
    fl_wire_set_divisor(ctx, divisor);
    if (!ending) {
        s->phase = FL_PHASE_SYNC;
        s->phase_start_us = fl_now_us(ctx);
        return;
    }
    /* The host ends the session at the boot ROM's speed; a stream it leaves
     * unfinished is its decision. */
    if ((s->phase == FL_PHASE_STREAM || s->phase == FL_PHASE_VERIFY) && !s->error) {
        s->error = s->written ? FL_STATE_PROGRAM_ERROR : FL_STATE_ERASE_ERROR;
        s->reason = FL_REASON_HOST;
    }
    s->ended = 1;
    s->phase = FL_PHASE_COMMAND;
    s->have = 0;
}

static void block(struct fl_ctx* ctx, struct fl_stream* s, uint16_t seq, uint32_t argument, uint32_t length) {
    const uint32_t size = argument & ~FL_BLOCK_STORED;
    int taken;
    if (s->phase == FL_PHASE_SYNC) s->phase = FL_PHASE_STREAM; /* the new speed carries blocks */
    if (s->phase == FL_PHASE_FAILED) {
        fl_wire_reply(ctx, FL_MSG_ERROR, s->expected, s->error, s->reason, s->written);
        return;
    }
    if (s->phase == FL_PHASE_COMMAND || s->phase == FL_PHASE_QUIT) return;
    if (seq != s->expected) {
        /* An earlier block again: the host missed an answer, which it gets again.
         * A later one: one before it was lost; the host goes back to that. */
        if ((uint16_t)(s->expected - seq) <= 0x8000u && s->acked)
            fl_wire_reply(ctx, FL_MSG_ACCEPTED, s->last_acked, ctx->state, 0, s->written);
        return;
    }
    /* No buffer took the payload: the host sends the block again. */
    taken = s->body_buffer;
    if (taken < 0 || s->full[taken] || s->phase != FL_PHASE_STREAM) return;
    if (size == 0 || size > s->image_size - s->announced || ((argument & FL_BLOCK_STORED) && length != size)) {
        fail(ctx, s, FL_STATE_PROGRAM_ERROR, FL_REASON_DATA);
        return;
    }
    s->full[taken] = 1;
    s->placed[taken] = s->in_place;
    s->length[taken] = length;
    s->argument[taken] = argument;
    s->queue[s->queued++] = taken;
    s->announced += size;
    ++s->expected;
    answer_blocks(ctx, s);
}

static void finish(struct fl_ctx* ctx, struct fl_stream* s) {
    if (s->phase == FL_PHASE_FAILED)
        fl_wire_reply(ctx, FL_MSG_ERROR, s->expected, s->error, s->reason, s->written);
    else if (s->phase == FL_PHASE_DONE)
        fl_wire_reply(ctx, FL_MSG_DONE, s->expected, FL_STATE_DONE, 0, s->digest);
    else if (s->phase == FL_PHASE_VERIFY)
        fl_wire_reply(ctx, FL_MSG_PROGRESS, s->expected, FL_STATE_VERIFYING, 0, s->verified);
    else if (s->phase == FL_PHASE_STREAM)
        fl_wire_reply(ctx, FL_MSG_PROGRESS, s->expected, ctx->state, 0, s->written);
}

void fl_stream_frame(struct fl_ctx* ctx, struct fl_stream* s) {
    const uint16_t seq = (uint16_t)(s->header[2] | (s->header[3] << 8));
    const uint32_t argument = fl_get32(s->header + 8);
    s->last_frame_us = fl_now_us(ctx);
    switch (s->header[1]) {
        case FL_FRAME_HELLO:
            if (s->phase == FL_PHASE_COMMAND)
                fl_wire_reply(ctx, FL_MSG_HELLO, FL_STREAM_VERSION, s->refused ? s->refused : ctx->state,
                              s->refused ? FL_REASON_JOB : s->reason, FL_STREAM_MAX_PAYLOAD);
            break;
        case FL_FRAME_SPEED:
            if (s->phase != FL_PHASE_SYNC) speed(ctx, s, argument);
            break;
        case FL_FRAME_SYNC:
            if (s->phase == FL_PHASE_SYNC || s->phase == FL_PHASE_STREAM)
                fl_wire_reply(ctx, FL_MSG_SYNC, seq, ctx->state, 0, argument);
            break;
        case FL_FRAME_BLOCK:
            block(ctx, s, seq, argument, fl_get32(s->header + 4));
            break;
        case FL_FRAME_FINISH:
            finish(ctx, s);
            break;
        case FL_FRAME_QUIT:
            fl_wire_reply(ctx, FL_MSG_QUIT, seq, ctx->state, s->reason, s->written);
            s->phase = FL_PHASE_QUIT;
            break;
        default:
            break;
    }
}

void fl_stream_damaged(struct fl_ctx* ctx, struct fl_stream* s, unsigned reason) {
    /* Only blocks are worth asking for again; anything else the host repeats by itself. */
    if (s->phase == FL_PHASE_STREAM) fl_wire_reply(ctx, FL_MSG_REJECTED, s->expected, ctx->state, reason, s->written);
}

int fl_stream_verified(struct fl_ctx* ctx, uint32_t bytes) {
    struct fl_stream* s = ctx->stream;
    s->verified = bytes;
    fl_service(ctx);
    fl_wire_timers(ctx, s, fl_now_us(ctx));
    return s->phase != FL_PHASE_VERIFY;
}

uint32_t fl_stream_digest_bus(struct fl_ctx* ctx, uint32_t addr, uint32_t size) {
    const struct fl_stream* s = ctx->stream;
    uint32_t crc = 0xFFFFFFFFu, done = 0;
    while (done < size) {
        const uint32_t at = addr + done;
        if ((at & 3u) == 0 && size - done >= 4) {
            const uint32_t word = fl_read32(at);
            unsigned i;
            for (i = 0; i < 4; ++i) crc = fl_wire_crc_byte(s, crc, (uint8_t)(word >> (8 * i)));
            done += 4;
        } else {
            crc = fl_wire_crc_byte(s, crc, fl_read8(at));
            ++done;
        }
        if ((done & 0x3FFu) == 0 && fl_stream_verified(ctx, done)) break;
    }
    return ~crc;
}

/* Decodes the oldest received block into the image; nonzero when there was one. */
static int decode_next(struct fl_ctx* ctx, struct fl_stream* s) {
    int i;
    uint32_t size, end, pos, k;
    if (s->queued == 0) return 0;
    i = s->queue[0];
    size = s->argument[i] & ~FL_BLOCK_STORED;
    end = s->available + size;
    if (s->placed[i]) {
        /* Already where it belongs. */
    } else if (s->argument[i] & FL_BLOCK_STORED) {
        for (k = 0; k < size; ++k) s->image[s->available + k] = s->buffer[i][k];
    } else {
        int result;
        pos = s->available;
        result = fl_inflate(s->buffer[i], s->length[i], s->image, end, &pos);
        if ((result != FL_INFLATE_OK && result != FL_INFLATE_FINAL) || pos != end ||
            (result == FL_INFLATE_FINAL && end != s->image_size)) {
            fail(ctx, s, FL_STATE_PROGRAM_ERROR, FL_REASON_DATA);
            return 1;
        }
    }
    s->available = end;
    s->full[i] = 0;
    for (k = 1; k < s->queued; ++k) s->queue[k - 1] = s->queue[k];
    --s->queued;
    if (s->ack_pending) answer_blocks(ctx, s);
    return 1;
}

/* The time limits of the phases. */
static void check_time(struct fl_ctx* ctx, struct fl_stream* s) {
    const uint32_t now = fl_now_us(ctx);
    fl_wire_timers(ctx, s, now);
    switch (s->phase) {
        case FL_PHASE_COMMAND:
            if (now - s->last_frame_us > COMMAND_WAIT_US) {
                if (!s->error) s->error = s->refused ? s->refused : FL_STATE_ERASE_ERROR;
                s->phase = FL_PHASE_QUIT;
            }
            break;
        case FL_PHASE_SYNC:
            /* The new speed never carried a block: both sides go back to the ROM's. */
            if (now - s->phase_start_us > SYNC_WAIT_US) {
                fl_wire_set_divisor(ctx, FL_ROM_DIVISOR);
                s->phase = FL_PHASE_COMMAND;
                s->last_frame_us = now;
                s->have = 0;
            }
            break;
        case FL_PHASE_QUIT:
            break;
        default:
            if (now - s->last_frame_us > HOST_SILENT_US) {
                if (s->phase != FL_PHASE_DONE && !s->error) {
                    s->error = s->written ? FL_STATE_PROGRAM_ERROR : FL_STATE_ERASE_ERROR;
                    s->reason = FL_REASON_HOST;
                }
                s->phase = FL_PHASE_QUIT;
            }
            break;
    }
}

/* One round of flash work; nonzero when something was done. */
static int work(struct fl_ctx* ctx, struct fl_stream* s, const struct fl_sink* sink, void* job) {
    int result, worked;
    if (s->phase != FL_PHASE_STREAM) return 0;
    worked = decode_next(ctx, s);
    if (s->phase != FL_PHASE_STREAM) return 1;
    result = sink->step(ctx, job, s->available, &s->written);
    if (result >= (int)FL_STATE_ERASE_ERROR) {
        fail(ctx, s, (unsigned)result, FL_REASON_FLASH);
        return 1;
    }
    if (result == FL_SINK_FINISHED && s->available == s->image_size) {
        s->phase = FL_PHASE_VERIFY;
        ctx->state = FL_STATE_VERIFYING;
        s->digest = sink->digest(ctx, job);
        if (s->phase == FL_PHASE_VERIFY) {
            s->phase = FL_PHASE_DONE;
            s->completed = 1;
            ctx->state = FL_STATE_DONE;
        }
        return 1;
    }
    return worked || result == FL_SINK_WORKED;
}

unsigned fl_stream_run(struct fl_ctx* ctx, const struct fl_sink* sink, void* job, unsigned refused, uint32_t scratch) {
    struct fl_stream s;
    uint8_t* zero = (uint8_t*)&s;
    uint32_t i;
    for (i = 0; i < sizeof s; ++i) zero[i] = 0;
    fl_wire_init(&s);
    /* A refused job gets no buffers: nothing it is sent is kept. */
    if (!refused) {
        for (i = 0; i < FL_STREAM_BUFFERS; ++i) s.buffer[i] = fl_ram(scratch + i * FL_STREAM_MAX_PAYLOAD);
    }
    s.image = fl_ram(ctx->params.image_address);
    s.image_size = ctx->params.image_size;
    s.refused = refused;
    s.phase = FL_PHASE_COMMAND;
    ctx->state = FL_STATE_ERASING;
    ctx->stream = &s;

    fl_wire_set_divisor(ctx, FL_ROM_DIVISOR);
    s.last_frame_us = s.last_byte_us = fl_now_us(ctx);
    while (s.phase != FL_PHASE_QUIT) {
        fl_service(ctx);
        check_time(ctx, &s);
        if (!work(ctx, &s, sink, job)) fl_write32(ctx->board->sysctl + FL_SYS_WAIT_FOR_HOST, 1);
    }
    /* The host has had the last word; the boot ROM listens at its own speed. */
    fl_wire_set_divisor(ctx, FL_ROM_DIVISOR);
    ctx->stream = 0;
    if (s.error) return s.error;
    if (s.refused) return s.refused;
    if (s.completed) return FL_STATE_DONE;
    return s.written ? FL_STATE_PROGRAM_ERROR : FL_STATE_ERASE_ERROR;
}
