/* NOR flash: a x16 part with the CFI query and the AMD-style command set.
 * The sector map comes from the part's CFI table, so the same code serves any
 * sector layout. Sectors that the image covers only partly keep their other
 * bytes: those are saved to RAM behind the image before the erase and written
 * back with the image. In streaming mode sectors are erased as the image reaches
 * them and words are programmed as soon as their bytes have been decoded. */
#include "fl_internal.h"
#include "fl_stream.h"

#define NOR_UNLOCK1 0x555u
#define NOR_UNLOCK2 0x2AAu
#define NOR_CFI_QUERY 0x55u
#define NOR_DQ6 0x40u
#define NOR_DQ5 0x20u
#define NOR_MAX_REGIONS 4u

#define NOR_ERASE_TIMEOUT_US 10000000u
#define NOR_PROGRAM_TIMEOUT_US 50000u
/* Words (programmed or skipped) between two looks at the report channel. */
#define NOR_SERVICE_STRIDE 16u
#define NOR_POLLS_PER_LOOK 16u
/* Words programmed per streaming step, between two rounds of the session. */
#define NOR_STREAM_WORDS 256u

struct nor_geometry {
    uint32_t size;
    unsigned regions;
    uint32_t count[NOR_MAX_REGIONS];
    unsigned shift[NOR_MAX_REGIONS]; /* log2 of the sector size */
};

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

static unsigned log2_of(uint32_t value) {
    unsigned shift = 0;
    while ((1u << shift) < value && shift < 31) ++shift;
    return shift;
}

static int nor_query(uint32_t base, struct nor_geometry* geometry) {
    uint32_t total = 0;
    unsigned i;
    fl_write16(base, 0xF0);
    nor_command(base, NOR_CFI_QUERY, 0x98);
    if ((fl_read16(base + 0x20) & 0xFF) != 'Q' || (fl_read16(base + 0x22) & 0xFF) != 'R' ||
        (fl_read16(base + 0x24) & 0xFF) != 'Y') {
        fl_write16(base, 0xF0);
        return -1;
    }
    geometry->size = 1u << (fl_read16(base + (0x27u << 1)) & 0x1F);
    geometry->regions = fl_read16(base + (0x2Cu << 1)) & 0xFF;
    if (geometry->regions == 0 || geometry->regions > NOR_MAX_REGIONS) {
        fl_write16(base, 0xF0);
        return -1;
    }
    for (i = 0; i < geometry->regions; ++i) {
        const uint32_t at = base + ((0x2Du + 4 * i) << 1);
        const uint32_t count = (fl_read16(at) & 0xFF) | ((fl_read16(at + 2) & 0xFF) << 8);
        const uint32_t units = (fl_read16(at + 4) & 0xFF) | ((fl_read16(at + 6) & 0xFF) << 8);
        geometry->count[i] = count + 1;
        geometry->shift[i] = log2_of(units ? units << 8 : 128);
        total += geometry->count[i] << geometry->shift[i];
    }
    fl_write16(base, 0xF0);
    return total == geometry->size ? 0 : -1;
}

/* Start and size of the sector holding a device offset. */
static void nor_sector(const struct nor_geometry* geometry, uint32_t offset, uint32_t* start, uint32_t* size) {
    uint32_t region = 0;
    unsigned i;
    *start = 0;
    *size = 0;
    for (i = 0; i < geometry->regions; ++i) {
        const uint32_t length = geometry->count[i] << geometry->shift[i];
        if (offset - region < length || i + 1 == geometry->regions) {
            *size = 1u << geometry->shift[i];
            *start = region + (((offset - region) >> geometry->shift[i]) << geometry->shift[i]);
            return;
        }
        region += length;
    }
}

/* Polls the toggle bit until the embedded algorithm ends; DQ5 or the time limit
 * end a stuck operation, and a reset returns the part to reading. */
FL_INLINE int nor_wait(struct fl_ctx* ctx, uint32_t addr, uint32_t timeout_us) {
    uint32_t start = 0;
    unsigned polls;
    for (polls = 1;; ++polls) {
        uint16_t first = fl_read16(addr);
        uint16_t second = fl_read16(addr);
        if (!((first ^ second) & NOR_DQ6)) return 0;
        if (second & NOR_DQ5) {
            first = fl_read16(addr);
            second = fl_read16(addr);
            if (!((first ^ second) & NOR_DQ6)) return 0;
            break;
        }
        /* Most operations end within a few polls; the clock and the host are
         * looked at only when one takes longer. */
        if (polls % NOR_POLLS_PER_LOOK == 0) {
            fl_service(ctx);
            if (polls == NOR_POLLS_PER_LOOK)
                start = fl_now_us(ctx);
            else if (fl_now_us(ctx) - start > timeout_us)
                break;
        }
    }
    fl_write16(addr & ~1u, 0xF0);
    return -1;
}

