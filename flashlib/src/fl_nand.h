/* NAND flash behind the board's NAND controller, for the flash library: small
 * pages (512 + 16 bytes), 32 pages a block, factory bad-block marks. Shared by
 * the normal run (fl_nand.c) and streaming mode (fl_nand_stream.c). */
#ifndef FL_NAND_H
#define FL_NAND_H

#include "fl_internal.h"

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

/* The page's bytes from the image, 0xFF past its end. */
FL_INLINE uint32_t nand_source32(const uint8_t* data, uint32_t left, uint32_t at) {
    uint32_t word = 0;
    unsigned i;
    for (i = 0; i < 4; ++i) word |= (uint32_t)(at + i < left ? data[at + i] : 0xFF) << (8 * i);
    return word;
}

int nand_erase(const struct nand* nand, uint32_t block);
/* Programs a page from `data`, of which `left` bytes are there (0xFF after them). */
int nand_program(const struct nand* nand, uint32_t page, const uint8_t* data, uint32_t left);
/* Starts reading a page: its data follows on the data register. */
int nand_open_page(const struct nand* nand, uint32_t page);
/* Next good block at or after block, or NAND_BLOCKS when none is left up to last. */
uint32_t nand_next_good(const struct nand* nand, uint32_t block, uint32_t last);
/* The blocks [*first, *last] of a partition from `offset` to `partition_end`
 * (0: the device's end); 0 or the state code that refuses the job. */
unsigned nand_partition(struct fl_ctx* ctx, struct nand* nand, uint32_t offset, uint32_t partition_end, uint32_t* first,
                        uint32_t* last);
/* Streaming mode. */
unsigned fl_nand_stream_run(struct fl_ctx* ctx);

#endif
