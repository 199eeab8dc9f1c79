/* The streaming session's state and its side of the wire: the receiver that
 * turns the host's bytes into checked frames, the messages back, the CRC and the
 * UART's speed. Shared by fl_stream.c (what the frames mean) and
 * fl_stream_wire.c (how they travel). */
#ifndef FL_STREAM_WIRE_H
#define FL_STREAM_WIRE_H

#include "fl_stream.h"

#define FL_FRAME_START 0xF5u
#define FL_MESSAGE_START 0xFAu
#define FL_FRAME_HEADER 12u
#define FL_MESSAGE_SIZE 16u
#define FL_STREAM_VERSION 1u

/* Frames from the host. */
#define FL_FRAME_HELLO 'H'
#define FL_FRAME_SPEED 'S'
#define FL_FRAME_SYNC 'Y'
#define FL_FRAME_BLOCK 'B'
#define FL_FRAME_FINISH 'F'
#define FL_FRAME_QUIT 'Q'
/* Block argument: the decoded size, and this flag when the payload is the data itself. */
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

/* Why a block was rejected or a session failed. */
#define FL_REASON_DAMAGED 1  /* a frame arrived damaged */
#define FL_REASON_GAP 2      /* a frame stopped arriving halfway */
#define FL_REASON_SEQUENCE 3 /* a block out of order */
#define FL_REASON_JOB 4      /* the job does not fit the device or partition */
#define FL_REASON_FLASH 5    /* the flash failed; the state code says how */
#define FL_REASON_DATA 6     /* a block did not decode to its announced size */
#define FL_REASON_SPEED 7    /* a rate the UART cannot make */
#define FL_REASON_HOST 8     /* the host stayed silent */

/* The UART's rate is UART_CLOCK_BAUD / divisor; the boot ROM runs it at 115200. */
#define FL_UART_CLOCK_BAUD 921600u
#define FL_ROM_DIVISOR 8u

enum fl_phase {
    FL_PHASE_COMMAND, /* at the boot ROM's speed: hello, speed, quit (before and after the stream) */
    FL_PHASE_SYNC,    /* at the new speed, until the first block proves it */
    FL_PHASE_STREAM,  /* blocks arrive; the flash is written behind them */
    FL_PHASE_VERIFY,  /* everything written; reading it back */
    FL_PHASE_DONE,    /* the digest is known */
    FL_PHASE_FAILED,  /* an error was reported; waiting for the host to quit */
    FL_PHASE_QUIT
};

struct fl_stream {
    uint32_t crc_table[256];

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

    /* Blocks: taken in order into free buffers, decoded in the order taken. */
    uint8_t* buffer[FL_STREAM_BUFFERS];
    uint32_t length[FL_STREAM_BUFFERS];
    uint32_t argument[FL_STREAM_BUFFERS];
    int full[FL_STREAM_BUFFERS];
    int placed[FL_STREAM_BUFFERS]; /* the block is already in the image: nothing to decode */
    int queue[FL_STREAM_BUFFERS];  /* full buffers, oldest first */
    unsigned queued;
    int ack_pending; /* the latest block is taken but not yet answered */
    int acked;       /* a block has been answered: last_acked is valid */
    uint16_t last_acked;
    uint16_t expected; /* sequence number of the next block */
    uint32_t announced;
    uint32_t available; /* image bytes decoded into RAM */
    uint32_t written;   /* image bytes in flash */
    uint32_t verified;  /* image bytes read back */
    uint8_t* image;
    uint32_t image_size;

    /* Session. */
    enum fl_phase phase;
    unsigned refused; /* state code for a job that failed its checks */
    unsigned error;   /* state code of a failure */
    unsigned reason;
    uint32_t phase_start_us;
    uint32_t last_frame_us;
    uint32_t digest;
    int completed;
    int ended; /* the host took the line back to the boot ROM's speed */
};

/* fl_stream_wire.c */
void fl_wire_init(struct fl_stream* s);
uint32_t fl_wire_crc_byte(const struct fl_stream* s, uint32_t crc, uint8_t byte);
void fl_wire_reply(struct fl_ctx* ctx, unsigned kind, unsigned seq, unsigned state, unsigned reason, uint32_t value);
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

static inline uint32_t fl_get32(const uint8_t* p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

#endif
