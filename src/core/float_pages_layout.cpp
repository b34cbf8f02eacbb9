#include "core/float_pages_layout.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace vk {

PixelRect GripStrip(GripEdge edge, int width, int height) {
  switch (edge) {
    case GripEdge::Left: return {0, 0, kGripWidth, height};
    case GripEdge::Right: return {width - kGripWidth, 0, width, height};
    case GripEdge::Top: return {0, 0, width, kGripWidth};
    case GripEdge::Bottom: return {0, height - kGripWidth, width, height};
  }
  return {};
}

bool OnGripHandle(GripEdge edge, int width, int height, int x, int y) {
  if (!GripStrip(edge, width, height).Contains(x, y)) return false;
  switch (edge) {
    case GripEdge::Left: return y <= kGripHandleReach;
    case GripEdge::Right: return y >= height - kGripHandleReach;
    case GripEdge::Top: return x >= width - kGripHandleReach;
    case GripEdge::Bottom: return x <= kGripHandleReach;
  }
  return false;
}

PixelRect AreaBesideGrip(GripEdge edge, int width, int height) {
  switch (edge) {
    case GripEdge::Left: return {kGripWidth, 0, width, height};
    case GripEdge::Right: return {0, 0, width - kGripWidth, height};
    case GripEdge::Top: return {0, kGripWidth, width, height};
    case GripEdge::Bottom: return {0, 0, width, height - kGripWidth};
  }
  return {0, 0, width, height};
}

std::vector<int> DockedPageOrder(const std::vector<int>& keys) {
  std::vector<int> order(keys.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return keys[a] < keys[b]; });
  return order;
}

int AdjacentPageIndex(int count, int current, bool forward,
                      const std::function<bool(int)>& accepts) {
  if (count <= 0) return -1;
  int start = current;
  if (start < 0 || start >= count) start = forward ? count - 1 : 0;
  int i = start;
  for (int step = 0; step < count; ++step) {
    i = forward ? (i + 1) % count : (i + count - 1) % count;
    if (accepts(i)) return i;
  }
  return -1;
}

SourcePixel RotatedSource(int x, int y, int width, int height, int degrees) {
  const double phi = degrees * 3.14159265358979323846 / 180.0;
  const int cx = width / 2, cy = height / 2;
  // Twice the offset from the centre keeps pixel centres on whole numbers.
  const double u = 2.0 * x - 2.0 * cx + 1, v = 2.0 * y - 2.0 * cy + 1;
  const long s = std::lrint(u * std::cos(phi) - v * std::sin(phi));  // halves to even
  const long t = std::lrint(u * std::sin(phi) + v * std::cos(phi));
  return {static_cast<int>((s - 1) / 2) + cx, static_cast<int>((t - 1) / 2) + cy};
}

}  // namespace vk
