#pragma once
// Region arithmetic: an area of a pixel buffer as a set of non-overlapping
// boxes with 16-bit coordinates, kept in a canonical banded form.
//
// Banded form: boxes are sorted by y1, then x1; boxes with the same y1 form
// a band and share y1 and y2; the boxes of a band neither overlap nor touch;
// bands do not overlap; and two vertically adjacent bands with the same
// spans are one band.  Every region the operations build is in that form,
// so equal areas have equal box lists.
//
// A region is a small record passed by value: its extents (the bounding
// box) and a data pointer.  Null data means the region is exactly its
// extents (one box, nothing allocated); the shared empty block means an
// empty region; the shared broken block marks a region whose last
// allocation failed; any other block is owned and holds the boxes.  Users
// walk the boxes through miRegionRects and miRegionNumRects.
//
// The result of an operation may be the same record as an operand.  Not
// thread-safe: a region belongs to one thread at a time.

#include <cstddef>
#include <cstdint>

// Covers x1 <= x < x2, y1 <= y < y2; empty when x1 >= x2 or y1 >= y2.
struct BoxRec {
  int16_t x1, y1, x2, y2;
};

// A block of boxes: `size` boxes of room follow the header, `numRects` of
// them in use.  Blocks of size 0 are the two shared ones and never freed.
struct RegDataRec {
  ptrdiff_t size;
  ptrdiff_t numRects;
};

struct RegionRec {
  BoxRec extents;
  RegDataRec* data;
};

extern RegDataRec miEmptyData;
extern RegDataRec miBrokenData;

// The boxes that follow a block's header.
inline BoxRec* miRegionBoxes(RegDataRec* data) { return reinterpret_cast<BoxRec*>(data + 1); }
inline const BoxRec* miRegionBoxes(const RegDataRec* data) { return reinterpret_cast<const BoxRec*>(data + 1); }

inline ptrdiff_t miRegionNumRects(const RegionRec* region) { return region->data ? region->data->numRects : 1; }
// The region's boxes: its extents when it has no block.
inline const BoxRec* miRegionRects(const RegionRec* region) {
  return region->data ? miRegionBoxes(region->data) : &region->extents;
}
inline bool miRegionNotEmpty(const RegionRec* region) { return miRegionNumRects(region) != 0; }
inline bool miRegionBroken(const RegionRec* region) { return region->data == &miBrokenData; }

// Makes `region` the one box (no allocation), or the empty region when the
// box is empty.  Whatever the record held before is not freed.
void miRegionInit(RegionRec* region, const BoxRec& box);
// Frees an owned block; nothing else.
void miRegionUninit(RegionRec* region);
// Frees an owned block and turns the region broken; returns false.
bool miRegionBreak(RegionRec* region);
// Makes room for n more boxes: a one-box region moves its box into a new
// block, a shared block is replaced by one of n boxes, an owned block
// grows (by its box count, or 250 at a time beyond 500 boxes, when n is 1).
// When an owned block cannot grow, the region is broken and the result
// false.  A new block that cannot be allocated is a fatal assertion.
[[nodiscard]] bool miRectAlloc(RegionRec* region, ptrdiff_t n);
// dst = src, reusing dst's block when it is large enough.
bool miRegionCopy(RegionRec* dst, const RegionRec* src);
// Recomputes the extents from the boxes of a block.
void miSetExtents(RegionRec* region);

// result = a ∩ b, a ∪ b, a − b.  A broken operand makes the result broken
// and the result false.
bool miIntersect(RegionRec* result, const RegionRec* a, const RegionRec* b);
bool miUnion(RegionRec* result, const RegionRec* a, const RegionRec* b);
bool miSubtract(RegionRec* result, const RegionRec* a, const RegionRec* b);

// Moves the region by (dx, dy); boxes are clipped to the 16-bit range and
// dropped when wholly outside it.
void miTranslateRegion(RegionRec* region, int dx, int dy);

enum : int { kRectOut = 0, kRectIn = 1, kRectPart = 2 };
// Whether `box` lies outside the region (kRectOut), entirely inside
// (kRectIn) or partly inside (kRectPart).  An empty box is outside.
int miRectIn(const RegionRec* region, const BoxRec& box);
// Whether (x, y) lies in the region; when it does and `box` is not null,
// *box is the region's box that holds it.
bool miPointInRegion(const RegionRec* region, int x, int y, BoxRec* box);
// Same extents, same number of boxes and the same boxes.
bool miRegionEqual(const RegionRec* a, const RegionRec* b);
