/* The flash library's core: reads the parameter block the host put at the end of
 * the library area, erases, programs and verifies the flash, and answers the
 * host's status queries while it works. The same sources build for the target
 * (freestanding ARM) and for the host (tests and the fast board model). */
#ifndef FL_CORE_H
#define FL_CORE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Where a board puts its devices; see DATASHEET.md. */
struct fl_board {
    uint32_t ram_base;
    uint32_t ram_size;
    uint32_t nor_base;
    uint32_t nor_size;
    uint32_t nand_ctrl; /* 0: no NAND on this board */
    uint32_t uart;
    uint32_t usb;
    uint32_t sysctl;
};

struct fl_ctx;
/* A flash job: erases, programs and verifies; returns the final state code. */
typedef unsigned (*fl_job)(struct fl_ctx* ctx);
unsigned fl_nor_run(struct fl_ctx* ctx);
unsigned fl_nand_run(struct fl_ctx* ctx);

/* State codes, reported in the upper 16 bits of the status word. */
enum {
    FL_STATE_ERASING = 0xA1,
    FL_STATE_PROGRAMMING = 0xA2,
    FL_STATE_VERIFYING = 0xA3,
    FL_STATE_ERASE_ERROR = 0xB1,
    FL_STATE_PROGRAM_ERROR = 0xB2,
    FL_STATE_VERIFY_ERROR = 0xB3,
    FL_STATE_DONE = 0xB4
};

/* Parameter block: eight little-endian words at RAM base + FL_PARAM_BLOCK. */
#define FL_LIBRARY_CODE 0x4000u
#define FL_PARAM_BLOCK 0xFFE0u
#define FL_PARAM_FLASH_ADDRESS 0x00u
#define FL_PARAM_PARTITION_END 0x04u
/* The host sets this word to FL_STREAM_REQUEST to have the library receive the
 * image over the serial line (DATASHEET.md, "Streaming mode") instead of from RAM. */
#define FL_PARAM_STREAM 0x08u
#define FL_STREAM_REQUEST 0x5354524Du
#define FL_PARAM_IMAGE_ADDRESS 0x10u
#define FL_PARAM_IMAGE_SIZE 0x18u
#define FL_PARAM_CHANNEL 0x1Cu
#define FL_CHANNEL_USB 1u

/* Runs the whole job, answers the final state once more and hands the board back
 * to its boot ROM. Returns the final state code. */
unsigned fl_main(const struct fl_board* board, fl_job job);

#ifdef __cplusplus
}
#endif

#endif
