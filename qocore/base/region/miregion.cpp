#include "qocore/base/region/miregion.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "qocore/base/plat/Exception.h"

RegDataRec miEmptyData = {0, 0};
RegDataRec miBrokenData = {0, 0};

namespace {

constexpr BoxRec kEmptyBox = {0, 0, 0, 0};
constexpr int kMin16 = -32768;
constexpr int kMax16 = 32767;

// The most boxes a block may hold: its byte size must fit a ptrdiff_t.
constexpr ptrdiff_t kMaxBoxes = (PTRDIFF_MAX - static_cast<ptrdiff_t>(sizeof(RegDataRec))) / sizeof(BoxRec);

bool ownsBlock(const RegionRec* region) { return region->data && region->data->size != 0; }

size_t blockBytes(ptrdiff_t boxes) { return sizeof(RegDataRec) + static_cast<size_t>(boxes) * sizeof(BoxRec); }

// A fresh block for n boxes, none in use; failing is fatal.
RegDataRec* newBlock(ptrdiff_t n) {
  RegDataRec* p = nullptr;
  if (n > 0 && n <= kMaxBoxes) p = static_cast<RegDataRec*>(std::malloc(blockBytes(n)));
  PLAT_ASSERT(p);
  p->size = n;
  p->numRects = 0;
  return p;
}

// Resizes an owned block to n boxes; on failure the region is broken.
bool resizeBlock(RegionRec* region, ptrdiff_t n) {
  void* p = nullptr;
  if (n > 0 && n <= kMaxBoxes) p = std::realloc(region->data, blockBytes(n));
  if (!p) return miRegionBreak(region);
  region->data = static_cast<RegDataRec*>(p);
  region->data->size = n;
  return true;
}

void makeEmpty(RegionRec* region) {
  miRegionUninit(region);
  region->extents = kEmptyBox;
  region->data = &miEmptyData;
}

bool overlaps(const BoxRec& a, const BoxRec& b) { return a.x1 < b.x2 && b.x1 < a.x2 && a.y1 < b.y2 && b.y1 < a.y2; }

bool contains(const BoxRec& outer, const BoxRec& inner) {
  return outer.x1 <= inner.x1 && outer.x2 >= inner.x2 && outer.y1 <= inner.y1 && outer.y2 >= inner.y2;
}

BoxRec makeBox(int x1, int y1, int x2, int y2) {
  return {static_cast<int16_t>(x1), static_cast<int16_t>(y1), static_cast<int16_t>(x2), static_cast<int16_t>(y2)};
}

// Appends one box to the result block, growing it when full.
bool appendBox(RegionRec* region, int x1, int y1, int x2, int y2) {
  if (region->data->numRects == region->data->size && !miRectAlloc(region, 1)) return false;
  miRegionBoxes(region->data)[region->data->numRects++] = makeBox(x1, y1, x2, y2);
  return true;
}

// The band that starts at `box` ends where y1 changes.
const BoxRec* bandEnd(const BoxRec* box, const BoxRec* end) {
  const BoxRec* p = box;
  while (p != end && p->y1 == box->y1) ++p;
  return p;
}

// Merges the band just appended (from `cur` to the end of the block) into
// the band before it (from `prev` to `cur`) when they touch vertically and
// have the same spans.  Returns where the last band now starts.
ptrdiff_t coalesce(RegionRec* region, ptrdiff_t prev, ptrdiff_t cur) {
  const ptrdiff_t count = cur - prev;
  if (count == 0 || count != region->data->numRects - cur) return cur;
  BoxRec* boxes = miRegionBoxes(region->data);
  if (boxes[prev].y2 != boxes[cur].y1) return cur;
  for (ptrdiff_t i = 0; i < count; ++i) {
    if (boxes[prev + i].x1 != boxes[cur + i].x1 || boxes[prev + i].x2 != boxes[cur + i].x2) return cur;
  }
  const int16_t y2 = boxes[cur].y2;
  for (ptrdiff_t i = 0; i < count; ++i) boxes[prev + i].y2 = y2;
  region->data->numRects -= count;
  return prev;
}

// Appends the spans of one operand's band for rows y1..y2.
bool appendBand(RegionRec* region, const BoxRec* box, const BoxRec* end, int y1, int y2) {
  for (; box != end; ++box) {
    if (!appendBox(region, box->x1, y1, box->x2, y2)) return false;
  }
  return true;
}

// The overlap steps: given both operands' bands over rows y1..y2, append
// the result's spans for those rows.
using OverlapFn = bool (*)(RegionRec* region, const BoxRec* a, const BoxRec* aEnd, const BoxRec* b, const BoxRec* bEnd,
                           int y1, int y2);

bool intersectSpans(RegionRec* region, const BoxRec* a, const BoxRec* aEnd, const BoxRec* b, const BoxRec* bEnd, int y1,
                    int y2) {
  while (a != aEnd && b != bEnd) {
    const int x1 = std::max(a->x1, b->x1);
    const int x2 = std::min(a->x2, b->x2);
    if (x1 < x2 && !appendBox(region, x1, y1, x2, y2)) return false;
    // The span that ends first cannot meet any later span of the other.
    if (a->x2 == x2) ++a;
    if (b->x2 == x2) ++b;
  }
  return true;
}

bool unionSpans(RegionRec* region, const BoxRec* a, const BoxRec* aEnd, const BoxRec* b, const BoxRec* bEnd, int y1,
                int y2) {
  // Takes the spans of both bands in x1 order, joining each with the span
  // being built when they overlap or touch.
  bool open = false;
  int x1 = 0;
  int x2 = 0;
  while (a != aEnd || b != bEnd) {
    const BoxRec* next;
    if (b == bEnd || (a != aEnd && a->x1 < b->x1)) {
      next = a++;
    } else {
      next = b++;
    }
    if (open && next->x1 <= x2) {
      x2 = std::max<int>(x2, next->x2);
      continue;
    }
    if (open && !appendBox(region, x1, y1, x2, y2)) return false;
    open = true;
    x1 = next->x1;
    x2 = next->x2;
  }
  return !open || appendBox(region, x1, y1, x2, y2);
}

bool subtractSpans(RegionRec* region, const BoxRec* a, const BoxRec* aEnd, const BoxRec* b, const BoxRec* bEnd, int y1,
                   int y2) {
  for (; a != aEnd; ++a) {
    // What is left of span a, cut from the left by b's spans.
    int x = a->x1;
    while (b != bEnd && b->x2 <= x) ++b;
    const BoxRec* cut = b;
    for (; cut != bEnd && cut->x1 < a->x2; ++cut) {
      if (cut->x1 > x && !appendBox(region, x, y1, cut->x1, y2)) return false;
      x = std::max<int>(x, cut->x2);
      if (x >= a->x2) break;
    }
    if (x < a->x2 && !appendBox(region, x, y1, a->x2, y2)) return false;
    // A span of b that sticks out to the right may cut the next span of a.
    b = cut;
  }
  return true;
}

// The walk both operations share: the bands of a and b from the top,
// each stretch of rows covered by one side only appended when that side is
// included, the overlap step for stretches both cover, and every new band
// coalesced with the one above.  Builds into a block of its own and puts it
// in place at the end, so the result may be an operand.
bool regionOp(RegionRec* result, const RegionRec* regA, const RegionRec* regB, OverlapFn overlap, bool withOnlyA,
              bool withOnlyB) {
  if (miRegionBroken(regA) || miRegionBroken(regB)) return miRegionBreak(result);

  // An operand without a block is its extents; copy them, since the result
  // may be that very record.
  const BoxRec singleA = regA->extents;
  const BoxRec singleB = regB->extents;
  const BoxRec* a = regA->data ? miRegionBoxes(regA->data) : &singleA;
  const BoxRec* aEnd = a + miRegionNumRects(regA);
  const BoxRec* b = regB->data ? miRegionBoxes(regB->data) : &singleB;
  const BoxRec* bEnd = b + miRegionNumRects(regB);

  // The working size is where the result starts; appending grows it.
  const ptrdiff_t startSize = std::max<ptrdiff_t>(2 * std::max(aEnd - a, bEnd - b), 1);
  RegDataRec* oldData = nullptr;
  if (result == regA || result == regB || !ownsBlock(result) || result->data->size < startSize) {
    if (ownsBlock(result)) oldData = result->data;
    result->data = newBlock(startSize);
  }
  result->data->numRects = 0;
  const auto freeOld = [&] { std::free(oldData); };

  ptrdiff_t prevBand = 0;
  // Appends rows y1..y2 of a band or the overlap of two, then coalesces.
  const auto addBand = [&](auto&& append) -> bool {
    const ptrdiff_t curBand = result->data->numRects;
    if (!append()) return false;
    if (result->data->numRects != curBand) prevBand = coalesce(result, prevBand, curBand);
    return true;
  };

  int ybot = std::min(a->y1, b->y1);  // rows above ybot are done
  while (a != aEnd && b != bEnd) {
    const BoxRec* aBandEnd = bandEnd(a, aEnd);
    const BoxRec* bBandEnd = bandEnd(b, bEnd);
    int ytop;
    if (a->y1 < b->y1) {
      const int top = std::max<int>(a->y1, ybot);
      const int bot = std::min(a->y2, b->y1);
      if (withOnlyA && top < bot && !addBand([&] { return appendBand(result, a, aBandEnd, top, bot); })) {
        freeOld();
        return false;
      }
      ytop = b->y1;
    } else if (b->y1 < a->y1) {
      const int top = std::max<int>(b->y1, ybot);
      const int bot = std::min(b->y2, a->y1);
      if (withOnlyB && top < bot && !addBand([&] { return appendBand(result, b, bBandEnd, top, bot); })) {
        freeOld();
        return false;
      }
      ytop = a->y1;
    } else {
      ytop = a->y1;
    }
    ybot = std::min(a->y2, b->y2);
    if (ybot > ytop && !addBand([&] { return overlap(result, a, aBandEnd, b, bBandEnd, ytop, ybot); })) {
      freeOld();
      return false;
    }
    if (a->y2 == ybot) a = aBandEnd;
    if (b->y2 == ybot) b = bBandEnd;
  }

  // What remains of one operand, below everything of the other.
  const auto appendRest = [&](const BoxRec* p, const BoxRec* end) -> bool {
    if (p == end) return true;
    const BoxRec* pBandEnd = bandEnd(p, end);
    const int top = std::max<int>(p->y1, ybot);
    if (!addBand([&] { return appendBand(result, p, pBandEnd, top, p->y2); })) return false;
    // The bands after the first are already banded and coalesced.
    for (p = pBandEnd; p != end; ++p) {
      if (!appendBox(result, p->x1, p->y1, p->x2, p->y2)) return false;
    }
    return true;
  };
  if ((withOnlyA && !appendRest(a, aEnd)) || (withOnlyB && !appendRest(b, bEnd))) {
    freeOld();
    return false;
  }
  freeOld();

  const ptrdiff_t n = result->data->numRects;
  if (n == 0) {
    makeEmpty(result);
  } else if (n == 1) {
    result->extents = miRegionBoxes(result->data)[0];
    std::free(result->data);
    result->data = nullptr;
  } else if (result->data->size > 50 && n < result->data->size / 2) {
    return resizeBlock(result, n);
  }
  return true;
}

// Makes result the region of one box, the empty region when the box is.
void setBox(RegionRec* result, const BoxRec& box) {
  miRegionUninit(result);
  miRegionInit(result, box);
}

}  // namespace

