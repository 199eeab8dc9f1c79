/* The streaming session's state and its side of the wire: the receiver that
 * turns the host's bytes into checked frames, the messages back, the CRC and the
 * UART's speed. Shared by fl_stream.c (what the frames mean), fl_range.c
 * (the requests of version 2) and fl_stream_wire.c (how they travel). */
#ifndef FL_STREAM_WIRE_H
#define FL_STREAM_WIRE_H

#include "fl_stream.h"

#define FL_FRAME_START 0xF5u
#define FL_MESSAGE_START 0xFAu
#define FL_FRAME_HEADER 12u
#define FL_MESSAGE_SIZE 16u
#define FL_STREAM_VERSION 1u
#define FL_STREAM_RANGES 2u /* the version that knows ranges */

/* Frames from the host. */
#define FL_FRAME_HELLO 'H'
#define FL_FRAME_SPEED 'S'
#define FL_FRAME_SYNC 'Y'
#define FL_FRAME_BLOCK 'B'
#define FL_FRAME_FINISH 'F'
#define FL_FRAME_QUIT 'Q'
/* Version 2. */
#define FL_FRAME_RANGE 'R'
#define FL_FRAME_DIGESTS 'C'
#define FL_FRAME_WRITE 'W'
#define FL_FRAME_ERASE 'E'
#define FL_RANGE_PAYLOAD 12u
/* Block argument: the decoded size (W: the block's index), and this flag when the
 * payload is the data itself. */
#define FL_BLOCK_STORED 0x80000000u

/* Messages to the host. */
#define FL_MSG_HELLO 'H'
#define FL_MSG_SPEED 'S'
#define FL_MSG_REFUSED 'R'
#define FL_MSG_SYNC 'Y'
#define FL_MSG_ACCEPTED 'A'
#define FL_MSG_REJECTED 'N'
#define FL_MSG_PROGRESS 'P'
#define FL_MSG_DONE 'D'
#define FL_MSG_ERROR 'E'
#define FL_MSG_QUIT 'Q'
/* Version 2. */
#define FL_MSG_RANGE 'G'
#define FL_MSG_DIGESTS 'L'
#define FL_MSG_ERASED 'X'

/* Why a block was rejected or a session failed. */
#define FL_REASON_DAMAGED 1  /* a frame arrived damaged */
#define FL_REASON_GAP 2      /* a frame stopped arriving halfway */
#define FL_REASON_SEQUENCE 3 /* a block out of order */
#define FL_REASON_JOB 4      /* the job does not fit the device or partition */
#define FL_REASON_FLASH 5    /* the flash failed; the state code says how */
#define FL_REASON_DATA 6     /* a block did not decode to its announced size */
#define FL_REASON_SPEED 7    /* a rate the UART cannot make */
#define FL_REASON_HOST 8     /* the host stayed silent */
#define FL_REASON_REQUEST 9  /* a request that does not fit the range in use (answered, nothing done) */

/* Ranges: block sizes of digests and ranged writes, and digests per request. */
#define FL_BLOCK_SHIFT_MIN 9u
#define FL_BLOCK_SHIFT_MAX 14u
#define FL_DIGESTS_MAX 512u

/* The UART's rate is UART_CLOCK_BAUD / divisor; the boot ROM runs it at 115200. */
#define FL_UART_CLOCK_BAUD 921600u
#define FL_ROM_DIVISOR 8u

enum fl_phase {
    FL_PHASE_COMMAND, /* at the boot ROM's speed: hello, speed, quit (before and after the stream) */
    FL_PHASE_SYNC,    /* at the new speed, until the first block (or range request) proves it */
    FL_PHASE_STREAM,  /* blocks arrive; the flash is written behind them; requests are served */
    FL_PHASE_VERIFY,  /* a sequential stream written; reading it back */
    FL_PHASE_DONE,    /* the range's digest is known */
    FL_PHASE_FAILED,  /* an error was reported; waiting for the host to quit (or name another range) */
    FL_PHASE_QUIT
};

/* What the range in use is being written with. */
enum fl_mode { FL_MODE_IDLE, FL_MODE_SEQUENTIAL, FL_MODE_BLOCKS };

struct fl_stream {
    uint32_t crc32_table[256];
    uint32_t crc64_low[256];
    uint32_t crc64_high[256];

    /* Receiver. */
    uint8_t header[FL_FRAME_HEADER];
    unsigned have;      /* header bytes so far; 0: between frames */
    uint32_t body_left; /* payload bytes still to come */
    uint32_t body_at;
    uint8_t* body;   /* where the payload goes; 0: dropped */
    int body_buffer; /* the receive buffer it goes to; -1: none */
    int in_place;    /* a stored block written straight into the image */
    uint8_t trailer[4];
    unsigned trailer_have;
    uint32_t crc; /* running CRC of header and payload */
    uint32_t last_byte_us;
    int damaged; /* a damaged frame is answered once the line is quiet */
    unsigned damage;
    uint8_t range_payload[FL_RANGE_PAYLOAD];

