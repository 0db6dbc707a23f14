// Bounds no real shelf reaches, so that no parameter can make a build hang
// or exhaust the host.
#pragma once

namespace varlobooks {

inline constexpr int kMaxBooksPerBuild = 100000;
inline constexpr int kMaxSpineSegments = 1024;
// Many books of many segments could still make hundreds of millions of
// points: a build ends before the book that would pass this many.
inline constexpr long kMaxPointsPerBuild = 4000000;

}  // namespace varlobooks
