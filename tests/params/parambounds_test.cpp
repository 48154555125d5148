#include "params/parambounds.h"
#include "params/slicerparams.h"

#include <gtest/gtest.h>

#include <limits>
#include <type_traits>

// Every numeric key has bounds, its default lies inside them, and booleans
// and texts have none: a key added later without bounds fails here.
TEST(ParamBounds, EveryNumericKeyIsBoundedAroundItsDefault)
{
    int numeric = 0;
    SlicerParams().forEachField([&](const char *key, const auto &v) {
        using T = std::remove_cv_t<std::remove_reference_t<decltype(v)>>;
        ParamBounds b;
        const bool has = paramBounds(key, b);
        if constexpr (std::is_same_v<T, float> || std::is_same_v<T, int>) {
            ++numeric;
            ASSERT_TRUE(has) << key;
            EXPECT_LT(b.min, b.max) << key;
            EXPECT_EQ(b.isInteger, (std::is_same_v<T, int>)) << key;
            EXPECT_TRUE(paramValueProblem(key, double(v)).isEmpty()) << key;
        } else {
            EXPECT_FALSE(has) << key;
        }
    });
    EXPECT_EQ(boundedParamKeys().size(), numeric);
    ParamBounds b;
    EXPECT_FALSE(paramBounds("NoSuchKey", b));
    EXPECT_TRUE(paramValueProblem("NoSuchKey", 1e30).isEmpty());
}

// The ends of every range are accepted (compared as the fields' floats:
// 0.01 in a float field lies a hair below 0.01), a step beyond is refused.
TEST(ParamBounds, EndsAcceptedStepBeyondRefused)
{
    for (const QString &key : boundedParamKeys()) {
        ParamBounds b;
        ASSERT_TRUE(paramBounds(key, b));
        const double step = b.isInteger ? 1 : (b.max - b.min) * 1e-3;
        EXPECT_TRUE(paramValueProblem(key, b.min).isEmpty()) << key.toStdString();
        EXPECT_TRUE(paramValueProblem(key, double(float(b.min))).isEmpty()) << key.toStdString();
        EXPECT_TRUE(paramValueProblem(key, b.max).isEmpty()) << key.toStdString();
        EXPECT_FALSE(paramValueProblem(key, b.min - step).isEmpty()) << key.toStdString();
        EXPECT_FALSE(paramValueProblem(key, b.max + step).isEmpty()) << key.toStdString();
        EXPECT_FALSE(paramValueProblem(key, std::numeric_limits<double>::quiet_NaN()).isEmpty());
        EXPECT_FALSE(paramValueProblem(key, 1e300).isEmpty());
        if (b.isInteger) {
            EXPECT_FALSE(paramValueProblem(key, b.min + 0.5).isEmpty()) << key.toStdString();
        }
    }
    EXPECT_EQ(paramValueProblem("LayerHeight", 9), "must be from 0.01 to 5 mm (is 9)");
}
