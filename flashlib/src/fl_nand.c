/* NAND flash behind the board's NAND controller: small pages (512 + 16 bytes),
 * 32 pages a block. The image goes to consecutive good blocks from the flash
 * offset on; blocks with a factory bad-block mark are skipped, and the image
 * must fit before the end of the partition. In streaming mode each block is
 * erased when the image reaches it and pages are programmed as they arrive. */
#include "fl_internal.h"
#include "fl_stream.h"

#define NAND_COMMAND 0x00u
#define NAND_ADDRESS 0x04u
#define NAND_DATA 0x08u
#define NAND_STATUS 0x0Cu
#define NAND_READY 0x01u

#define NAND_PAGE 512u
#define NAND_PAGE_SHIFT 9u
#define NAND_PAGES_PER_BLOCK 32u
#define NAND_BLOCK_SHIFT 14u
#define NAND_BLOCK (1u << NAND_BLOCK_SHIFT)
#define NAND_BLOCKS 8192u
#define NAND_BAD_MARK 5u
#define NAND_MAKER 0xECu
#define NAND_DEVICE 0x79u
#define NAND_STATUS_FAIL 0x01u

#define NAND_TIMEOUT_US 1000000u
/* Pages programmed per streaming step, between two rounds of the session. */
#define NAND_STREAM_PAGES 4u

struct nand {
    struct fl_ctx* ctx;
    uint32_t regs;
};

FL_INLINE void nand_command(const struct nand* nand, uint8_t command) {
    fl_write32(nand->regs + NAND_COMMAND, command);
}

FL_INLINE void nand_address(const struct nand* nand, uint8_t byte) { fl_write32(nand->regs + NAND_ADDRESS, byte); }

FL_INLINE void nand_row(const struct nand* nand, uint32_t page) {
    nand_address(nand, (uint8_t)page);
    nand_address(nand, (uint8_t)(page >> 8));
    nand_address(nand, (uint8_t)(page >> 16));
}

FL_INLINE int nand_wait(const struct nand* nand) {
    const uint32_t start = fl_now_us(nand->ctx);
    fl_service(nand->ctx);
    while (!(fl_read32(nand->regs + NAND_STATUS) & NAND_READY)) {
        fl_service(nand->ctx);
        if (fl_now_us(nand->ctx) - start > NAND_TIMEOUT_US) return -1;
    }
    return 0;
}

/* Waits for the end of a program or erase and reads its outcome. */
static int nand_finish(const struct nand* nand) {
    if (nand_wait(nand) != 0) return -1;
    nand_command(nand, 0x70);
    return (fl_read8(nand->regs + NAND_DATA) & NAND_STATUS_FAIL) ? -1 : 0;
}

static int nand_identify(const struct nand* nand) {
    uint8_t maker, device;
    nand_command(nand, 0xFF);
    if (nand_wait(nand) != 0) return -1;
    nand_command(nand, 0x90);
    nand_address(nand, 0);
    maker = fl_read8(nand->regs + NAND_DATA);
    device = fl_read8(nand->regs + NAND_DATA);
    return maker == NAND_MAKER && device == NAND_DEVICE ? 0 : -1;
}

static int nand_bad(const struct nand* nand, uint32_t block) {
    unsigned page;
    for (page = 0; page < 2; ++page) {
        nand_command(nand, 0x50);
        nand_address(nand, NAND_BAD_MARK);
        nand_row(nand, block * NAND_PAGES_PER_BLOCK + page);
        if (nand_wait(nand) != 0 || fl_read8(nand->regs + NAND_DATA) != 0xFF) return 1;
    }
    return 0;
}

static int nand_erase(const struct nand* nand, uint32_t block) {
    nand_command(nand, 0x60);
    nand_row(nand, block * NAND_PAGES_PER_BLOCK);
    nand_command(nand, 0xD0);
    return nand_finish(nand);
}

/* The page's bytes from the image, 0xFF past its end. */
FL_INLINE uint32_t nand_source32(const uint8_t* data, uint32_t left, uint32_t at) {
    uint32_t word = 0;
    unsigned i;
    for (i = 0; i < 4; ++i) word |= (uint32_t)(at + i < left ? data[at + i] : 0xFF) << (8 * i);
    return word;
}

static int nand_program(const struct nand* nand, uint32_t page, const uint8_t* data, uint32_t left) {
    uint32_t at;
    nand_command(nand, 0x00);
    nand_command(nand, 0x80);
    nand_address(nand, 0);
    nand_row(nand, page);
    for (at = 0; at < NAND_PAGE; at += 4) fl_write32(nand->regs + NAND_DATA, nand_source32(data, left, at));
    nand_command(nand, 0x10);
    return nand_finish(nand);
}

