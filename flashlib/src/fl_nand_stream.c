/* NAND flash in streaming mode. A span lives in consecutive good blocks of its
 * partition from its offset on, bad blocks skipped as the normal run skips them;
 * selecting it maps each of its blocks to the good block that holds it, so that
 * reads, ranged writes and erases find them without looking at the marks again.
 * Written in order, each block is erased when the image reaches it and pages are
 * programmed as they arrive. Ranged writes change a copy of the block in RAM,
 * which goes back (erase, then its pages) when a write reaches another block or
 * the session asks for it, and only when it changed. */
#include "fl_nand.h"
#include "fl_stream.h"

/* Pages programmed per streaming step, between two rounds of the session. */
#define NAND_STREAM_PAGES 4u

struct nand_stream {
    struct nand nand;
    uint32_t size;  /* the span's bytes */
    uint16_t* map;  /* the good block of each of the span's blocks */
    uint32_t count; /* blocks in the map */
    /* A span written in order. */
    const uint8_t* image;
    uint32_t offset; /* image bytes programmed */
    /* Ranged writes: the open block as the flash holds it, and as it is to be. */
    uint8_t* was;
    uint8_t* now;
    uint32_t open_block; /* of the span */
    int open;
};

FL_INLINE uint32_t page_of(const struct nand_stream* s, uint32_t offset) {
    return s->map[offset >> NAND_BLOCK_SHIFT] * NAND_PAGES_PER_BLOCK + ((offset >> NAND_PAGE_SHIFT) & 31u);
}

static unsigned nand_select(struct fl_ctx* ctx, void* state, const struct fl_span* span, uint8_t* work) {
    struct nand_stream* s = state;
    uint32_t first, last, i, block;
    const unsigned refused = nand_partition(ctx, &s->nand, span->address, span->partition_end, &first, &last);
    if (refused) return refused;
    s->open = 0;
    s->size = span->size;
    s->count = (span->size + NAND_BLOCK - 1) >> NAND_BLOCK_SHIFT;
    s->map = (uint16_t*)work;
    s->was = work + NAND_BLOCKS * sizeof(uint16_t);
    s->now = s->was + NAND_BLOCK;
    /* The whole span must find good blocks before anything is erased. */
    if (s->count > NAND_BLOCKS) return FL_STATE_ERASE_ERROR;
    for (i = 0, block = first; i < s->count; ++i, ++block) {
        block = nand_next_good(&s->nand, block, last);
        if (block == NAND_BLOCKS) return FL_STATE_ERASE_ERROR;
        s->map[i] = (uint16_t)block;
    }
    return 0;
}

static unsigned nand_begin(struct fl_ctx* ctx, void* state, const uint8_t* image, uint8_t* kept) {
    struct nand_stream* s = state;
    (void)ctx;
    (void)kept;
    s->image = image;
    s->offset = 0;
    return 0;
}

static int nand_step(struct fl_ctx* ctx, void* state, uint32_t available, uint32_t* written) {
    struct nand_stream* s = state;
    unsigned pages;
    if (s->offset >= s->size) return FL_SINK_FINISHED;
    for (pages = 0; pages < NAND_STREAM_PAGES && s->offset < s->size; ++pages) {
        const uint32_t left = s->size - s->offset;
        if (available - s->offset < (left < NAND_PAGE ? left : NAND_PAGE)) break;
        if ((s->offset & (NAND_BLOCK - 1)) == 0) {
            ctx->state = FL_STATE_ERASING;
            if (nand_erase(&s->nand, s->map[s->offset >> NAND_BLOCK_SHIFT]) != 0) return FL_STATE_ERASE_ERROR;
        }
        ctx->state = FL_STATE_PROGRAMMING;
        if (nand_program(&s->nand, page_of(s, s->offset), s->image + s->offset, left) != 0)
            return FL_STATE_PROGRAM_ERROR;
        s->offset += left < NAND_PAGE ? left : NAND_PAGE;
        *written = s->offset;
    }
    return pages ? FL_SINK_WORKED : FL_SINK_WAITING;
}

/* A page's data into `to`; 0, or it could not be read. */
static int read_page(const struct nand_stream* s, uint32_t page, uint8_t* to) {
    uint32_t at;
    if (nand_open_page(&s->nand, page) != 0) return -1;
    for (at = 0; at < NAND_PAGE; at += 4) {
        const uint32_t word = fl_read32(s->nand.regs + NAND_DATA);
        to[at] = (uint8_t)word;
        to[at + 1] = (uint8_t)(word >> 8);
        to[at + 2] = (uint8_t)(word >> 16);
        to[at + 3] = (uint8_t)(word >> 24);
    }
    return 0;
}

/* Up to four bytes of one data word, from byte `from` of it. */
static void digest_word_bytes(const struct nand_stream* s, struct fl_digest* d, uint32_t from, uint32_t n) {
    const uint32_t word = fl_read32(s->nand.regs + NAND_DATA);
    uint8_t bytes[4];
    uint32_t k;
    for (k = 0; k < n; ++k) bytes[k] = (uint8_t)(word >> (8 * (from + k)));
    fl_digest_bytes(d, bytes, n);
}

