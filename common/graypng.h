#pragma once
// A minimal PNG encoder for 8-bit grey images. The command-line tool writes
// its layer masks with it, so it needs no image library (and starts faster).
#include <QByteArray>

// `pixels` holds `height` rows of `width` bytes each, top row first.
// Returns an empty array when the sizes are not positive or too large.
QByteArray encodeGrayPng(const unsigned char *pixels, int width, int height);
