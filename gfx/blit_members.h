// The blitter members written once: where each pixel comes from (a source
// kind), what it becomes (a formula that works on a 32-bit integer or on a
// vector of them) and how many bytes it takes in the destination.
#pragma once
#include <cstdint>

#include "gfx/blit.h"

namespace pel::blit {
// Unnamed: each file built for its own instruction set gets its own copy.
namespace {

enum class Source { Indexed, Rgb16, Lookup16, Rgb32 };

// e: palette entry 0x00BBGGRR; p: 5-6-5 pixel; s: 0x00RRGGBB; q: looked-up 16-bit pixel.
struct Identity {
  template <typename T> static T at(T v) { return v; }
};
struct Index15 {
  template <typename T> static T at(T e) { return ((e << 7) & 0x7C00u) | ((e >> 6) & 0x3E0u) | ((e >> 19) & 0x1Fu); }
};
struct Index15Rgb {
  template <typename T> static T at(T e) { return ((e >> 9) & 0x7C00u) | ((e >> 6) & 0x3E0u) | ((e >> 3) & 0x1Fu); }
};
struct Index16 {
  template <typename T> static T at(T e) { return ((e << 8) & 0xF800u) | ((e >> 5) & 0x7E0u) | ((e >> 19) & 0x1Fu); }
};
struct Index16Rgb {
  template <typename T> static T at(T e) { return ((e >> 8) & 0xF800u) | ((e >> 5) & 0x7E0u) | ((e >> 3) & 0x1Fu); }
};
// Bytes blue, green, red from 0x00BBGGRR; also red, green, blue from 0x00RRGGBB.
struct SwapRedBlue24 {
  template <typename T> static T at(T e) { return ((e >> 16) & 0xFFu) | (e & 0xFF00u) | ((e << 16) & 0xFF0000u); }
};
struct Low24 {
  template <typename T> static T at(T e) { return e & 0xFFFFFFu; }
};
struct Index32 {
  template <typename T> static T at(T e) { return (e & 0xFF00u) | (e >> 16) | ((e << 16) & 0xFF0000u); }
};
struct Rgb16To15 {
  template <typename T> static T at(T p) { return ((p >> 1) & 0x7FE0u) | (p & 0x1Fu); }
};
struct Rgb16To15Rgb {
  template <typename T> static T at(T p) { return (p >> 11) | ((p >> 1) & 0x3E0u) | ((p << 10) & 0x7C00u); }
};
struct Rgb16To16Rgb {
  template <typename T> static T at(T p) { return (p >> 11) | (p & 0x7E0u) | ((p << 11) & 0xF800u); }
};
struct Rgb32To15 {
  template <typename T> static T at(T s) { return ((s >> 9) & 0x7C00u) | ((s >> 6) & 0x3E0u) | ((s >> 3) & 0x1Fu); }
};
struct Rgb32To15Rgb {
  template <typename T> static T at(T s) { return ((s << 7) & 0x7C00u) | ((s >> 6) & 0x3E0u) | ((s >> 19) & 0x1Fu); }
};
struct Rgb32To16 {
  template <typename T> static T at(T s) { return ((s >> 8) & 0xF800u) | ((s >> 5) & 0x7E0u) | ((s >> 3) & 0x1Fu); }
};
struct Rgb32To16Rgb {
  template <typename T> static T at(T s) { return ((s << 8) & 0xF800u) | ((s >> 5) & 0x7E0u) | ((s >> 19) & 0x1Fu); }
};
// What the 16-to-32-bit lookup holds for each order, computed instead of looked up.
struct Rgb16Lookup0 {
  template <typename T> static T at(T p) { return ((p & 0xF800u) << 8) | ((p & 0x7E0u) << 5) | ((p & 0x1Fu) << 3); }
};
struct Rgb16Lookup1 {
  template <typename T> static T at(T p) { return ((p & 0x1Fu) << 19) | ((p & 0x7E0u) << 5) | ((p >> 8) & 0xF8u); }
};
// 0xGGBBGGRR: the low three bytes rotated left by 16, green kept in place.
struct Rgb32To32Rgb {
  template <typename T> static T at(T s) {
    const T x = s & 0xFFFFFFu;
    return (x << 16) | (x >> 16) | (s & 0xFF00u);
  }
};

// The 24 members of one form, order 1 then order 0, each group: indexed,
// 16-bit and 32-bit sources to 15, 16, 24 and 32 bits; M<S, F, Bytes>::run
// is a member. Where source and destination formats agree, every form uses
// the plain copy.
template <template <Source, typename, int> class M>
constexpr Blitter memberGroups[24] = {
    M<Source::Indexed, Index15Rgb, 2>::run,  M<Source::Indexed, Index16Rgb, 2>::run,
    M<Source::Indexed, Low24, 3>::run,       M<Source::Indexed, Identity, 4>::run,
    M<Source::Rgb16, Rgb16To15Rgb, 2>::run,  M<Source::Rgb16, Rgb16To16Rgb, 2>::run,
    M<Source::Lookup16, Identity, 3>::run,   M<Source::Lookup16, Identity, 4>::run,
    M<Source::Rgb32, Rgb32To15Rgb, 2>::run,  M<Source::Rgb32, Rgb32To16Rgb, 2>::run,
    M<Source::Rgb32, SwapRedBlue24, 3>::run, M<Source::Rgb32, Rgb32To32Rgb, 4>::run,

    M<Source::Indexed, Index15, 2>::run,     M<Source::Indexed, Index16, 2>::run,
    M<Source::Indexed, SwapRedBlue24, 3>::run, M<Source::Indexed, Index32, 4>::run,
    M<Source::Rgb16, Rgb16To15, 2>::run,     blitCopy,
    M<Source::Lookup16, Identity, 3>::run,   M<Source::Lookup16, Identity, 4>::run,
    M<Source::Rgb32, Rgb32To15, 2>::run,     M<Source::Rgb32, Rgb32To16, 2>::run,
    M<Source::Rgb32, Low24, 3>::run,         blitCopy,
};

}  // namespace
}  // namespace pel::blit
