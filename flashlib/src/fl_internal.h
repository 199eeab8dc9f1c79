/* Shared by the parts of the core: the job's context and the board's registers. */
#ifndef FL_INTERNAL_H
#define FL_INTERNAL_H

#include "fl_core.h"
#include "fl_hal.h"

/* UART and USB FIFO (same layout; only USB has the commit register). */
#define FL_FIFO_DATA 0x00u
#define FL_FIFO_STATUS 0x04u
#define FL_FIFO_COMMIT 0x08u
#define FL_FIFO_RX_READY 0x01u
#define FL_FIFO_TX_ROOM 0x02u
#define FL_FIFO_TX_IDLE 0x04u /* UART: every byte written has left on the line */
#define FL_UART_DIVISOR 0x0Cu

/* System control. */
#define FL_SYS_TIMER_US 0x04u
#define FL_SYS_BOOT_CONTROL 0x08u
#define FL_SYS_WAIT_FOR_HOST 0x0Cu
#define FL_RETURN_TO_ROM_KEY 0x524F4D21u

struct fl_params {
    uint32_t flash_address;
    uint32_t partition_end;
    uint32_t image_address;
    uint32_t image_size;
    uint32_t channel;
    int stream; /* the host asked for streaming mode */
};

struct fl_stream;

struct fl_ctx {
    const struct fl_board* board;
    struct fl_params params;
    uint32_t fifo; /* register block of the report channel */
    int usb;
    unsigned state;
    uint32_t done; /* image bytes done in stage `done_state`, for the answers' low half */
    unsigned done_state;
    unsigned matched; /* bytes of the status query seen so far */
    int final_answered;
    struct fl_stream* stream; /* set while a streaming session owns the report channel */
};

/* Hot loops are inlined whole: the emulated board makes every store to RAM
 * (a spilled register, a saved return address) expensive, so the common path of
 * a wait loop must not touch the stack. */
#define FL_INLINE static inline __attribute__((always_inline))

/* Takes the host's bytes and answers each complete status query (in streaming
 * mode: feeds them to the session's receiver). */
void fl_service_bytes(struct fl_ctx* ctx);
/* Writes one byte to the report channel; a transmitter that never frees up loses it. */
void fl_send_byte(struct fl_ctx* ctx, uint8_t byte);

/* Called from every wait loop, so queries are answered while the flash is busy. */
FL_INLINE void fl_service(struct fl_ctx* ctx) {
    if (fl_read32(ctx->fifo + FL_FIFO_STATUS) & FL_FIFO_RX_READY) fl_service_bytes(ctx);
}

/* The running stage has `bytes` of the image done; a stage entered later counts from 0. */
FL_INLINE void fl_progress(struct fl_ctx* ctx, uint32_t bytes) {
    ctx->done = bytes;
    ctx->done_state = ctx->state;
}

FL_INLINE uint32_t fl_now_us(const struct fl_ctx* ctx) { return fl_read32(ctx->board->sysctl + FL_SYS_TIMER_US); }
/* True when [addr, addr + size) lies inside the board's RAM. */
int fl_ram_holds(const struct fl_ctx* ctx, uint32_t addr, uint32_t size);

#endif
