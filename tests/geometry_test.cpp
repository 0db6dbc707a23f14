// The vector helpers, with their rounding steps.
#include <gtest/gtest.h>

#include "books/geometry.h"
#include "books/random.h"

using varlobooks::rotateAboutAxis;
using varlobooks::setVectorLength;
using varlobooks::Vector3;

TEST(Geometry, SetVectorLengthUsesASinglePrecisionFactor) {
    Vector3 v{0, 3, 4};
    setVectorLength(v, 2.0f);
    EXPECT_EQ(v[0], 0.0);
    EXPECT_EQ(v[1], 1.2000000178813934);
    EXPECT_EQ(v[2], 1.600000023841858);
    Vector3 zero{0, 0, 0};
    setVectorLength(zero, 5.0f);
    EXPECT_EQ(zero, (Vector3{0, 0, 0}));
}

TEST(Geometry, RotateAboutEachAxisIsRightHanded) {
    const Vector3 start{1, 2, 3};
    const Vector3 expected[3] = {
        {1, 0.2320508, 3.5980762}, {2.3660254, 2, 2.0980762}, {-0.1339746, 2.2320508, 3}};
    for (int axis = 0; axis < 3; ++axis) {
        Vector3 v = start;
        rotateAboutAxis(v, 30.0f, axis);
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(v[i], expected[axis][i], 1e-7) << axis << " " << i;
        EXPECT_EQ(v[axis], start[axis]) << "the coordinate along the axis stays";
    }
    Vector3 x{1, 0, 0};
    rotateAboutAxis(x, 90.0f, 2);
    EXPECT_NEAR(x[0], 0, 1e-15);
    EXPECT_NEAR(x[1], 1, 1e-15);
    Vector3 same{0.1, -7.25, 3e10};
    rotateAboutAxis(same, 0.0f, 1);
    EXPECT_EQ(same, (Vector3{0.1, -7.25, 3e10}));
}

TEST(Geometry, GeneratorGivesTheKnownSequence) {
    varlobooks::BookRandom random;
    random.seed(0);
    const int expected[] = {38, 7719, 21238, 2437, 8855, 11797, 8365};
    for (int draw : expected)
        EXPECT_EQ(random.draw(), draw);
}