void miRegionInit(RegionRec* region, const BoxRec& box) {
  if (box.x1 >= box.x2 || box.y1 >= box.y2) {
    region->extents = kEmptyBox;
    region->data = &miEmptyData;
  } else {
    region->extents = box;
    region->data = nullptr;
  }
}

void miRegionUninit(RegionRec* region) {
  if (ownsBlock(region)) std::free(region->data);
}

bool miRegionBreak(RegionRec* region) {
  miRegionUninit(region);
  region->extents = kEmptyBox;
  region->data = &miBrokenData;
  return false;
}

bool miRectAlloc(RegionRec* region, ptrdiff_t n) {
  if (!region->data) {
    // Capped so that the extra box cannot overflow; beyond the cap the
    // allocation fails anyway.
    RegDataRec* block = newBlock(std::min(n, kMaxBoxes) + 1);
    miRegionBoxes(block)[0] = region->extents;
    block->numRects = 1;
    region->data = block;
    return true;
  }
  if (region->data->size == 0) {
    region->data = newBlock(n);
    return true;
  }
  const ptrdiff_t used = region->data->numRects;
  ptrdiff_t grow = n;
  if (n == 1) grow = used > 500 ? 250 : used;
  if (grow > kMaxBoxes - used) return miRegionBreak(region);
  return resizeBlock(region, used + grow);
}

