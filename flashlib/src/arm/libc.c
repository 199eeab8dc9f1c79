/* The few library routines the compiler may call in a freestanding build. */
#include <stddef.h>
#include <stdint.h>

void* memcpy(void* to, const void* from, size_t n);
void* memset(void* to, int value, size_t n);
void* memmove(void* to, const void* from, size_t n);

void* memcpy(void* to, const void* from, size_t n) {
    uint8_t* d = to;
    const uint8_t* s = from;
    while (n--) *d++ = *s++;
    return to;
}

void* memmove(void* to, const void* from, size_t n) {
    uint8_t* d = to;
    const uint8_t* s = from;
    if (d < s) return memcpy(to, from, n);
    while (n--) d[n] = s[n];
    return to;
}

void* memset(void* to, int value, size_t n) {
    uint8_t* d = to;
    while (n--) *d++ = (uint8_t)value;
    return to;
}
