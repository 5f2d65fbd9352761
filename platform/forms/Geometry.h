// Position and size in twips, shared by windows and controls: held as single-precision values
// that read back exactly as assigned, and shown by the toolkit at the nearest pixel.
#pragma once

namespace platform {

class Geometry
{
public:
    float Left() const { return left_; }
    float Top() const { return top_; }
    float Width() const { return width_; }
    float Height() const { return height_; }
    void SetLeft(float twips) { Place(twips, top_, width_, height_); }
    void SetTop(float twips) { Place(left_, twips, width_, height_); }
    void SetWidth(float twips) { Place(left_, top_, twips, height_); }
    void SetHeight(float twips) { Place(left_, top_, width_, twips); }

protected:
    Geometry() = default;
    ~Geometry() = default;
    // Holds the new values and shows them.
    void Place(float left, float top, float width, float height)
    {
        left_ = left;
        top_ = top;
        width_ = width;
        height_ = height;
        PushGeometry();
    }
    // Shows the held values on the toolkit's widget.
    virtual void PushGeometry() = 0;

    float left_ = 0, top_ = 0, width_ = 0, height_ = 0;
};

} // namespace platform
