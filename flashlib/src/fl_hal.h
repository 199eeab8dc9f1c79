/* Bus access of the flash library. On the target these are plain volatile
 * accesses; the host build routes them to the board model. */
#ifndef FL_HAL_H
#define FL_HAL_H

#include <stdint.h>

#ifdef FL_NATIVE

#ifdef __cplusplus
extern "C" {
#endif
uint8_t fl_read8(uint32_t addr);
uint16_t fl_read16(uint32_t addr);
uint32_t fl_read32(uint32_t addr);
void fl_write16(uint32_t addr, uint16_t value);
void fl_write32(uint32_t addr, uint32_t value);
/* RAM of the board; the core checks every range against the board's RAM first. */
uint8_t* fl_ram(uint32_t addr);
#ifdef __cplusplus
}
#endif

#else

static inline uint8_t fl_read8(uint32_t addr) { return *(volatile const uint8_t*)(uintptr_t)addr; }
static inline uint16_t fl_read16(uint32_t addr) { return *(volatile const uint16_t*)(uintptr_t)addr; }
static inline uint32_t fl_read32(uint32_t addr) { return *(volatile const uint32_t*)(uintptr_t)addr; }
static inline void fl_write16(uint32_t addr, uint16_t value) { *(volatile uint16_t*)(uintptr_t)addr = value; }
static inline void fl_write32(uint32_t addr, uint32_t value) { *(volatile uint32_t*)(uintptr_t)addr = value; }
static inline uint8_t* fl_ram(uint32_t addr) { return (uint8_t*)(uintptr_t)addr; }

#endif

#endif
