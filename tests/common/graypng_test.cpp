#include "common/graypng.h"

#include <QImage>
#include <gtest/gtest.h>

#include <vector>

// A standard decoder must read back exactly the pixels written, for odd
// sizes and single rows/columns as well (row padding, filter bytes).
TEST(GrayPng, DecodesToTheSamePixels)
{
    const int sizes[][2] = {{1, 1}, {1, 7}, {9, 1}, {13, 5}, {640, 3}, {257, 300}};
    for (const auto &s : sizes) {
        const int w = s[0], h = s[1];
        std::vector<unsigned char> px(size_t(w) * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                px[size_t(y) * w + x] = (x * 7 + y * 13) % 3 == 0 ? 255 : (x ^ y) & 0xFF;
        const QByteArray png = encodeGrayPng(px.data(), w, h);
        QImage img;
        ASSERT_TRUE(img.loadFromData(png, "PNG")) << w << "x" << h;
        ASSERT_EQ(img.width(), w);
        ASSERT_EQ(img.height(), h);
        img = img.convertToFormat(QImage::Format_Grayscale8);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_EQ(img.constScanLine(y)[x], px[size_t(y) * w + x]) << w << "x" << h << " at " << x << "," << y;
    }
}

TEST(GrayPng, RefusesImpossibleSizes)
{
    const unsigned char px = 0;
    EXPECT_TRUE(encodeGrayPng(&px, 0, 1).isEmpty());
    EXPECT_TRUE(encodeGrayPng(&px, 1, -1).isEmpty());
    EXPECT_TRUE(encodeGrayPng(&px, 1 << 20, 1 << 20).isEmpty());
}