static int nand_scan(struct fl_ctx* ctx, void* state, uint32_t offset, uint32_t size, struct fl_digest* d) {
    const struct nand_stream* s = state;
    uint32_t done = 0;
    while (done < size) {
        const uint32_t at = offset + done;
        const uint32_t column = at & (NAND_PAGE - 1);
        const uint32_t n = size - done < NAND_PAGE - column ? size - done : NAND_PAGE - column;
        const uint32_t lead = column & 3u ? 4u - (column & 3u) : 0;
        uint32_t k, left = n;
        if (nand_open_page(&s->nand, page_of(s, at)) != 0) return -1;
        for (k = 0; k < column / 4; ++k) fl_read32(s->nand.regs + NAND_DATA);
        if (lead) {
            digest_word_bytes(s, d, column & 3u, lead < left ? lead : left);
            left -= lead < left ? lead : left;
        }
        /* The data register gives the page's words one after the other. */
        fl_digest_bus(d, s->nand.regs + NAND_DATA, 0, left / 4);
        if (left & 3u) digest_word_bytes(s, d, 0, left & 3u);
        done += n;
        if (fl_stream_tick(ctx, done)) return -1;
    }
    return 0;
}

static void nand_open(struct fl_ctx* ctx, struct nand_stream* s, uint32_t block) {
    uint32_t p, k;
    (void)ctx;
    for (p = 0; p < NAND_PAGES_PER_BLOCK; ++p) {
        /* A page that cannot be read is taken as erased: the block is written whole. */
        if (read_page(s, s->map[block] * NAND_PAGES_PER_BLOCK + p, s->was + p * NAND_PAGE) != 0) {
            for (k = 0; k < NAND_PAGE; ++k) s->was[p * NAND_PAGE + k] = 0xFF;
        }
    }
    for (k = 0; k < NAND_BLOCK; ++k) s->now[k] = s->was[k];
    s->open_block = block;
    s->open = 1;
}

static int all_erased(const uint8_t* data, uint32_t size) {
    uint32_t k;
    for (k = 0; k < size; ++k) {
        if (data[k] != 0xFF) return 0;
    }
    return 1;
}

static unsigned nand_close(struct fl_ctx* ctx, void* state) {
    struct nand_stream* s = state;
    uint32_t k, p, block;
    int changed = 0;
    if (!s->open) return 0;
    s->open = 0;
    block = s->map[s->open_block];
    for (k = 0; k < NAND_BLOCK && !changed; ++k) changed = s->was[k] != s->now[k];
    if (!changed) return 0;
    ctx->state = FL_STATE_ERASING;
    if (nand_erase(&s->nand, block) != 0) return FL_STATE_ERASE_ERROR;
    ctx->state = FL_STATE_PROGRAMMING;
    for (p = 0; p < NAND_PAGES_PER_BLOCK; ++p) {
        const uint8_t* data = s->now + p * NAND_PAGE;
        if (all_erased(data, NAND_PAGE)) continue;
        if (nand_program(&s->nand, block * NAND_PAGES_PER_BLOCK + p, data, NAND_PAGE) != 0)
            return FL_STATE_PROGRAM_ERROR;
        /* Programming goes on whatever the session says: the copy is the only one. */
        fl_stream_tick(ctx, (p + 1) * NAND_PAGE);
    }
    return 0;
}

static unsigned nand_write(struct fl_ctx* ctx, void* state, uint32_t offset, const uint8_t* data, uint32_t size) {
    struct nand_stream* s = state;
    while (size != 0) {
        const uint32_t block = offset >> NAND_BLOCK_SHIFT;
        const uint32_t column = offset & (NAND_BLOCK - 1);
        const uint32_t n = size < NAND_BLOCK - column ? size : NAND_BLOCK - column;
        uint32_t k;
        if (!s->open || s->open_block != block) {
            const unsigned result = nand_close(ctx, s);
            if (result) return result;
            nand_open(ctx, s, block);
        }
        for (k = 0; k < n; ++k) s->now[column + k] = data[k];
        offset += n;
        data += n;
        size -= n;
    }
    return 0;
}

static unsigned nand_erase_span(struct fl_ctx* ctx, void* state, struct fl_erased* erased) {
    struct nand_stream* s = state;
    uint32_t i;
    erased->start = (uint32_t)s->map[0] << NAND_BLOCK_SHIFT;
    erased->end = erased->start;
    for (i = 0; i < s->count; ++i) {
        if (nand_erase(&s->nand, s->map[i]) != 0) return FL_STATE_ERASE_ERROR;
        erased->end = ((uint32_t)s->map[i] + 1) << NAND_BLOCK_SHIFT;
        erased->units = i + 1;
        erased->skipped = (s->map[i] - s->map[0] + 1) - erased->units;
        if (fl_stream_tick(ctx, erased->units << NAND_BLOCK_SHIFT)) break;
    }
    return 0;
}

unsigned fl_nand_stream_run(struct fl_ctx* ctx) {
    static const struct fl_device device = {nand_select, nand_begin, nand_step,      nand_scan,
                                            nand_write,  nand_close, nand_erase_span};
    struct nand_stream s = {0};
    return fl_stream_run(ctx, &device, &s);
}
