// The demo's disc renderer: filled discs written straight into an 800 x 600
// page of 32-bit pixels, one span per row, with square-root estimates.
#pragma once
#include <cstdint>

namespace pel {

constexpr int32_t discPagePitch = 800;             // pixels per row, fixed
constexpr int32_t discPagePixels = 800 * 600;      // spans are clipped to this

// The page that fillDisc writes into (the work page's first pixel).
extern uint32_t* screenBase;

// Fills the disc of radius r centred on (cx, cy); only the low 16 bits of
// the three integers count. Spans wrap linearly from row to row; a span
// starting before the page writes nothing and no index past the page is
// written.
void fillDisc(int32_t cx, int32_t cy, int32_t r, uint32_t value);

// The two forms behind fillDisc, limited to the pixel indices [low, high)
// (plain, and AVX2 or null where the processor lacks it), for tests that
// compare them.
using DiscWindowFiller = void (*)(int32_t cx, int32_t cy, int32_t r, uint32_t value, int32_t low, int32_t high);
DiscWindowFiller discPlainForm();
DiscWindowFiller discVectorForm();

// sqrt estimate: bit-pattern guess refined by one Newton step.
float fastSqrt(float x);

// Alternative estimates of the same family.
float sqrtReciprocalEstimate(float x);  // reciprocal-root estimate times x
float sqrtRangeReduced(float x);        // power-of-four range reduction, two steps
float sqrtSignedShift(float x);         // fastSqrt with an arithmetic shift
float sqrtBareBits(float x);            // bit pattern only, no refinement

}  // namespace pel
