/* NOR flash: a x16 part with the CFI query and the AMD-style command set.
 * The sector map comes from the part's CFI table, so the same code serves any
 * sector layout. Sectors that the image covers only partly keep their other
 * bytes: those are saved to RAM behind the image before the erase and written
 * back with the image. Streaming mode is in fl_nor_stream.c. */
#include "fl_nor.h"

#define NOR_CFI_QUERY 0x55u

int nor_wait(struct fl_ctx* ctx, uint32_t addr, uint32_t timeout_us) {
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

static unsigned log2_of(uint32_t value) {
    unsigned shift = 0;
    while ((1u << shift) < value && shift < 31) ++shift;
    return shift;
}

int nor_query(uint32_t base, struct nor_geometry* geometry) {
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

void nor_sector(const struct nor_geometry* geometry, uint32_t offset, uint32_t* start, uint32_t* size) {
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

/* Image bytes that lie before `offset` of the job's span. */
FL_INLINE uint32_t nor_image_done(const struct nor_job* job, uint32_t offset) {
    if (offset <= job->start) return 0;
    return offset < job->end ? offset - job->start : job->end - job->start;
}

int nor_erase_sector(struct fl_ctx* ctx, uint32_t base, uint32_t start) {
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

static int nor_program(struct fl_ctx* ctx, const struct nor_job* job) {
    uint32_t offset;
    unsigned words = 0;
    int result = 0;
    nor_enter_bypass(job->base);
    for (offset = job->first; offset < job->last; offset += 2) {
        const uint16_t value = nor_source16(job, offset);
        if (++words % NOR_SERVICE_STRIDE == 0) {
            fl_progress(ctx, nor_image_done(job, offset));
            fl_service(ctx);
        }
        if (value == 0xFFFF) continue;
        if (nor_program_word(ctx, job->base, offset, value) != 0) {
            result = -1;
            break;
        }
    }
    nor_leave_bypass(job->base);
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

unsigned nor_check(struct fl_ctx* ctx, uint32_t address, uint32_t size, uint32_t partition_end, struct nor_job* job,
                   struct nor_geometry* geometry) {
    const struct fl_board* board = ctx->board;
    job->base = board->nor_base;
    if (address - board->nor_base >= board->nor_size || (address & 1) ||
        size > board->nor_base + board->nor_size - address)
        return FL_STATE_ERASE_ERROR;
    if (partition_end != 0 && (partition_end < address || size - 1 > partition_end - address))
        return FL_STATE_ERASE_ERROR;
    if (nor_query(job->base, geometry) != 0 || geometry->size < board->nor_size) return FL_STATE_ERASE_ERROR;
    job->start = address - board->nor_base;
    job->end = job->start + size;
    return 0;
}

void nor_cover(const struct nor_geometry* geometry, struct nor_job* job) {
    uint32_t sector, size;
    nor_sector(geometry, job->start, &job->first, &size);
    nor_sector(geometry, job->end - 1, &sector, &size);
    job->last = sector + size;
}

void nor_keep(struct nor_job* job, uint8_t* kept) {
    const uint32_t head = job->start - job->first;
    uint32_t i;
    for (i = 0; i < head; ++i) kept[i] = fl_read8(job->base + job->first + i);
    for (i = 0; i < job->last - job->end; ++i) kept[head + i] = fl_read8(job->base + job->end + i);
    job->saved = kept;
}

unsigned fl_nor_run(struct fl_ctx* ctx) {
    const struct fl_params* params = &ctx->params;
    struct nor_geometry geometry;
    struct nor_job job;
    uint32_t saved;
    unsigned refused;

    if (params->stream) return fl_nor_stream_run(ctx);
    if (params->image_size == 0) {
        ctx->state = FL_STATE_VERIFYING;
        return FL_STATE_DONE;
    }
    refused = nor_check(ctx, params->flash_address, params->image_size, params->partition_end, &job, &geometry);
    if (refused) return refused;
    if (!fl_ram_holds(ctx, params->image_address, params->image_size)) return FL_STATE_ERASE_ERROR;
    nor_cover(&geometry, &job);
    /* The kept bytes of partly covered sectors go right behind the image. */
    saved = (params->image_address + params->image_size + 3) & ~3u;
    if (!fl_ram_holds(ctx, saved, (job.start - job.first) + (job.last - job.end))) return FL_STATE_ERASE_ERROR;
    job.image = fl_ram(params->image_address);
    nor_keep(&job, fl_ram(saved));
    fl_service(ctx);

    if (nor_erase(ctx, &job, &geometry) != 0) return FL_STATE_ERASE_ERROR;
    ctx->state = FL_STATE_PROGRAMMING;
    if (nor_program(ctx, &job) != 0) return FL_STATE_PROGRAM_ERROR;
    ctx->state = FL_STATE_VERIFYING;
    if (nor_verify(ctx, &job) != 0) return FL_STATE_VERIFY_ERROR;
    return FL_STATE_DONE;
}