FL_INLINE uint8_t nor_source(const struct nor_job* job, uint32_t offset) {
    if (offset < job->start) return job->saved[offset - job->first];
    if (offset < job->end) return job->image[offset - job->start];
    return job->saved[(job->start - job->first) + (offset - job->end)];
}

FL_INLINE uint16_t nor_source16(const struct nor_job* job, uint32_t offset) {
    return (uint16_t)(nor_source(job, offset) | (nor_source(job, offset + 1) << 8));
}

/* Image bytes that lie before `offset` of the job's span. */
FL_INLINE uint32_t nor_image_done(const struct nor_job* job, uint32_t offset) {
    if (offset <= job->start) return 0;
    return offset < job->end ? offset - job->start : job->end - job->start;
}

static int nor_erase_sector(struct fl_ctx* ctx, uint32_t base, uint32_t start) {
    nor_unlock(base);
    nor_command(base, NOR_UNLOCK1, 0x80);
    nor_unlock(base);
    fl_write16(base + start, 0x30);
    return nor_wait(ctx, base + start, NOR_ERASE_TIMEOUT_US);
}

static int nor_erase(struct fl_ctx* ctx, const struct nor_job* job, const struct nor_geometry* geometry) {
    uint32_t offset = job->first;
    while (offset < job->last) {
        uint32_t start, size;
        nor_sector(geometry, offset, &start, &size);
        if (nor_erase_sector(ctx, job->base, start) != 0) return -1;
        offset = start + size;
        fl_progress(ctx, nor_image_done(job, offset));
    }
    return 0;
}

/* Programs in unlock bypass mode: two bus cycles a word instead of four. */
static int nor_program(struct fl_ctx* ctx, const struct nor_job* job) {
    uint32_t offset;
    unsigned words = 0;
    int result = 0;
    nor_unlock(job->base);
    nor_command(job->base, NOR_UNLOCK1, 0x20);
    for (offset = job->first; offset < job->last; offset += 2) {
        const uint16_t value = nor_source16(job, offset);
        if (++words % NOR_SERVICE_STRIDE == 0) {
            fl_progress(ctx, nor_image_done(job, offset));
            fl_service(ctx);
        }
        if (value == 0xFFFF) continue;
        fl_write16(job->base, 0xA0);
        fl_write16(job->base + offset, value);
        if (nor_wait(ctx, job->base + offset, NOR_PROGRAM_TIMEOUT_US) != 0) {
            result = -1;
            break;
        }
    }
    fl_write16(job->base, 0x90);
    fl_write16(job->base, 0x00);
    return result;
}

static int nor_verify(struct fl_ctx* ctx, const struct nor_job* job) {
    uint32_t offset;
    for (offset = job->first; offset < job->last; offset += 4) {
        const uint32_t want = nor_source16(job, offset) | ((uint32_t)nor_source16(job, offset + 2) << 16);
        if (fl_read32(job->base + offset) != want) return -1;
        if ((offset & 0x3FF) == 0) {
            fl_progress(ctx, nor_image_done(job, offset));
            fl_service(ctx);
        }
    }
    return 0;
}

/* Checks the job against the device and RAM, and saves the kept bytes of partly
 * covered sectors behind the image. 0, or the state code that refuses the job;
 * *free_ram is the first RAM address past what the job uses. */
static unsigned nor_prepare(struct fl_ctx* ctx, struct nor_job* job, struct nor_geometry* geometry,
                            uint32_t* free_ram) {
    const struct fl_board* board = ctx->board;
    const struct fl_params* params = &ctx->params;
    uint32_t sector, size, head, tail, saved, i;

    job->base = board->nor_base;
    if (params->flash_address - board->nor_base >= board->nor_size || (params->flash_address & 1) ||
        params->image_size > board->nor_base + board->nor_size - params->flash_address)
        return FL_STATE_ERASE_ERROR;
    if (params->partition_end != 0 && (params->partition_end < params->flash_address ||
                                       params->image_size - 1 > params->partition_end - params->flash_address))
        return FL_STATE_ERASE_ERROR;
    if (!fl_ram_holds(ctx, params->image_address, params->image_size)) return FL_STATE_ERASE_ERROR;
    if (nor_query(job->base, geometry) != 0 || geometry->size < board->nor_size) return FL_STATE_ERASE_ERROR;

    job->start = params->flash_address - board->nor_base;
    job->end = job->start + params->image_size;
    nor_sector(geometry, job->start, &job->first, &size);
    nor_sector(geometry, job->end - 1, &sector, &size);
    job->last = sector + size;
    job->image = fl_ram(params->image_address);
    head = job->start - job->first;
    tail = job->last - job->end;
    saved = (params->image_address + params->image_size + 3) & ~3u;
    if (!fl_ram_holds(ctx, saved, head + tail)) return FL_STATE_ERASE_ERROR;
    {
        uint8_t* keep = fl_ram(saved);
        for (i = 0; i < head; ++i) keep[i] = fl_read8(job->base + job->first + i);
        for (i = 0; i < tail; ++i) keep[head + i] = fl_read8(job->base + job->end + i);
        job->saved = keep;
    }
    *free_ram = (saved + head + tail + 3) & ~3u;
    return 0;
}