    /* Blocks: taken in order into free buffers, decoded in the order taken. */
    uint8_t* buffer[FL_STREAM_BUFFERS];
    uint32_t length[FL_STREAM_BUFFERS];
    uint32_t argument[FL_STREAM_BUFFERS];
    int full[FL_STREAM_BUFFERS];
    int placed[FL_STREAM_BUFFERS];   /* the block is already in the image: nothing to decode */
    uint8_t kind[FL_STREAM_BUFFERS]; /* B: the next piece of the image; W: a ranged block */
    int queue[FL_STREAM_BUFFERS];    /* full buffers, oldest first */
    unsigned queued;
    int ack_pending; /* the latest block is taken but not yet answered */
    int acked;       /* a block has been answered: last_acked is valid */
    uint16_t last_acked;
    uint16_t expected; /* sequence number of the next block */
    uint32_t announced;
    uint32_t available; /* image bytes decoded into RAM */
    uint32_t written;   /* image bytes in flash (ranged writes: taken into flash or its copy) */
    uint32_t verified;  /* image bytes read back */
    uint8_t* image;
    uint32_t image_size;

    /* The range in use: the parameter block's image, or the last Range frame's. */
    const struct fl_device* device;
    void* job;
    uint8_t* work;
    unsigned version;
    int selected;
    uint32_t span_size;
    enum fl_mode mode;
    uint32_t block_shift; /* ranged blocks are 1 << block_shift bytes; 0: none named */
    uint32_t blocks;

    /* A request waits until the blocks before it are written; one at a time. */
    unsigned request; /* the frame kind; 0: none */
    uint16_t request_seq;
    uint32_t request_argument;
    uint8_t request_payload[FL_RANGE_PAYLOAD];
    unsigned serving;   /* the kind of the request being served; 0: none */
    int abort;          /* the host ends the session: stop what may stop */
    uint32_t tick_base; /* progress of a request before its current piece of work */

    /* Session. */
    enum fl_phase phase;
    unsigned refused; /* state code for a job that failed its checks */
    int no_job;       /* the parameter block names no image (size 0) */
    unsigned error;   /* state code of a failure */
    unsigned reason;
    uint32_t phase_start_us;
    uint32_t last_frame_us;
    uint32_t digest;
    int completed;
    int ended; /* the host took the line back to the boot ROM's speed */
};

/* fl_stream_wire.c */
uint32_t fl_wire_crc_byte(const struct fl_stream* s, uint32_t crc, uint8_t byte);
void fl_wire_reply(struct fl_ctx* ctx, unsigned kind, unsigned seq, unsigned state, unsigned reason, uint32_t value);
/* A message followed by `size` bytes and their CRC-32. */
void fl_wire_reply_tail(struct fl_ctx* ctx, unsigned kind, unsigned seq, uint32_t value, const uint8_t* tail,
                        uint32_t size);
void fl_wire_set_divisor(struct fl_ctx* ctx, uint32_t divisor);
void fl_wire_byte(struct fl_ctx* ctx, struct fl_stream* s, uint8_t byte);
/* Ends a frame that stopped arriving and answers a damaged one once the line is quiet. */
void fl_wire_timers(struct fl_ctx* ctx, struct fl_stream* s, uint32_t now);

/* fl_stream.c: a complete frame with a good CRC. */
void fl_stream_frame(struct fl_ctx* ctx, struct fl_stream* s);
/* fl_stream.c: a buffer for the next block to arrive; -1 when none is free (or
 * the session takes no blocks). */
int fl_stream_free_buffer(const struct fl_stream* s);
/* fl_stream.c: a damaged frame, answered when the line went quiet. */
void fl_stream_damaged(struct fl_ctx* ctx, struct fl_stream* s, unsigned reason);
/* fl_stream.c: reports a failure; the range's later frames get it again. */
void fl_stream_fail(struct fl_ctx* ctx, struct fl_stream* s, unsigned state, unsigned reason);
/* fl_stream.c: a speed change; back to the boot ROM's speed it ends the stream. */
void fl_stream_speed(struct fl_ctx* ctx, struct fl_stream* s, uint32_t baud);

/* fl_range.c: the requests of version 2. */
void fl_range_request(struct fl_ctx* ctx, struct fl_stream* s, unsigned kind, uint16_t seq, uint32_t argument);
/* Serves the waiting request. */
void fl_range_serve(struct fl_ctx* ctx, struct fl_stream* s);
/* Size of ranged block `index`: the last one may be short. */
uint32_t fl_range_block_size(const struct fl_stream* s, uint32_t index);
/* Writes back what ranged writes left in RAM; 0 or the state code of the failure. */
unsigned fl_range_flush(struct fl_ctx* ctx, struct fl_stream* s);
/* CRC-32 of the range's first `size` bytes as the flash holds them, into s->digest;
 * nonzero when the flash could not be read or the session is ending. */
int fl_range_crc(struct fl_ctx* ctx, struct fl_stream* s, uint32_t size);

static inline uint32_t fl_get32(const uint8_t* p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

#endif
