// Bounds no real shelf reaches, so that no parameter can make a build hang
// or exhaust the host.
#pragma once

namespace varlobooks {

inline constexpr int kMaxBooksPerBuild = 100000;
inline constexpr int kMaxSpineSegments = 1024;

}  // namespace varlobooks
