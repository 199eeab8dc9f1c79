/* NAND flash behind the board's NAND controller: small pages (512 + 16 bytes),
 * 32 pages a block. The image goes to consecutive good blocks from the flash
 * offset on; blocks with a factory bad-block mark are skipped, and the image
 * must fit before the end of the partition. Streaming mode is in
 * fl_nand_stream.c. */
#include "fl_nand.h"

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

int nand_erase(const struct nand* nand, uint32_t block) {
    nand_command(nand, 0x60);
    nand_row(nand, block * NAND_PAGES_PER_BLOCK);
    nand_command(nand, 0xD0);
    return nand_finish(nand);
}

int nand_program(const struct nand* nand, uint32_t page, const uint8_t* data, uint32_t left) {
    uint32_t at;
    nand_command(nand, 0x00);
    nand_command(nand, 0x80);
    nand_address(nand, 0);
    nand_row(nand, page);
    for (at = 0; at < NAND_PAGE; at += 4) fl_write32(nand->regs + NAND_DATA, nand_source32(data, left, at));
    nand_command(nand, 0x10);
    return nand_finish(nand);
}

int nand_open_page(const struct nand* nand, uint32_t page) {
    nand_command(nand, 0x00);
    nand_address(nand, 0);
    nand_row(nand, page);
    return nand_wait(nand);
}

static int nand_verify_page(const struct nand* nand, uint32_t page, const uint8_t* data, uint32_t left) {
    uint32_t at;
    int same = 1;
    if (nand_open_page(nand, page) != 0) return -1;
    for (at = 0; at < NAND_PAGE; at += 4) {
        if (fl_read32(nand->regs + NAND_DATA) != nand_source32(data, left, at)) same = 0;
    }
    return same ? 0 : -1;
}

uint32_t nand_next_good(const struct nand* nand, uint32_t block, uint32_t last) {
    while (block <= last && nand_bad(nand, block)) ++block;
    return block <= last ? block : NAND_BLOCKS;
}

unsigned nand_partition(struct fl_ctx* ctx, struct nand* nand, uint32_t offset, uint32_t partition_end, uint32_t* first,
                        uint32_t* last) {
    nand->ctx = ctx;
    nand->regs = ctx->board->nand_ctrl;
    if (nand->regs == 0 || nand_identify(nand) != 0) return FL_STATE_ERASE_ERROR;
    if ((offset & (NAND_BLOCK - 1)) || (offset >> NAND_BLOCK_SHIFT) >= NAND_BLOCKS) return FL_STATE_ERASE_ERROR;
    *first = offset >> NAND_BLOCK_SHIFT;
    *last = NAND_BLOCKS - 1;
    if (partition_end != 0) {
        if (partition_end < offset) return FL_STATE_ERASE_ERROR;
        if ((partition_end >> NAND_BLOCK_SHIFT) < *last) *last = partition_end >> NAND_BLOCK_SHIFT;
        /* A partition that ends inside a block cannot use that block. */
        if (((partition_end + 1) & (NAND_BLOCK - 1)) != 0) {
            if (*last == *first) return FL_STATE_ERASE_ERROR;
            --*last;
        }
    }
    return 0;
}

unsigned fl_nand_run(struct fl_ctx* ctx) {
    const struct fl_params* params = &ctx->params;
    const uint8_t* image;
    struct nand nand;
    uint32_t first, last, needed, block, done, offset;
    unsigned refused;

    if (params->stream) return fl_nand_stream_run(ctx);
    nand.ctx = ctx;
    nand.regs = ctx->board->nand_ctrl;
    if (nand.regs == 0 || nand_identify(&nand) != 0) return FL_STATE_ERASE_ERROR;
    if (params->image_size == 0) {
        ctx->state = FL_STATE_VERIFYING;
        return FL_STATE_DONE;
    }
    refused = nand_partition(ctx, &nand, params->flash_address, params->partition_end, &first, &last);
    if (refused) return refused;
    if (!fl_ram_holds(ctx, params->image_address, params->image_size)) return FL_STATE_ERASE_ERROR;
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