static int nand_verify_page(const struct nand* nand, uint32_t page, const uint8_t* data, uint32_t left) {
    uint32_t at;
    int same = 1;
    nand_command(nand, 0x00);
    nand_address(nand, 0);
    nand_row(nand, page);
    if (nand_wait(nand) != 0) return -1;
    for (at = 0; at < NAND_PAGE; at += 4) {
        if (fl_read32(nand->regs + NAND_DATA) != nand_source32(data, left, at)) same = 0;
    }
    return same ? 0 : -1;
}

/* Next good block at or after block, or NAND_BLOCKS when none is left up to last. */
static uint32_t nand_next_good(const struct nand* nand, uint32_t block, uint32_t last) {
    while (block <= last && nand_bad(nand, block)) ++block;
    return block <= last ? block : NAND_BLOCKS;
}

/* The partition's blocks [*first, *last]; 0 or the state code that refuses the job. */
static unsigned nand_prepare(struct fl_ctx* ctx, struct nand* nand, uint32_t* first, uint32_t* last) {
    const struct fl_params* params = &ctx->params;
    nand->ctx = ctx;
    nand->regs = ctx->board->nand_ctrl;
    if (nand->regs == 0 || nand_identify(nand) != 0) return FL_STATE_ERASE_ERROR;
    if ((params->flash_address & (NAND_BLOCK - 1)) || (params->flash_address >> NAND_BLOCK_SHIFT) >= NAND_BLOCKS)
        return FL_STATE_ERASE_ERROR;
    if (!fl_ram_holds(ctx, params->image_address, params->image_size)) return FL_STATE_ERASE_ERROR;
    *first = params->flash_address >> NAND_BLOCK_SHIFT;
    *last = NAND_BLOCKS - 1;
    if (params->partition_end != 0) {
        if (params->partition_end < params->flash_address) return FL_STATE_ERASE_ERROR;
        if ((params->partition_end >> NAND_BLOCK_SHIFT) < *last) *last = params->partition_end >> NAND_BLOCK_SHIFT;
        /* A partition that ends inside a block cannot use that block. */
        if (((params->partition_end + 1) & (NAND_BLOCK - 1)) != 0) {
            if (*last == *first) return FL_STATE_ERASE_ERROR;
            --*last;
        }
    }
    return 0;
}

struct nand_stream {
    struct nand nand;
    const uint8_t* image;
    uint32_t size;
    uint32_t first, last; /* blocks of the partition */
    uint32_t block;       /* block being written; NAND_BLOCKS before the first */
    uint32_t page;        /* next page of that block */
    uint32_t offset;      /* image bytes programmed */
};

static int nand_stream_step(struct fl_ctx* ctx, void* state, uint32_t available, uint32_t* written) {
    struct nand_stream* s = state;
    unsigned pages;
    if (s->offset >= s->size) return FL_SINK_FINISHED;
    for (pages = 0; pages < NAND_STREAM_PAGES && s->offset < s->size; ++pages) {
        const uint32_t left = s->size - s->offset;
        if (available - s->offset < (left < NAND_PAGE ? left : NAND_PAGE)) break;
        if (s->block == NAND_BLOCKS || s->page == NAND_PAGES_PER_BLOCK) {
            s->block = nand_next_good(&s->nand, s->block == NAND_BLOCKS ? s->first : s->block + 1, s->last);
            if (s->block == NAND_BLOCKS) return FL_STATE_PROGRAM_ERROR;
            ctx->state = FL_STATE_ERASING;
            if (nand_erase(&s->nand, s->block) != 0) return FL_STATE_ERASE_ERROR;
            s->page = 0;
        }
        ctx->state = FL_STATE_PROGRAMMING;
        if (nand_program(&s->nand, s->block * NAND_PAGES_PER_BLOCK + s->page, s->image + s->offset, left) != 0)
            return FL_STATE_PROGRAM_ERROR;
        ++s->page;
        s->offset += left < NAND_PAGE ? left : NAND_PAGE;
        *written = s->offset;
    }
    return pages ? FL_SINK_WORKED : FL_SINK_WAITING;
}

static uint32_t nand_stream_digest(struct fl_ctx* ctx, void* state) {
    struct nand_stream* s = state;
    uint8_t page[NAND_PAGE];
    uint32_t crc = 0, offset = 0, block;
    for (block = s->first; offset < s->size; ++block) {
        unsigned p;
        block = nand_next_good(&s->nand, block, s->last);
        if (block == NAND_BLOCKS) break;
        for (p = 0; p < NAND_PAGES_PER_BLOCK && offset < s->size; ++p) {
            const uint32_t left = s->size - offset;
            const uint32_t take = left < NAND_PAGE ? left : NAND_PAGE;
            uint32_t at;
            nand_command(&s->nand, 0x00);
            nand_address(&s->nand, 0);
            nand_row(&s->nand, block * NAND_PAGES_PER_BLOCK + p);
            if (nand_wait(&s->nand) != 0) return ~crc; /* cannot match the host's */
            for (at = 0; at < NAND_PAGE; at += 4) {
                const uint32_t word = fl_read32(s->nand.regs + NAND_DATA);
                page[at] = (uint8_t)word;
                page[at + 1] = (uint8_t)(word >> 8);
                page[at + 2] = (uint8_t)(word >> 16);
                page[at + 3] = (uint8_t)(word >> 24);
            }
            crc = fl_stream_crc(ctx, crc, page, take);
            offset += take;
            if (fl_stream_verified(ctx, offset)) return crc;
        }
    }
    return crc;
}

