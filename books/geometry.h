// Vector arithmetic of the book builder. Every rounding step is part of the
// result: the same inputs must give the same bits on every build.
#pragma once

#include <array>

namespace varlobooks {

using Vector3 = std::array<double, 3>;
// Nine values in row order: m[3 * row + column].
using Matrix3 = std::array<double, 9>;

// The conversion factors, written out so that every build rounds alike.
inline constexpr double kDegreesPerRadian = 57.29577951308232;
inline constexpr double kRadiansPerDegree = 0.017453292519943295;

void setMatrix3(Matrix3 &m, double m0, double m1, double m2, double m3, double m4, double m5,
                double m6, double m7, double m8);

// out[i] = v.x*m[0][i] + v.y*m[1][i] + v.z*m[2][i], summed left to right: v is
// a row vector. out may be v. Inline: it runs for every point of every book.
inline void vectorTimesMatrix3(const Vector3 &v, const Matrix3 &m, Vector3 &out) {
    Vector3 result;
    for (int i = 0; i < 3; ++i)
        result[i] = v[0] * m[i] + v[1] * m[3 + i] + v[2] * m[6 + i];
    out = result;
}

// Rescales v to length (single precision, as the factor is). A zero vector
// stays zero whatever the length.
void setVectorLength(Vector3 &v, float length);

// The matrix that turns a row vector right-handedly by degrees about world
// axis 0 X, 1 Y or 2 Z through the origin. Only those three axes are defined.
Matrix3 rotationAboutAxis(float degrees, int axis);

// Turns v by rotationAboutAxis(degrees, axis): the same bits as making the
// matrix once and applying it to many vectors.
void rotateAboutAxis(Vector3 &v, float degrees, int axis);

}  // namespace varlobooks
