#pragma once
// 1-bit raster plane: the layer masks and regions of the slicer.
//
// Layout: row-major, row stride (width + 7) / 8 bytes; pixel x of a row is bit
// (x mod 8) of byte x / 8, least significant bit first, so a little-endian
// 32-bit word holds 32 consecutive pixels with the leftmost in bit 0. Pixel
// data starts 16-byte aligned and its size (byteSize) is rounded up to a
// multiple of 16. The slicer's planes have widths and heights that are
// multiples of 32; word operations (offset1, inflate64) require it.
//
// A plane is a value: copies own their pixels. Operations that resize their
// destination leave the contents undefined unless stated otherwise.
// Failures throw a QString naming the operation.
#include <QByteArray>
#include <QSize>

class Plane8;

class Plane1 {
public:
    int byteSize = 0;   // bytes of pixel data, multiple of 16
    int width = 0;      // pixels per row
    int height = 0;     // rows
    QByteArray storage; // owns byteSize + 15 bytes
    uchar *data;        // storage rounded up to 16 bytes

    Plane1();
    Plane1(int width, int height); // contents not cleared
    Plane1(const Plane1 &o);
    Plane1(Plane1 &&o) noexcept;
    Plane1 &operator=(const Plane1 &o);
    Plane1 &operator=(Plane1 &&o) noexcept;

    // Reallocates when the size changes; contents undefined. Negative sizes count as 0.
    void setSize(QSize size);
    QSize size() const { return QSize(width, height); }
    int stride() const { return (width + 7) >> 3; }
    uchar *row(int y) { return data + y * stride(); }
    const uchar *row(int y) const { return data + y * stride(); }
    bool pixel(int x, int y) const { return (row(y)[x >> 3] >> (x & 7)) & 1; }
    void setPixel(int x, int y, bool on);
    // Sets every byte of the pixel data (0x00 clear, 0xFF all set).
    void fill(uchar value);
    bool operator==(const Plane1 &o) const; // same size and pixels
    // The box of the set pixels: rows y0 .. y1, columns x0 .. x1. False
    // (arguments untouched) when no pixel is set.
    bool bounds(int &y0, int &y1, int &x0, int &x1) const;
    bool operator!=(const Plane1 &o) const { return !(*this == o); }

    // Resizes to src's size; bit := src >= threshold (invert: src < threshold).
    // Profiling stage "Plane1.fromPlane8".
    void fromPlane8(const Plane8 &src, int threshold, bool invert);
    // The same given src's block summary (Plane8::blockSummary; a 0 or 255
    // block may also hold other values on the same side of the threshold):
    // uniform blocks are filled without reading their pixels. A summary of
    // another size is ignored.
    void fromPlane8(const Plane8 &src, int threshold, bool invert, const Plane8 *summary);

    // a is the destination; for op 1 and 4 it is first resized to b's size.
    //   1 a = b   2 a &= b   3 a ^= b   4 a = b & c   5 a = c & ~(a & b)
    //   6 a |= b  7 a |= ~b  other: a unchanged
    // Throws "Plane1::bitwiseOp() incompatible input planes" (a or b null,
    // a and b of different size, c of a size other than a's) and
    // "Plane1::bitwiseOp() c operand is needed" (op 4 or 5 without c).
    // Profiling stage "Bitwise" unless noProfile.
    static void bitwiseOp(int op, Plane1 *a, const Plane1 *b, const Plane1 *c = nullptr,
                          bool noProfile = false);

    // One-pixel morphology of this plane into dst (dst may be this plane):
    //   'a' shrink 4-neighbourhood, 'A' shrink 8-neighbourhood,
    //   'o' grow 4-neighbourhood,   'O' grow 8-neighbourhood.
    // The first and last rows are copied unchanged; pixels beyond the left and
    // right edges count as clear. Throws "Plane1::offset1 width must be aigned
    // to 32" and "Plane1::offset1() invalid operation".
    void offset1(Plane1 &dst, char op) const;
    // n one-pixel steps alternating opFirst, opSecond, ...; n <= 0 gives a copy.
    Plane1 offsetN(int n, char opFirst, char opSecond) const;
    // n > 0 grows by n pixels ('O','o'), n < 0 shrinks by -n pixels ('A','a').
    Plane1 offsetBy(int n) const;
    // offsetN(n, 'O', 'o') for n > 0 computed from the rows' runs of set
    // pixels in one pass, at a cost that follows the outline rather than n
    // times the area. Falls back to the step-by-step growth where that would
    // reach the first or last row (which the steps leave unchanged).
    Plane1 grownByRuns(int n) const;

    // Grows the plane by 32 pixels on every side, the border filled with the
    // byte `fill`. Throws "Plane1::inflate64() size must be aligned to 32".
    void inflate64(uchar fill);

    // One byte per 16 x 16 block ((width / 16) x (height / 16), partial blocks
    // ignored): 0 all clear, 255 all set, 128 mixed.
    Plane8 blockSummary() const;

private:
    void allocate(int w, int h);
};
