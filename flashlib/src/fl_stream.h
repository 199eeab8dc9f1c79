/* Streaming mode of the flash libraries (DATASHEET.md, "Streaming mode"): the
 * library takes the image over the serial line instead of from RAM. The session
 * answers the host at the boot ROM's speed, switches the UART to the speed the
 * host asks for, receives the image in numbered, CRC-checked blocks of deflate
 * data, decodes them into RAM and has the flash job write what has arrived while
 * the next blocks come in. At the end it reads the flash back and reports a
 * CRC-32 of it, which the host compares with its own.
 *
 * Protocol version 2 adds ranges: a host names a span of flash, asks for the
 * digests of its blocks, writes the blocks that differ at any offset, erases it,
 * and goes on with the next span in the same session.
 *
 * The flash jobs (NOR, NAND) plug in as a device: bounded pieces of sequential
 * flash work, reads of the span, ranged writes, erases. Every wait of the session
 * is bounded; a host that goes away leaves the UART at the boot ROM's speed and
 * the board back in its boot ROM. */
#ifndef FL_STREAM_H
#define FL_STREAM_H

#include "fl_digest.h"
#include "fl_internal.h"

/* Largest block payload; blocks the host may send ahead of the library's answer;
 * the receive buffers that takes (one more, for the block being decoded). */
#define FL_STREAM_MAX_PAYLOAD 16384u
#define FL_STREAM_WINDOW 2u
#define FL_STREAM_BUFFERS (FL_STREAM_WINDOW + 1u)

/* RAM of a session, from the parameter block's image address on: the image of a
 * sequential stream (at most FL_STREAM_IMAGE_MAX bytes), then the work area. */
#define FL_STREAM_IMAGE_MAX 0x2000000u
/* The largest erase unit the libraries take a copy of. */
#define FL_SECTOR_MAX 0x40000u
#define FL_WORK_KEPT 0u /* kept bytes of the partly covered sectors at both ends of a span */
#define FL_WORK_RECEIVE (FL_WORK_KEPT + 2u * FL_SECTOR_MAX)
#define FL_WORK_DECODED (FL_WORK_RECEIVE + FL_STREAM_BUFFERS * FL_STREAM_MAX_PAYLOAD) /* one ranged block */
#define FL_WORK_DIGESTS (FL_WORK_DECODED + FL_STREAM_MAX_PAYLOAD)
#define FL_WORK_DEVICE (FL_WORK_DIGESTS + 0x1000u) /* the device's own: sector copies, block map */
#define FL_WORK_SIZE (FL_WORK_DEVICE + 2u * FL_SECTOR_MAX)

/* What a device's step did. Error state codes (0xB1, 0xB2) are returned as they are. */
enum { FL_SINK_WAITING = 0, FL_SINK_WORKED = 1, FL_SINK_FINISHED = 2 };

/* A span of flash: NOR: bus address; NAND: offset. partition_end: its last byte,
 * 0 for the end of the device. */
struct fl_span {
    uint32_t address;
    uint32_t size;
    uint32_t partition_end;
};

/* What an erase covered: its first byte and one past its last (as span
 * addresses), the sectors or blocks erased, and bad blocks skipped between. */
struct fl_erased {
    uint32_t start;
    uint32_t end;
    uint32_t units;
    uint32_t skipped;
};

/* A flash job's operations. Offsets are bytes from the start of the selected span
 * (NAND: as the span's good blocks hold them). Every function that returns a
 * state code returns 0 when it went well. */
struct fl_device {
    /* Checks a span against the device and prepares its map in `work`
     * (2 * FL_SECTOR_MAX bytes). Nothing is written. */
    unsigned (*select)(struct fl_ctx* ctx, void* job, const struct fl_span* span, uint8_t* work);
    /* Prepares writing the whole span in order from `image`; saves what must be
     * kept of partly covered sectors to `kept`. */
    unsigned (*begin)(struct fl_ctx* ctx, void* job, const uint8_t* image, uint8_t* kept);
    /* Writes a bounded piece of the image, of which `available` bytes are in RAM;
     * keeps *written (image bytes in flash) and ctx->state (erasing or
     * programming) up to date. */
    int (*step)(struct fl_ctx* ctx, void* job, uint32_t available, uint32_t* written);
    /* Takes [offset, offset + size) as the flash holds it into a digest; nonzero
     * when the flash could not be read or the session told it to stop. */
    int (*scan)(struct fl_ctx* ctx, void* job, uint32_t offset, uint32_t size, struct fl_digest* digest);
    /* Puts bytes at an offset: the sector or block is copied to RAM, changed
     * there, and written back by flush or when a write reaches another one. */
    unsigned (*write)(struct fl_ctx* ctx, void* job, uint32_t offset, const uint8_t* data, uint32_t size);
    unsigned (*flush)(struct fl_ctx* ctx, void* job);
    /* Erases the sectors or blocks that cover the span. */
    unsigned (*erase)(struct fl_ctx* ctx, void* job, struct fl_erased* erased);
};

/* Runs a session for a job. The parameter block's image (if any) is the first
 * span. Returns the final state code. */
unsigned fl_stream_run(struct fl_ctx* ctx, const struct fl_device* device, void* job);

/* Takes the host's bytes for the session (called through fl_service). */
void fl_stream_service(struct fl_ctx* ctx);

/* Long flash work calls this now and then: keeps the host answered and its
 * progress told (bytes done of the work in ctx->state). Nonzero: the session is
 * ending, work that may stop should stop. */
int fl_stream_tick(struct fl_ctx* ctx, uint32_t bytes);

/* CRC-32 as zlib's crc32(): continue from `crc` (0 to start) over data. */
uint32_t fl_stream_crc(const struct fl_ctx* ctx, uint32_t crc, const uint8_t* data, uint32_t size);

#endif
