// Pdf417Layout: the symbol's shape once the data codewords are in place:
// error correction level, rows and columns, padding, Reed-Solomon codewords,
// and the painted bit image, one bit per module and one bit row per row.
#pragma once

class Pdf417Encoder;

class Pdf417Layout {
public:
    // Completes the encoder's symbol; false when the bit image cannot be had.
    static bool Build(Pdf417Encoder &encoder);

    // The largest level L (1 to 8) with 2^(L+1) <= spare, or 0 below 4.
    static int MaxLevel(int spare);

private:
    static void ChooseLayout(Pdf417Encoder &encoder);
    static void AddErrorCorrection(Pdf417Encoder &encoder, int k);
    static bool Paint(Pdf417Encoder &encoder);
};
