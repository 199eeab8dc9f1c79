/* Raw deflate (RFC 1951) decoding into one flat buffer, for the streaming mode of
 * the flash libraries. The output buffer is the window: back-references reach
 * into everything decoded so far, so a stream that the host flushed block by
 * block decodes one block at a time with no state kept between the calls but the
 * output position.
 *
 * Every read of the input and every write of the output is checked against its
 * bounds: whatever bytes arrive, decoding ends with an error code rather than
 * reading or writing outside the two buffers. Freestanding: no library calls. */
#ifndef FL_INFLATE_H
#define FL_INFLATE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
    FL_INFLATE_OK = 0,    /* the input ended exactly after a block; more may follow */
    FL_INFLATE_FINAL = 1, /* the stream's last block was decoded and the input ended with it */
    FL_INFLATE_BAD = -1,  /* malformed input: truncated, invalid codes, a distance before the output's start */
    FL_INFLATE_FULL = -2  /* the output would have passed its limit */
};

/* Decodes the deflate blocks in in[0, in_size) into out[*pos, limit), with
 * back-references reaching into out[0, *pos). *pos advances past every byte
 * written, also when decoding fails. */
int fl_inflate(const uint8_t* in, uint32_t in_size, uint8_t* out, uint32_t limit, uint32_t* pos);

#ifdef __cplusplus
}
#endif

#endif
