#pragma once

#include <vector>

// Draws picture number n into a 4:2:0 picture: a grey background, the number
// in large digits, and above them a row of 20 cells (most significant bit
// first, white 1, black 0) that gives the number to a program reading it back.
class PictureDrawer {
public:
    static const int kCodeBits = 20;

    PictureDrawer(int width, int height);

    // Planes of frameWidth x frameHeight (Y) and half that, rounded up (U, V); the picture
    // occupies the top-left width x height.
    void draw(long long number, std::vector<unsigned char>& y, std::vector<unsigned char>& u,
              std::vector<unsigned char>& v, int frameWidth, int frameHeight) const;

    int cellWidth() const { return width / kCodeBits; }
    int cellHeight() const { return height / 12 > 4 ? height / 12 : 4; }

private:
    int width;
    int height;
};
