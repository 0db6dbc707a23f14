// Bounds no real shelf reaches, so that no parameter can make a build hang
// or exhaust the host, and the capacities of the texts a book is named by.
#pragma once

namespace varlobooks {

inline constexpr int kMaxBooksPerBuild = 100000;
inline constexpr int kMaxSpineSegments = 1024;
// Many books of many segments could still make hundreds of millions of
// points: a build ends before the book that would pass this many.
inline constexpr long kMaxPointsPerBuild = 4000000;

// A cover surface name is the prefix and the book's number.
inline constexpr int kSurfacePrefixCapacity = 128;  // 127 characters and the NUL
inline constexpr int kCoverNameCapacity = kSurfacePrefixCapacity + 16;

}  // namespace varlobooks
