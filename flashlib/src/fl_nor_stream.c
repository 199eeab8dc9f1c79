/* NOR flash in streaming mode. A span written in order erases each sector when
 * the image reaches it and programs words as soon as their bytes are decoded.
 * Ranged writes change a copy of the sector in RAM; the copy goes back to the
 * flash when a write reaches another sector or the session asks for it, and only
 * then is the sector erased, if the new bytes need it (a program can only clear
 * bits). A sector whose copy did not change is not touched at all. */
#include "fl_nor.h"
#include "fl_stream.h"

/* Words programmed per streaming step, between two rounds of the session. */
#define NOR_STREAM_WORDS 256u
/* Bytes read between two looks at the report channel. */
#define NOR_READ_STRIDE 1024u

struct nor_stream {
    struct nor_geometry geometry;
    struct nor_job job;
    /* A span written in order. */
    uint32_t next;   /* device offset of the next word to program */
    uint32_t erased; /* the sectors below this device offset are erased */
    int bypass;
    /* Ranged writes: the open sector as the flash holds it, and as it is to be. */
    uint8_t* was;
    uint8_t* now;
    uint32_t open_start;
    uint32_t open_size;
    int open;
};

static void leave_bypass(struct nor_stream* s) {
    if (!s->bypass) return;
    nor_leave_bypass(s->job.base);
    s->bypass = 0;
}

static unsigned nor_select(struct fl_ctx* ctx, void* state, const struct fl_span* span, uint8_t* work) {
    struct nor_stream* s = state;
    unsigned i, refused;
    s->open = 0;
    s->bypass = 0;
    refused = nor_check(ctx, span->address, span->size, span->partition_end, &s->job, &s->geometry);
    if (refused) return refused;
    /* Ranged writes keep two copies of a sector. */
    for (i = 0; i < s->geometry.regions; ++i) {
        if ((1u << s->geometry.shift[i]) > FL_SECTOR_MAX) return FL_STATE_ERASE_ERROR;
    }
    s->was = work;
    s->now = work + FL_SECTOR_MAX;
    return 0;
}

static unsigned nor_begin(struct fl_ctx* ctx, void* state, const uint8_t* image, uint8_t* kept) {
    struct nor_stream* s = state;
    (void)ctx;
    nor_cover(&s->geometry, &s->job);
    s->job.image = image;
    nor_keep(&s->job, kept);
    s->next = s->job.first;
    s->erased = s->job.first;
    return 0;
}

static int nor_step(struct fl_ctx* ctx, void* state, uint32_t available, uint32_t* written) {
    struct nor_stream* s = state;
    const struct nor_job* job = &s->job;
    /* A word may be programmed once both its bytes are there; the kept bytes behind
     * the image only go with its last word. */
    const uint32_t limit = available == job->end - job->start ? job->last : ((job->start + available) & ~1u);
    /* In a local, not in *s: a store to RAM a word is costly on the emulated board. */
    uint32_t next = s->next;
    unsigned words;
    int result = FL_SINK_WORKED;
    if (next >= job->last) {
        leave_bypass(s);
        return FL_SINK_FINISHED;
    }
    if (next >= limit) return FL_SINK_WAITING;
    if (next >= s->erased) {
        uint32_t start, size;
        leave_bypass(s);
        nor_sector(&s->geometry, next, &start, &size);
        ctx->state = FL_STATE_ERASING;
        if (nor_erase_sector(ctx, job->base, start) != 0) return FL_STATE_ERASE_ERROR;
        s->erased = start + size;
        /* One erase a step: the receiver catches up before programming goes on. */
        return FL_SINK_WORKED;
    }
    if (!s->bypass) {
        nor_enter_bypass(job->base);
        s->bypass = 1;
    }
    ctx->state = FL_STATE_PROGRAMMING;
    for (words = 0; words < NOR_STREAM_WORDS && next < limit && next < s->erased; ++words) {
        const uint16_t value = nor_source16(job, next);
        if (words % NOR_SERVICE_STRIDE == NOR_SERVICE_STRIDE - 1) fl_service(ctx);
        if (value != 0xFFFF && nor_program_word(ctx, job->base, next, value) != 0) {
            leave_bypass(s);
            result = FL_STATE_PROGRAM_ERROR;
            break;
        }
        next += 2;
    }
    s->next = next;
    if (next > job->start) *written = next >= job->end ? job->end - job->start : next - job->start;
    return result;
}

/* Bytes one at a time: the ends of a span that are not whole aligned words. */
static void digest_bytes(struct fl_digest* d, uint32_t addr, uint32_t size) {
    while (size--) {
        const uint8_t byte = fl_read8(addr++);
        fl_digest_bytes(d, &byte, 1);
    }
}

