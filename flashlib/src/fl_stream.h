/* Streaming mode of the flash libraries (DATASHEET.md, "Streaming mode"): the
 * library takes the image over the serial line instead of from RAM. The session
 * answers the host at the boot ROM's speed, switches the UART to the speed the
 * host asks for, receives the image in numbered, CRC-checked blocks of deflate
 * data, decodes them into RAM and has the flash job write what has arrived while
 * the next blocks come in. At the end it reads the flash back and reports a
 * CRC-32 of it, which the host compares with its own.
 *
 * The flash jobs (NOR, NAND) plug in as a sink: bounded pieces of flash work and
 * a read-back. Every wait of the session is bounded; a host that goes away leaves
 * the UART at the boot ROM's speed and the board back in its boot ROM. */
#ifndef FL_STREAM_H
#define FL_STREAM_H

#include "fl_internal.h"

/* Largest block payload; blocks the host may send ahead of the library's answer;
 * the receive buffers that takes (one more, for the block being decoded); and the
 * RAM they need. */
#define FL_STREAM_MAX_PAYLOAD 16384u
#define FL_STREAM_WINDOW 2u
#define FL_STREAM_BUFFERS (FL_STREAM_WINDOW + 1u)
#define FL_STREAM_SCRATCH (FL_STREAM_BUFFERS * FL_STREAM_MAX_PAYLOAD)

/* What a sink's step did. Error state codes (0xB1, 0xB2) are returned as they are. */
enum { FL_SINK_WAITING = 0, FL_SINK_WORKED = 1, FL_SINK_FINISHED = 2 };

struct fl_sink {
    /* Writes a bounded piece of the image, of which `available` bytes are in RAM
     * (the whole image when available equals its size); keeps *written (image bytes
     * in flash) and ctx->state (erasing or programming) up to date. */
    int (*step)(struct fl_ctx* ctx, void* job, uint32_t available, uint32_t* written);
    /* CRC-32 of the image's bytes as the flash now holds them. Reports its progress
     * through fl_stream_verified and gives up when that says so. */
    uint32_t (*digest)(struct fl_ctx* ctx, void* job);
};

/* Runs a session for a job. `refused`: 0 when the job's checks passed, else the
 * state code the host is told (nothing is then written). The image is decoded to
 * the parameter block's image address; `scratch` is FL_STREAM_SCRATCH bytes of RAM
 * for the receive buffers. Returns the final state code. */
unsigned fl_stream_run(struct fl_ctx* ctx, const struct fl_sink* sink, void* job, unsigned refused, uint32_t scratch);

/* Takes the host's bytes for the session (called through fl_service). */
void fl_stream_service(struct fl_ctx* ctx);

/* Read-back progress of a digest; keeps the host answered. Nonzero: stop, the
 * session is over. */
int fl_stream_verified(struct fl_ctx* ctx, uint32_t bytes);

/* CRC-32 as zlib's crc32(): continue from `crc` (0 to start) over data. */
uint32_t fl_stream_crc(const struct fl_ctx* ctx, uint32_t crc, const uint8_t* data, uint32_t size);

/* Digest of memory-mapped flash (NOR): [addr, addr + size) read over the bus. */
uint32_t fl_stream_digest_bus(struct fl_ctx* ctx, uint32_t addr, uint32_t size);

#endif