bool miRegionCopy(RegionRec* dst, const RegionRec* src) {
  if (dst == src) return true;
  if (!ownsBlock(src) || src->data->numRects == 0) {
    const bool emptyBlock = ownsBlock(src);
    miRegionUninit(dst);
    dst->extents = emptyBlock ? kEmptyBox : src->extents;
    dst->data = emptyBlock ? &miEmptyData : src->data;
    return true;
  }
  const ptrdiff_t n = src->data->numRects;
  if (!ownsBlock(dst) || dst->data->size < n) {
    miRegionUninit(dst);
    dst->data = newBlock(n);
  }
  std::memcpy(miRegionBoxes(dst->data), miRegionBoxes(src->data), static_cast<size_t>(n) * sizeof(BoxRec));
  dst->data->numRects = n;
  dst->extents = src->extents;
  return true;
}

void miSetExtents(RegionRec* region) {
  if (!region->data) return;
  if (region->data->size == 0 || region->data->numRects == 0) {
    region->extents = kEmptyBox;
    return;
  }
  const BoxRec* boxes = miRegionBoxes(region->data);
  const ptrdiff_t n = region->data->numRects;
  BoxRec e = {boxes[0].x1, boxes[0].y1, boxes[0].x2, boxes[n - 1].y2};
  for (ptrdiff_t i = 1; i < n; ++i) {
    e.x1 = std::min(e.x1, boxes[i].x1);
    e.x2 = std::max(e.x2, boxes[i].x2);
  }
  region->extents = e;
}