static int nor_scan(struct fl_ctx* ctx, void* state, uint32_t offset, uint32_t size, struct fl_digest* d) {
    const struct nor_stream* s = state;
    const uint32_t first = s->job.base + s->job.start + offset;
    const uint32_t end = first + size;
    uint32_t addr = first;
    const uint32_t lead = (4u - (addr & 3u)) & 3u;
    digest_bytes(d, addr, lead < size ? lead : size);
    addr += lead < size ? lead : size;
    while (end - addr >= 4) {
        const uint32_t words = (end - addr) / 4 < NOR_READ_STRIDE / 4 ? (end - addr) / 4 : NOR_READ_STRIDE / 4;
        fl_digest_bus(d, addr, 4, words);
        addr += 4 * words;
        if (fl_stream_tick(ctx, addr - first)) return -1;
    }
    digest_bytes(d, addr, end - addr);
    return 0;
}

/* Reads words into RAM a word at a time: four times fewer stores than bytes. */
static void nor_read_words(uint32_t addr, uint32_t* to, uint32_t words) {
    while (words--) {
        *to++ = fl_read32(addr);
        addr += 4;
    }
}

/* Takes a copy of the sector holding a device offset. */
static void nor_open(struct fl_ctx* ctx, struct nor_stream* s, uint32_t offset) {
    /* Sectors are whole words, and the copies are word aligned (the work area). */
    uint32_t* was = (uint32_t*)s->was;
    uint32_t* now = (uint32_t*)s->now;
    uint32_t at, k;
    nor_sector(&s->geometry, offset, &s->open_start, &s->open_size);
    for (at = 0; at < s->open_size; at += NOR_READ_STRIDE) {
        const uint32_t n = s->open_size - at < NOR_READ_STRIDE ? s->open_size - at : NOR_READ_STRIDE;
        nor_read_words(s->job.base + s->open_start + at, was + at / 4, n / 4);
        fl_service(ctx);
    }
    for (k = 0; k < s->open_size / 4; ++k) now[k] = was[k];
    s->open = 1;
}

FL_INLINE uint16_t word_at(const uint8_t* p, uint32_t at) { return (uint16_t)(p[at] | (p[at + 1] << 8)); }

/* Writes the open sector back: nothing when it did not change, programs alone
 * when they only clear bits, else erase and program. */
static unsigned nor_close(struct fl_ctx* ctx, void* state) {
    struct nor_stream* s = state;
    const uint32_t base = s->job.base;
    uint32_t at;
    int changed = 0, erase = 0;
    if (!s->open) return 0;
    s->open = 0;
    for (at = 0; at < s->open_size && !erase; at += 2) {
        const uint16_t was = word_at(s->was, at), now = word_at(s->now, at);
        changed |= was != now;
        erase = (was & now) != now;
    }
    if (!changed) return 0;
    if (erase) {
        ctx->state = FL_STATE_ERASING;
        if (nor_erase_sector(ctx, base, s->open_start) != 0) return FL_STATE_ERASE_ERROR;
    }
    ctx->state = FL_STATE_PROGRAMMING;
    nor_enter_bypass(base);
    for (at = 0; at < s->open_size; at += 2) {
        const uint16_t now = word_at(s->now, at);
        if (now != (erase ? 0xFFFFu : word_at(s->was, at)) &&
            nor_program_word(ctx, base, s->open_start + at, now) != 0) {
            nor_leave_bypass(base);
            return FL_STATE_PROGRAM_ERROR;
        }
        /* Programming goes on whatever the session says: the copy is the only one. */
        if ((at & (NOR_READ_STRIDE - 1u)) == 0) fl_stream_tick(ctx, at);
    }
    nor_leave_bypass(base);
    return 0;
}

static unsigned nor_write(struct fl_ctx* ctx, void* state, uint32_t offset, const uint8_t* data, uint32_t size) {
    struct nor_stream* s = state;
    uint32_t at = s->job.start + offset;
    while (size != 0) {
        uint32_t n, k;
        if (!s->open || at - s->open_start >= s->open_size) {
            const unsigned result = nor_close(ctx, s);
            if (result) return result;
            nor_open(ctx, s, at);
        }
        n = s->open_start + s->open_size - at;
        if (n > size) n = size;
        for (k = 0; k < n; ++k) s->now[at - s->open_start + k] = data[k];
        at += n;
        data += n;
        size -= n;
    }
    return 0;
}

static unsigned nor_erase_span(struct fl_ctx* ctx, void* state, struct fl_erased* erased) {
    struct nor_stream* s = state;
    uint32_t offset = s->job.start, start = 0, size = 0;
    nor_sector(&s->geometry, offset, &erased->start, &size);
    erased->start += s->job.base;
    erased->end = erased->start;
    while (offset < s->job.end) {
        nor_sector(&s->geometry, offset, &start, &size);
        if (nor_erase_sector(ctx, s->job.base, start) != 0) return FL_STATE_ERASE_ERROR;
        offset = start + size;
        erased->end = s->job.base + offset;
        ++erased->units;
        if (fl_stream_tick(ctx, erased->end - erased->start)) break;
    }
    return 0;
}

unsigned fl_nor_stream_run(struct fl_ctx* ctx) {
    static const struct fl_device device = {nor_select, nor_begin, nor_step,      nor_scan,
                                            nor_write,  nor_close, nor_erase_span};
    struct nor_stream s = {0};
    return fl_stream_run(ctx, &device, &s);
}
