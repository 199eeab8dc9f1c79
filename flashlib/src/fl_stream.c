/* What the streaming session's frames mean, and the loop that decodes blocks and
 * drives the flash job between them. Three receive buffers: a block is accepted
 * (and the host may send the next) as soon as it is checked and buffers are free
 * for the window behind it; decoding empties a buffer within milliseconds, and
 * the flash is written from the decoded image in RAM while later blocks arrive.
 * The requests of version 2 (ranges) are in fl_range.c. */
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

void fl_stream_fail(struct fl_ctx* ctx, struct fl_stream* s, unsigned state, unsigned reason) {
    unsigned i;
    /* Nothing received is written after a failure. */
    for (i = 0; i < FL_STREAM_BUFFERS; ++i) s->full[i] = 0;
    s->queued = 0;
    s->ack_pending = 0;
    s->error = state;
    s->reason = reason;
    s->phase = FL_PHASE_FAILED;
    ctx->state = state;
    fl_wire_reply(ctx, FL_MSG_ERROR, s->expected, state, reason, s->written);
}

/* The UART's divisor for a rate, 0 when none makes it exactly. A loop rather than
 * a division: the library carries no division routine. */
static uint32_t divisor_of(uint32_t baud) {
    uint32_t divisor, product = 0;
    if (baud == 0) return 0;
    for (divisor = 1; divisor <= 0xFFFFu && baud <= FL_UART_CLOCK_BAUD - product; ++divisor) {
        product += baud;
        if (product == FL_UART_CLOCK_BAUD) return divisor;
    }
    return 0;
}

