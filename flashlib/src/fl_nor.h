/* NOR flash for the flash library: a x16 part with the CFI query and the
 * AMD-style command set. Shared by the normal run (fl_nor.c) and streaming
 * mode (fl_nor_stream.c). */
#ifndef FL_NOR_H
#define FL_NOR_H

#include "fl_internal.h"

#define NOR_UNLOCK1 0x555u
#define NOR_UNLOCK2 0x2AAu
#define NOR_DQ6 0x40u
#define NOR_DQ5 0x20u
#define NOR_MAX_REGIONS 4u

#define NOR_ERASE_TIMEOUT_US 10000000u
#define NOR_PROGRAM_TIMEOUT_US 50000u
/* Words (programmed or skipped) between two looks at the report channel. */
#define NOR_SERVICE_STRIDE 16u
#define NOR_POLLS_PER_LOOK 16u

struct nor_geometry {
    uint32_t size;
    unsigned regions;
    uint32_t count[NOR_MAX_REGIONS];
    unsigned shift[NOR_MAX_REGIONS]; /* log2 of the sector size */
};

/* A span to write whole, with the sectors it touches. */
struct nor_job {
    uint32_t base;  /* bus address of the part */
    uint32_t first; /* device offsets: first byte of the first sector touched */
    uint32_t start; /* the image */
    uint32_t end;
    uint32_t last; /* one past the last sector touched */
    const uint8_t* image;
    const uint8_t* saved; /* [first, start) then [end, last) */
};

FL_INLINE void nor_command(uint32_t base, uint32_t word, uint16_t value) { fl_write16(base + (word << 1), value); }

FL_INLINE void nor_unlock(uint32_t base) {
    nor_command(base, NOR_UNLOCK1, 0xAA);
    nor_command(base, NOR_UNLOCK2, 0x55);
}

/* Unlock bypass: two bus cycles a word program instead of four. */
FL_INLINE void nor_enter_bypass(uint32_t base) {
    nor_unlock(base);
    nor_command(base, NOR_UNLOCK1, 0x20);
}

FL_INLINE void nor_leave_bypass(uint32_t base) {
    fl_write16(base, 0x90);
    fl_write16(base, 0x00);
}

/* Polls the toggle bit until the embedded algorithm ends; DQ5 or the time limit
 * end a stuck operation, and a reset returns the part to reading. Out of line:
 * one copy instead of one per caller is worth more over the slow line than the
 * call costs the board. */
int nor_wait(struct fl_ctx* ctx, uint32_t addr, uint32_t timeout_us);

/* One word in bypass mode; 0, or it did not program. */
FL_INLINE int nor_program_word(struct fl_ctx* ctx, uint32_t base, uint32_t offset, uint16_t value) {
    fl_write16(base, 0xA0);
    fl_write16(base + offset, value);
    return nor_wait(ctx, base + offset, NOR_PROGRAM_TIMEOUT_US);
}

FL_INLINE uint8_t nor_source(const struct nor_job* job, uint32_t offset) {
    if (offset < job->start) return job->saved[offset - job->first];
    if (offset < job->end) return job->image[offset - job->start];
    return job->saved[(job->start - job->first) + (offset - job->end)];
}

FL_INLINE uint16_t nor_source16(const struct nor_job* job, uint32_t offset) {
    return (uint16_t)(nor_source(job, offset) | (nor_source(job, offset + 1) << 8));
}

/* Reads the CFI table; 0, or the part does not answer as a CFI part. */
int nor_query(uint32_t base, struct nor_geometry* geometry);
/* Start and size of the sector holding a device offset. */
void nor_sector(const struct nor_geometry* geometry, uint32_t offset, uint32_t* start, uint32_t* size);
int nor_erase_sector(struct fl_ctx* ctx, uint32_t base, uint32_t start);
/* Checks a span against the part (bus address, size, partition end) and reads
 * its geometry; 0 or FL_STATE_ERASE_ERROR. Sets job->base, start and end. */
unsigned nor_check(struct fl_ctx* ctx, uint32_t address, uint32_t size, uint32_t partition_end, struct nor_job* job,
                   struct nor_geometry* geometry);
/* The sectors the span touches (first, last). */
void nor_cover(const struct nor_geometry* geometry, struct nor_job* job);
/* Copies the bytes of those sectors outside the span to `kept`. */
void nor_keep(struct nor_job* job, uint8_t* kept);
/* Streaming mode. */
unsigned fl_nor_stream_run(struct fl_ctx* ctx);

#endif