struct nor_stream {
    struct nor_job job;
    struct nor_geometry geometry;
    uint32_t next;   /* device offset of the next word to program */
    uint32_t erased; /* the sectors below this device offset are erased */
    int bypass;
};

static void nor_leave_bypass(struct nor_stream* s) {
    if (!s->bypass) return;
    fl_write16(s->job.base, 0x90);
    fl_write16(s->job.base, 0x00);
    s->bypass = 0;
}

static int nor_stream_step(struct fl_ctx* ctx, void* state, uint32_t available, uint32_t* written) {
    struct nor_stream* s = state;
    const struct nor_job* job = &s->job;
    /* A word may be programmed once both its bytes are there; the kept bytes behind
     * the image only go with its last word. */
    const uint32_t limit = available == ctx->params.image_size ? job->last : ((job->start + available) & ~1u);
    /* In a local, not in *s: a store to RAM a word is costly on the emulated board. */
    uint32_t next = s->next;
    unsigned words;
    int result = FL_SINK_WORKED;
    if (next >= job->last) {
        nor_leave_bypass(s);
        return FL_SINK_FINISHED;
    }
    if (next >= limit) return FL_SINK_WAITING;
    if (next >= s->erased) {
        uint32_t start, size;
        nor_leave_bypass(s);
        nor_sector(&s->geometry, next, &start, &size);
        ctx->state = FL_STATE_ERASING;
        if (nor_erase_sector(ctx, job->base, start) != 0) return FL_STATE_ERASE_ERROR;
        s->erased = start + size;
        /* One erase a step: the receiver catches up before programming goes on. */
        return FL_SINK_WORKED;
    }
    if (!s->bypass) {
        nor_unlock(job->base);
        nor_command(job->base, NOR_UNLOCK1, 0x20);
        s->bypass = 1;
    }
    ctx->state = FL_STATE_PROGRAMMING;
    for (words = 0; words < NOR_STREAM_WORDS && next < limit && next < s->erased; ++words) {
        const uint16_t value = nor_source16(job, next);
        if (words % NOR_SERVICE_STRIDE == NOR_SERVICE_STRIDE - 1) fl_service(ctx);
        if (value != 0xFFFF) {
            fl_write16(job->base, 0xA0);
            fl_write16(job->base + next, value);
            if (nor_wait(ctx, job->base + next, NOR_PROGRAM_TIMEOUT_US) != 0) {
                nor_leave_bypass(s);
                result = FL_STATE_PROGRAM_ERROR;
                break;
            }
        }
        next += 2;
    }
    s->next = next;
    if (next > job->start) *written = next >= job->end ? job->end - job->start : next - job->start;
    return result;
}

static uint32_t nor_stream_digest(struct fl_ctx* ctx, void* state) {
    const struct nor_stream* s = state;
    return fl_stream_digest_bus(ctx, s->job.base + s->job.start, s->job.end - s->job.start);
}

static unsigned nor_stream_run(struct fl_ctx* ctx) {
    static const struct fl_sink sink = {nor_stream_step, nor_stream_digest};
    struct nor_stream s = {0};
    uint32_t scratch = 0;
    unsigned refused = FL_STATE_ERASE_ERROR;
    if (ctx->params.image_size != 0) refused = nor_prepare(ctx, &s.job, &s.geometry, &scratch);
    if (!refused && !fl_ram_holds(ctx, scratch, FL_STREAM_SCRATCH)) refused = FL_STATE_ERASE_ERROR;
    s.next = s.job.first;
    s.erased = s.job.first;
    return fl_stream_run(ctx, &sink, &s, refused, scratch);
}

unsigned fl_nor_run(struct fl_ctx* ctx) {
    struct nor_geometry geometry;
    struct nor_job job;
    uint32_t free_ram;
    unsigned refused;

    if (ctx->params.stream) return nor_stream_run(ctx);
    if (ctx->params.image_size == 0) {
        ctx->state = FL_STATE_VERIFYING;
        return FL_STATE_DONE;
    }
    refused = nor_prepare(ctx, &job, &geometry, &free_ram);
    if (refused) return refused;
    fl_service(ctx);

    if (nor_erase(ctx, &job, &geometry) != 0) return FL_STATE_ERASE_ERROR;
    ctx->state = FL_STATE_PROGRAMMING;
    if (nor_program(ctx, &job) != 0) return FL_STATE_PROGRAM_ERROR;
    ctx->state = FL_STATE_VERIFYING;
    if (nor_verify(ctx, &job) != 0) return FL_STATE_VERIFY_ERROR;
    return FL_STATE_DONE;
}
