#include "fl_internal.h"
#include "fl_stream.h"

static const uint8_t kStatusQuery[16] = {
    0x94, 0x93, 0x00, 0x00, 0x78, 0x56, 0x34, 0x12, 0xEF, 0xCD, 0xAB, 0x90, 0x55, 0xAA, 0x55, 0xAA,
};

/* Bytes taken per call, so that a chattering host cannot stall the flash work. */
#define FL_SERVICE_BUDGET 64u
#define FL_TX_TIMEOUT_US 100000u

static uint32_t le32(const uint8_t* p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

int fl_ram_holds(const struct fl_ctx* ctx, uint32_t addr, uint32_t size) {
    const uint32_t base = ctx->board->ram_base;
    const uint32_t end = base + ctx->board->ram_size;
    return addr >= base && addr <= end && size <= end - addr;
}

void fl_send_byte(struct fl_ctx* ctx, uint8_t byte) {
    const uint32_t start = fl_now_us(ctx);
    /* A transmitter that never frees up loses the byte rather than hanging the job. */
    while (!(fl_read32(ctx->fifo + FL_FIFO_STATUS) & FL_FIFO_TX_ROOM)) {
        if (fl_now_us(ctx) - start > FL_TX_TIMEOUT_US) return;
    }
    fl_write32(ctx->fifo + FL_FIFO_DATA, byte);
}

/* The low half tells the running stage's progress in KiB of the image (see
 * DATASHEET.md); the final codes carry 0. */
#define FL_PROGRESS_SHIFT 10u
#define FL_PROGRESS_MAX 0xFFFFu

static void answer(struct fl_ctx* ctx) {
    uint32_t progress = 0;
    uint32_t word;
    unsigned i;
    if (ctx->state < FL_STATE_ERASE_ERROR && ctx->done_state == ctx->state) progress = ctx->done >> FL_PROGRESS_SHIFT;
    if (progress > FL_PROGRESS_MAX) progress = FL_PROGRESS_MAX;
    word = ((uint32_t)ctx->state << 16) | progress;
    for (i = 0; i < 4; ++i) fl_send_byte(ctx, (uint8_t)(word >> (8 * i)));
    if (ctx->usb) fl_write32(ctx->fifo + FL_FIFO_COMMIT, 1);
    if (ctx->state >= FL_STATE_ERASE_ERROR) ctx->final_answered = 1;
}

void fl_service_bytes(struct fl_ctx* ctx) {
    unsigned budget = FL_SERVICE_BUDGET;
    if (ctx->stream) {
        fl_stream_service(ctx);
        return;
    }
    while (budget-- && (fl_read32(ctx->fifo + FL_FIFO_STATUS) & FL_FIFO_RX_READY)) {
        const uint8_t byte = (uint8_t)fl_read32(ctx->fifo + FL_FIFO_DATA);
        /* 0x94 occurs only at the start of the query, so a mismatch can restart there. */
        if (byte == kStatusQuery[ctx->matched])
            ++ctx->matched;
        else
            ctx->matched = byte == kStatusQuery[0] ? 1 : 0;
        if (ctx->matched == sizeof kStatusQuery) {
            ctx->matched = 0;
            answer(ctx);
        }
    }
}

unsigned fl_main(const struct fl_board* board, fl_job job) {
    struct fl_ctx ctx;
    const uint8_t* block = fl_ram(board->ram_base + FL_PARAM_BLOCK);
    unsigned result;

    ctx.board = board;
    ctx.params.flash_address = le32(block + FL_PARAM_FLASH_ADDRESS);
    ctx.params.partition_end = le32(block + FL_PARAM_PARTITION_END);
    ctx.params.image_address = le32(block + FL_PARAM_IMAGE_ADDRESS);
    ctx.params.image_size = le32(block + FL_PARAM_IMAGE_SIZE);
    ctx.params.channel = le32(block + FL_PARAM_CHANNEL);
    ctx.params.stream = le32(block + FL_PARAM_STREAM) == FL_STREAM_REQUEST;
    ctx.usb = ctx.params.channel == FL_CHANNEL_USB;
    ctx.fifo = ctx.usb ? board->usb : board->uart;
    ctx.state = FL_STATE_ERASING;
    ctx.matched = 0;
    ctx.done = 0;
    ctx.done_state = 0;
    ctx.final_answered = 0;
    ctx.stream = 0;

    if (ctx.params.stream && !ctx.usb) {
        /* The session has said its last word to the host and put the UART back at
         * the boot ROM's speed. */
        result = job(&ctx);
        fl_write32(board->sysctl + FL_SYS_BOOT_CONTROL, FL_RETURN_TO_ROM_KEY);
        return result;
    }
    fl_service(&ctx);
    /* Streaming needs the line's speed and a byte pipe both ways; the USB FIFO is
     * not offered it, and nothing is written. */
    result = ctx.params.stream ? FL_STATE_ERASE_ERROR : job(&ctx);
    ctx.state = result;
    /* The host stops polling at the final code, so the board is handed back only
     * after that code has reached it. */
    for (;;) {
        fl_service(&ctx);
        if (ctx.final_answered) break;
        fl_write32(board->sysctl + FL_SYS_WAIT_FOR_HOST, 1);
    }
    fl_write32(board->sysctl + FL_SYS_BOOT_CONTROL, FL_RETURN_TO_ROM_KEY);
    return result;
}
