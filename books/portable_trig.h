// Sine and cosine that give the same bits on every system and compiler.
// The C libraries disagree in the last bit for a few percent of angles
// (glibc, mingw-w64 and the WebAssembly C library each round their own
// way), which would make the same shelf differ between systems. These are
// the classic fdlibm algorithms, as FreeBSD and musl keep them, written
// with the basic operations alone, which IEEE 754 rounds the same
// everywhere. Error below one unit in the last place.
#pragma once

namespace varlobooks {

double portableSin(double x);
double portableCos(double x);

}  // namespace varlobooks