bool miIntersect(RegionRec* result, const RegionRec* a, const RegionRec* b) {
  if (!miRegionNotEmpty(a) || !miRegionNotEmpty(b) || !overlaps(a->extents, b->extents)) {
    if (miRegionBroken(a) || miRegionBroken(b)) return miRegionBreak(result);
    makeEmpty(result);
    return true;
  }
  if (a == b) return miRegionCopy(result, a);
  if (!a->data && !b->data) {
    const BoxRec box = {std::max(a->extents.x1, b->extents.x1), std::max(a->extents.y1, b->extents.y1),
                        std::min(a->extents.x2, b->extents.x2), std::min(a->extents.y2, b->extents.y2)};
    setBox(result, box);
    return true;
  }
  if (!b->data && contains(b->extents, a->extents)) return miRegionCopy(result, a);
  if (!a->data && contains(a->extents, b->extents)) return miRegionCopy(result, b);
  if (!regionOp(result, a, b, intersectSpans, false, false)) return false;
  miSetExtents(result);
  return true;
}

bool miUnion(RegionRec* result, const RegionRec* a, const RegionRec* b) {
  if (a == b) return miRegionCopy(result, a) && !miRegionBroken(result);
  if (miRegionBroken(a) || miRegionBroken(b)) return miRegionBreak(result);
  if (!miRegionNotEmpty(a)) return miRegionCopy(result, b);
  if (!miRegionNotEmpty(b)) return miRegionCopy(result, a);
  if (!a->data && contains(a->extents, b->extents)) return miRegionCopy(result, a);
  if (!b->data && contains(b->extents, a->extents)) return miRegionCopy(result, b);
  const BoxRec extents = {std::min(a->extents.x1, b->extents.x1), std::min(a->extents.y1, b->extents.y1),
                          std::max(a->extents.x2, b->extents.x2), std::max(a->extents.y2, b->extents.y2)};
  if (!regionOp(result, a, b, unionSpans, true, true)) return false;
  result->extents = extents;
  return true;
}

bool miSubtract(RegionRec* result, const RegionRec* a, const RegionRec* b) {
  if (!miRegionNotEmpty(a) || !miRegionNotEmpty(b) || !overlaps(a->extents, b->extents)) {
    if (miRegionBroken(b)) return miRegionBreak(result);
    return miRegionCopy(result, a) && !miRegionBroken(result);
  }
  if (a == b) {
    makeEmpty(result);
    return true;
  }
  if (!regionOp(result, a, b, subtractSpans, true, false)) return false;
  miSetExtents(result);
  return true;
}