void fl_stream_speed(struct fl_ctx* ctx, struct fl_stream* s, uint32_t baud) {
    const uint32_t divisor = divisor_of(baud);
    const int ending = s->phase != FL_PHASE_COMMAND || s->ended;
    if (s->refused) {
        fl_wire_reply(ctx, FL_MSG_ERROR, 0, s->refused, FL_REASON_JOB, 0);
        return;
    }
    /* Once blocks have flowed, the only change left is back to the boot ROM's speed. */
    if (divisor == 0 || (ending && divisor != FL_ROM_DIVISOR)) {
        fl_wire_reply(ctx, FL_MSG_REFUSED, 0, ctx->state, FL_REASON_SPEED, baud);
        return;
    }
    /* Ranged writes may still wait in RAM: the request writes them first. */
    if (ending && s->version >= FL_STREAM_RANGES && s->serving != FL_FRAME_SPEED) {
        fl_range_request(ctx, s, FL_FRAME_SPEED, 0, baud);
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
    if ((s->phase == FL_PHASE_STREAM || s->phase == FL_PHASE_VERIFY) && s->mode == FL_MODE_SEQUENTIAL && !s->error) {
        s->error = s->written ? FL_STATE_PROGRAM_ERROR : FL_STATE_ERASE_ERROR;
        s->reason = FL_REASON_HOST;
    }
    s->ended = 1;
    s->phase = FL_PHASE_COMMAND;
    s->have = 0;
}

/* The first Block of a range starts writing it in order. 0, or the state code
 * that refuses it. */
static unsigned begin_sequential(struct fl_ctx* ctx, struct fl_stream* s) {
    unsigned refused = FL_STATE_ERASE_ERROR;
    if (s->selected && s->span_size <= FL_STREAM_IMAGE_MAX)
        refused = s->device->begin(ctx, s->job, s->image, s->work + FL_WORK_KEPT);
    if (refused) return refused;
    s->mode = FL_MODE_SEQUENTIAL;
    s->image_size = s->span_size;
    return 0;
}

static void block(struct fl_ctx* ctx, struct fl_stream* s, unsigned kind, uint16_t seq, uint32_t argument,
                  uint32_t length) {
    uint32_t size = argument & ~FL_BLOCK_STORED;
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
    if (taken < 0 || s->full[taken]) return;
    if (kind == FL_FRAME_WRITE) {
        /* Once a stream in order is done, blocks may change it. */
        if ((s->mode == FL_MODE_SEQUENTIAL && s->phase != FL_PHASE_DONE) || !s->selected || s->block_shift == 0 ||
            size >= s->blocks) {
            fl_wire_reply(ctx, FL_MSG_ERROR, seq, ctx->state, FL_REASON_REQUEST, s->written);
            return;
        }
        if ((argument & FL_BLOCK_STORED) && length != fl_range_block_size(s, size)) {
            fl_stream_fail(ctx, s, FL_STATE_PROGRAM_ERROR, FL_REASON_DATA);
            return;
        }
        s->mode = FL_MODE_BLOCKS;
        s->phase = FL_PHASE_STREAM; /* more writes after a digest: the digest is old */
        size = 0;
    } else {
        if (s->phase != FL_PHASE_STREAM) return;
        if (s->mode == FL_MODE_BLOCKS) {
            fl_wire_reply(ctx, FL_MSG_ERROR, seq, ctx->state, FL_REASON_REQUEST, s->written);
            return;
        }
        if (s->mode == FL_MODE_IDLE) {
            const unsigned refused = begin_sequential(ctx, s);
            if (refused) {
                fl_stream_fail(ctx, s, refused, FL_REASON_JOB);
                return;
            }
        }
        if (size == 0 || size > s->image_size - s->announced || ((argument & FL_BLOCK_STORED) && length != size)) {
            fl_stream_fail(ctx, s, FL_STATE_PROGRAM_ERROR, FL_REASON_DATA);
            return;
        }
    }
    s->full[taken] = 1;
    s->placed[taken] = s->in_place;
    s->kind[taken] = (uint8_t)kind;
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
    else if (s->phase != FL_PHASE_STREAM)
        return;
    else if (s->mode == FL_MODE_SEQUENTIAL || s->version < FL_STREAM_RANGES)
        fl_wire_reply(ctx, FL_MSG_PROGRESS, s->expected, ctx->state, 0, s->written);
    else if (s->serving || s->request || s->queued)
        fl_wire_reply(ctx, FL_MSG_PROGRESS, s->expected, ctx->state, 0, s->verified);
    else
        fl_range_request(ctx, s, FL_FRAME_FINISH, 0, 0);
}

static void hello(struct fl_ctx* ctx, struct fl_stream* s, uint32_t version) {
    /* A host that knows ranges may name none in the parameter block. */
    if (version >= FL_STREAM_RANGES && s->work) {
        s->version = FL_STREAM_RANGES;
        if (s->no_job) s->refused = 0;
    }
    fl_wire_reply(ctx, FL_MSG_HELLO, s->version, s->refused ? s->refused : ctx->state,
                  s->refused ? FL_REASON_JOB : s->reason, FL_STREAM_MAX_PAYLOAD);
}

void fl_stream_frame(struct fl_ctx* ctx, struct fl_stream* s) {
    const unsigned kind = s->header[1];
    const uint16_t seq = (uint16_t)(s->header[2] | (s->header[3] << 8));
    const uint32_t argument = fl_get32(s->header + 8);
    s->last_frame_us = fl_now_us(ctx);
    switch (kind) {
        case FL_FRAME_HELLO:
            if (s->phase == FL_PHASE_COMMAND) hello(ctx, s, argument);
            break;
        case FL_FRAME_SPEED:
            if (s->phase != FL_PHASE_SYNC) fl_stream_speed(ctx, s, argument);
            break;
        case FL_FRAME_SYNC:
            if (s->phase == FL_PHASE_SYNC || s->phase == FL_PHASE_STREAM)
                fl_wire_reply(ctx, FL_MSG_SYNC, seq, ctx->state, 0, argument);
            break;
        case FL_FRAME_BLOCK:
        case FL_FRAME_WRITE:
            block(ctx, s, kind, seq, argument, fl_get32(s->header + 4));
            break;
        case FL_FRAME_FINISH:
            finish(ctx, s);
            break;
        case FL_FRAME_QUIT:
            if (s->version >= FL_STREAM_RANGES) {
                fl_range_request(ctx, s, kind, seq, argument);
                break;
            }
            fl_wire_reply(ctx, FL_MSG_QUIT, seq, ctx->state, s->reason, s->written);
            s->phase = FL_PHASE_QUIT;
            break;
        default:
            /* Range, digests, erase (only a version 2 session's receiver lets them through). */
            if (s->phase == FL_PHASE_SYNC) s->phase = FL_PHASE_STREAM;
            if (s->phase != FL_PHASE_COMMAND && s->phase != FL_PHASE_QUIT)
                fl_range_request(ctx, s, kind, seq, argument);
            break;
    }
}

void fl_stream_damaged(struct fl_ctx* ctx, struct fl_stream* s, unsigned reason) {
    /* Only blocks are worth asking for again; anything else the host repeats by itself. */
    if (s->phase == FL_PHASE_STREAM) fl_wire_reply(ctx, FL_MSG_REJECTED, s->expected, ctx->state, reason, s->written);
}

int fl_stream_tick(struct fl_ctx* ctx, uint32_t bytes) {
    struct fl_stream* s = ctx->stream;
    s->verified = s->tick_base + bytes;
    fl_service(ctx);
    fl_wire_timers(ctx, s, fl_now_us(ctx));
    return s->abort || (s->phase != FL_PHASE_VERIFY && s->phase != FL_PHASE_STREAM && s->phase != FL_PHASE_DONE);
}

/* A ranged block into the flash (or its copy in RAM); 0, or failed. */
static int write_ranged(struct fl_ctx* ctx, struct fl_stream* s, int i) {
    const uint32_t index = s->argument[i] & ~FL_BLOCK_STORED;
    const uint32_t size = fl_range_block_size(s, index);
    const uint8_t* data = s->buffer[i];
    unsigned result;
    if (!(s->argument[i] & FL_BLOCK_STORED)) {
        uint8_t* decoded = s->work + FL_WORK_DECODED;
        uint32_t pos = 0;
        /* Each ranged block is a deflate stream of its own. */
        result = (unsigned)fl_inflate(s->buffer[i], s->length[i], decoded, size, &pos);
        if ((result != FL_INFLATE_OK && result != FL_INFLATE_FINAL) || pos != size) {
            fl_stream_fail(ctx, s, FL_STATE_PROGRAM_ERROR, FL_REASON_DATA);
            return -1;
        }
        data = decoded;
    }
    ctx->state = FL_STATE_PROGRAMMING;
    result = s->device->write(ctx, s->job, index << s->block_shift, data, size);
    if (result) {
        fl_stream_fail(ctx, s, result, FL_REASON_FLASH);
        return -1;
    }
    s->written += size;
    return 0;
}

/* Decodes the oldest received block into the image; nonzero when there was one. */
static int decode_next(struct fl_ctx* ctx, struct fl_stream* s) {
    int i;
    uint32_t size, end, pos, k;
    if (s->queued == 0) return 0;
    i = s->queue[0];
    size = s->argument[i] & ~FL_BLOCK_STORED;
    end = s->available + size;
    if (s->kind[i] == FL_FRAME_WRITE) {
        if (write_ranged(ctx, s, i) != 0) return 1;
        end = s->available;
    } else if (s->placed[i]) {
        /* Already where it belongs. */
    } else if (s->argument[i] & FL_BLOCK_STORED) {
        for (k = 0; k < size; ++k) s->image[s->available + k] = s->buffer[i][k];
    } else {
        int result;
        pos = s->available;
        result = fl_inflate(s->buffer[i], s->length[i], s->image, end, &pos);
        if ((result != FL_INFLATE_OK && result != FL_INFLATE_FINAL) || pos != end ||
            (result == FL_INFLATE_FINAL && end != s->image_size)) {
            fl_stream_fail(ctx, s, FL_STATE_PROGRAM_ERROR, FL_REASON_DATA);
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
                if (s->phase != FL_PHASE_DONE && !s->error && s->mode == FL_MODE_SEQUENTIAL) {
                    s->error = s->written ? FL_STATE_PROGRAM_ERROR : FL_STATE_ERASE_ERROR;
                    s->reason = FL_REASON_HOST;
                }
                s->phase = FL_PHASE_QUIT;
            }
            break;
    }
}

/* One round of flash work; nonzero when something was done. */
static int work(struct fl_ctx* ctx, struct fl_stream* s) {
    int result, worked;
    if (s->phase != FL_PHASE_STREAM) return 0;
    worked = decode_next(ctx, s);
    if (s->phase != FL_PHASE_STREAM || s->mode != FL_MODE_SEQUENTIAL) return worked;
    result = s->device->step(ctx, s->job, s->available, &s->written);
    if (result >= (int)FL_STATE_ERASE_ERROR) {
        fl_stream_fail(ctx, s, (unsigned)result, FL_REASON_FLASH);
        return 1;
    }
    if (result == FL_SINK_FINISHED && s->available == s->image_size) {
        s->phase = FL_PHASE_VERIFY;
        ctx->state = FL_STATE_VERIFYING;
        /* A page that cannot be read leaves a digest that cannot match the host's. */
        fl_range_crc(ctx, s, s->image_size);
        if (s->phase == FL_PHASE_VERIFY) {
            s->phase = FL_PHASE_DONE;
            s->completed = 1;
            ctx->state = FL_STATE_DONE;
        }
        return 1;
    }
    return worked || result == FL_SINK_WORKED;
}

/* The parameter block's image is the first range: refused as version 1 always did. */
static unsigned first_range(struct fl_ctx* ctx, struct fl_stream* s) {
    struct fl_span span;
    unsigned refused;
    span.address = ctx->params.flash_address;
    span.size = ctx->params.image_size;
    span.partition_end = ctx->params.partition_end;
    if (!s->work || span.size == 0 || span.size > FL_STREAM_IMAGE_MAX ||
        !fl_ram_holds(ctx, ctx->params.image_address, span.size))
        return FL_STATE_ERASE_ERROR;
    refused = s->device->select(ctx, s->job, &span, s->work + FL_WORK_DEVICE);
    if (refused) return refused;
    s->selected = 1;
    s->span_size = span.size;
    return begin_sequential(ctx, s);
}

unsigned fl_stream_run(struct fl_ctx* ctx, const struct fl_device* device, void* job) {
    struct fl_stream s;
    uint8_t* zero = (uint8_t*)&s;
    const uint32_t work_ram = (ctx->params.image_address + FL_STREAM_IMAGE_MAX + 3u) & ~3u;
    uint32_t i;
    for (i = 0; i < sizeof s; ++i) zero[i] = 0;
    s.device = device;
    s.job = job;
    s.version = FL_STREAM_VERSION;
    s.image = fl_ram(ctx->params.image_address);
    s.no_job = ctx->params.image_size == 0;
    ctx->state = FL_STATE_ERASING;
    ctx->stream = &s;
    /* Computed at start-up rather than stored: 3 KiB less to load over the line. */
    fl_digest_tables(s.crc32_table, s.crc64_low, s.crc64_high);
    if (fl_ram_holds(ctx, work_ram, FL_WORK_SIZE)) s.work = fl_ram(work_ram);
    /* The host's first frames wait in the UART until the session can answer them:
     * taken while the device is looked at, a speed change would be undone below. */
    s.phase = FL_PHASE_QUIT;
    s.refused = first_range(ctx, &s);
    s.phase = FL_PHASE_COMMAND;
    /* A refused job takes no blocks: the speed change that would let them in is refused. */
    if (s.work) {
        for (i = 0; i < FL_STREAM_BUFFERS; ++i) s.buffer[i] = s.work + FL_WORK_RECEIVE + i * FL_STREAM_MAX_PAYLOAD;
    }

    fl_wire_set_divisor(ctx, FL_ROM_DIVISOR);
    s.last_frame_us = s.last_byte_us = fl_now_us(ctx);
    while (s.phase != FL_PHASE_QUIT) {
        fl_service(ctx);
        check_time(ctx, &s);
        if (s.request && (s.queued == 0 || s.phase != FL_PHASE_STREAM))
            fl_range_serve(ctx, &s);
        else if (!work(ctx, &s))
            fl_write32(ctx->board->sysctl + FL_SYS_WAIT_FOR_HOST, 1);
    }
    /* Whatever ranged writes still wait in RAM go to the flash before the board is
     * handed back, however the session ended. */
    if (fl_range_flush(ctx, &s) && !s.error) s.error = FL_STATE_PROGRAM_ERROR;
    /* The host has had the last word; the boot ROM listens at its own speed. */
    fl_wire_set_divisor(ctx, FL_ROM_DIVISOR);
    ctx->stream = 0;
    if (s.error) return s.error;
    if (s.refused) return s.refused;
    if (s.completed || s.version >= FL_STREAM_RANGES) return FL_STATE_DONE;
    return s.written ? FL_STATE_PROGRAM_ERROR : FL_STATE_ERASE_ERROR;
}
