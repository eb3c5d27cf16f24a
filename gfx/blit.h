// Blitters: conversion of the visible page's dirty rows into a display
// surface of another pixel format.
#pragma once
#include <cstdint>

namespace pel {

// Writes the rows of `destination` (row 0, column 0; rows `pitch` bytes
// apart) that belong to dirty rows of the visible page; leaves the others.
// The caller holds the back end's lock and clears the dirty table after.
using Blitter = void (*)(uint8_t* destination, int32_t pitch);

// The blitter for a destination depth (8, 15, 16, 24 or 32) and channel
// order (0: red in the high bits; non-zero: red in the low bits), or null.
// Rebuilds the 16-to-32-bit lookup table for that order.
Blitter selectBlitter(int32_t depth, int32_t rgbOrder);

// 48 entries: plain members for order 1, plain for order 0, vector for order
// 1, vector for order 0; each group: indexed, 16-bit and 32-bit sources to
// 15, 16, 24 and 32 bits.
extern const Blitter BlitterTable[48];
// The plain copy shared by every group.
void blitCopy(uint8_t* destination, int32_t pitch);

// The 16-to-32-bit lookup, L then H (256 entries each), in the mode's
// scratch table; null without a mode.
const uint32_t* rgb565Lookup();
// The channel order the lookup was last built for.
int32_t rgb565LookupOrder();

}  // namespace pel
