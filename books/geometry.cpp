#include "books/geometry.h"

#include <cassert>
#include <cmath>

#include "books/portable_trig.h"

namespace varlobooks {

void setMatrix3(Matrix3 &m, double m0, double m1, double m2, double m3, double m4, double m5,
                double m6, double m7, double m8) {
    m = {m0, m1, m2, m3, m4, m5, m6, m7, m8};
}

void setVectorLength(Vector3 &v, float length) {
    const float size = static_cast<float>(std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]));
    if (size == 0.0f) return;
    const float factor = length / size;
    for (double &c : v)
        c *= static_cast<double>(factor);
}

Matrix3 rotationAboutAxis(float degrees, int axis) {
    assert(axis >= 0 && axis <= 2);
    const double phi = static_cast<double>(degrees) * kRadiansPerDegree;
    // A row vector times the matrix of -phi turns by +phi.
    const double cs = portableCos(-phi);
    const double sn = portableSin(-phi);
    Matrix3 m;
    switch (axis) {
        case 0:
            setMatrix3(m, 1, 0, 0, 0, cs, -sn, 0, sn, cs);
            break;
        case 1:
            setMatrix3(m, cs, 0, sn, 0, 1, 0, -sn, 0, cs);
            break;
        default:
            setMatrix3(m, cs, -sn, 0, sn, cs, 0, 0, 0, 1);
            break;
    }
    return m;
}

void rotateAboutAxis(Vector3 &v, float degrees, int axis) {
    vectorTimesMatrix3(v, rotationAboutAxis(degrees, axis), v);
}

}  // namespace varlobooks
