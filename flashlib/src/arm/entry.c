/* The board each image is built for; FL_BOARD_VIREOB / FL_BOARD_VIREOC and
 * FL_JOB (fl_nor_run or fl_nand_run) come from the build. Addresses as in DATASHEET.md. */
#include "fl_core.h"

void fl_entry(void);

#if defined(FL_BOARD_VIREOB)
static const struct fl_board kBoard = {
    0xA0000000u, 0x04000000u, 0xC0000000u, 0x02000000u, 0u, 0xD8009000u, 0xD800A000u, 0xD800B000u,
};
#elif defined(FL_BOARD_VIREOC)
static const struct fl_board kBoard = {
    0x80000000u, 0x04000000u, 0xA0000000u, 0x02000000u, 0xB8008000u, 0xB8009000u, 0xB800A000u, 0xB800B000u,
};
#else
#error "FL_BOARD_VIREOB or FL_BOARD_VIREOC must be defined"
#endif

void fl_entry(void) { fl_main(&kBoard, FL_JOB); }