static unsigned nand_stream_run(struct fl_ctx* ctx) {
    static const struct fl_sink sink = {nand_stream_step, nand_stream_digest};
    struct nand_stream s = {0};
    unsigned refused = FL_STATE_ERASE_ERROR;
    uint32_t scratch = (ctx->params.image_address + ctx->params.image_size + 3) & ~3u;
    s.size = ctx->params.image_size;
    s.block = NAND_BLOCKS;
    if (s.size != 0) refused = nand_prepare(ctx, &s.nand, &s.first, &s.last);
    if (!refused && !fl_ram_holds(ctx, scratch, FL_STREAM_SCRATCH)) refused = FL_STATE_ERASE_ERROR;
    if (!refused) {
        /* The whole image must find good blocks before anything is erased. */
        const uint32_t needed = (s.size + NAND_BLOCK - 1) >> NAND_BLOCK_SHIFT;
        uint32_t block = s.first, found = 0;
        while (found < needed) {
            block = nand_next_good(&s.nand, block, s.last);
            if (block == NAND_BLOCKS) break;
            ++found;
            ++block;
        }
        if (found < needed) refused = FL_STATE_ERASE_ERROR;
    }
    s.image = fl_ram(ctx->params.image_address);
    return fl_stream_run(ctx, &sink, &s, refused, scratch);
}

unsigned fl_nand_run(struct fl_ctx* ctx) {
    const struct fl_params* params = &ctx->params;
    const uint8_t* image;
    struct nand nand;
    uint32_t first, last, needed, block, done, offset;
    unsigned refused;

    if (params->stream) return nand_stream_run(ctx);
    nand.ctx = ctx;
    nand.regs = ctx->board->nand_ctrl;
    if (nand.regs == 0 || nand_identify(&nand) != 0) return FL_STATE_ERASE_ERROR;
    if (params->image_size == 0) {
        ctx->state = FL_STATE_VERIFYING;
        return FL_STATE_DONE;
    }
    refused = nand_prepare(ctx, &nand, &first, &last);
    if (refused) return refused;
    needed = (params->image_size + NAND_BLOCK - 1) >> NAND_BLOCK_SHIFT;
    image = fl_ram(params->image_address);

    block = first;
    for (done = 0; done < needed; ++done, ++block) {
        block = nand_next_good(&nand, block, last);
        if (block == NAND_BLOCKS || nand_erase(&nand, block) != 0) return FL_STATE_ERASE_ERROR;
        fl_progress(ctx, (done + 1) << NAND_BLOCK_SHIFT < params->image_size ? (done + 1) << NAND_BLOCK_SHIFT
                                                                             : params->image_size);
    }

    ctx->state = FL_STATE_PROGRAMMING;
    block = first;
    for (offset = 0; offset < params->image_size; ++block) {
        unsigned page;
        block = nand_next_good(&nand, block, last);
        if (block == NAND_BLOCKS) return FL_STATE_PROGRAM_ERROR;
        for (page = 0; page < NAND_PAGES_PER_BLOCK && offset < params->image_size; ++page) {
            if (nand_program(&nand, block * NAND_PAGES_PER_BLOCK + page, image + offset, params->image_size - offset) !=
                0)
                return FL_STATE_PROGRAM_ERROR;
            offset += NAND_PAGE;
            fl_progress(ctx, offset < params->image_size ? offset : params->image_size);
        }
    }

    ctx->state = FL_STATE_VERIFYING;
    block = first;
    for (offset = 0; offset < params->image_size; ++block) {
        unsigned page;
        block = nand_next_good(&nand, block, last);
        if (block == NAND_BLOCKS) return FL_STATE_VERIFY_ERROR;
        for (page = 0; page < NAND_PAGES_PER_BLOCK && offset < params->image_size; ++page) {
            if (nand_verify_page(&nand, block * NAND_PAGES_PER_BLOCK + page, image + offset,
                                 params->image_size - offset) != 0)
                return FL_STATE_VERIFY_ERROR;
            offset += NAND_PAGE;
            fl_progress(ctx, offset < params->image_size ? offset : params->image_size);
        }
    }
    return FL_STATE_DONE;
}