void miTranslateRegion(RegionRec* region, int dx, int dy) {
  if (!miRegionNotEmpty(region)) return;
  // 64 bits: a coordinate plus any int displacement.
  const auto clip = [](int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, kMin16, kMax16)); };
  const auto moved = [&](const BoxRec& box) {
    return BoxRec{static_cast<int16_t>(clip(int64_t{box.x1} + dx)), static_cast<int16_t>(clip(int64_t{box.y1} + dy)),
                  static_cast<int16_t>(clip(int64_t{box.x2} + dx)), static_cast<int16_t>(clip(int64_t{box.y2} + dy))};
  };
  if (!region->data) {
    setBox(region, moved(region->extents));
    return;
  }
  BoxRec* boxes = miRegionBoxes(region->data);
  const ptrdiff_t n = region->data->numRects;
  // Boxes squeezed to nothing at the border are dropped; bands that lost
  // the spans that told them apart are coalesced again.
  ptrdiff_t kept = 0;
  ptrdiff_t prevBand = 0;
  ptrdiff_t curBand = 0;
  for (ptrdiff_t i = 0; i < n; ++i) {
    const BoxRec box = moved(boxes[i]);
    if (box.x1 >= box.x2 || box.y1 >= box.y2) continue;
    if (kept > curBand && boxes[curBand].y1 != box.y1) {
      region->data->numRects = kept;
      prevBand = coalesce(region, prevBand, curBand);
      kept = region->data->numRects;
      curBand = kept;
    }
    boxes[kept++] = box;
  }
  region->data->numRects = kept;
  if (kept > curBand) coalesce(region, prevBand, curBand);
  if (region->data->numRects == 0) {
    makeEmpty(region);
    return;
  }
  miSetExtents(region);
}

int miRectIn(const RegionRec* region, const BoxRec& box) {
  if (box.x1 >= box.x2 || box.y1 >= box.y2 || !miRegionNotEmpty(region) || !overlaps(region->extents, box)) {
    return kRectOut;
  }
  // The boxes do not overlap, so the covered part of the box is the sum of
  // its overlaps with each of them.
  int64_t covered = 0;
  const BoxRec* p = miRegionRects(region);
  const BoxRec* end = p + miRegionNumRects(region);
  for (; p != end && p->y1 < box.y2; ++p) {
    const int64_t w = std::min(p->x2, box.x2) - std::max(p->x1, box.x1);
    const int64_t h = std::min(p->y2, box.y2) - std::max(p->y1, box.y1);
    if (w > 0 && h > 0) covered += w * h;
  }
  const int64_t area = int64_t{box.x2 - box.x1} * (box.y2 - box.y1);
  if (covered == 0) return kRectOut;
  return covered == area ? kRectIn : kRectPart;
}

bool miPointInRegion(const RegionRec* region, int x, int y, BoxRec* box) {
  const BoxRec* p = miRegionRects(region);
  const BoxRec* end = p + miRegionNumRects(region);
  for (; p != end && p->y1 <= y; ++p) {
    if (y < p->y2 && x >= p->x1 && x < p->x2) {
      if (box) *box = *p;
      return true;
    }
  }
  return false;
}

bool miRegionEqual(const RegionRec* a, const RegionRec* b) {
  const BoxRec& ea = a->extents;
  const BoxRec& eb = b->extents;
  if (ea.x1 != eb.x1 || ea.y1 != eb.y1 || ea.x2 != eb.x2 || ea.y2 != eb.y2) return false;
  const ptrdiff_t n = miRegionNumRects(a);
  if (n != miRegionNumRects(b)) return false;
  const BoxRec* pa = miRegionRects(a);
  const BoxRec* pb = miRegionRects(b);
  for (ptrdiff_t i = 0; i < n; ++i) {
    if (pa[i].x1 != pb[i].x1 || pa[i].y1 != pb[i].y1 || pa[i].x2 != pb[i].x2 || pa[i].y2 != pb[i].y2) return false;
  }
  return true;
}
