#pragma once

#include <QImage>
#include <QString>

#include <cstdint>
#include <unordered_map>

class QPainter;

namespace ketrion {

// Draws the program's bitmap resources (":/bitmaps/<number>.<ext>") stretched
// into a rectangle. One instance serves both views. Decoded images are kept, so
// a repaint does not decode the same resource again; the cache changes nothing
// that a caller can see. UI thread only.
class CDraw {
public:
    CDraw() = default;
    virtual ~CDraw();
    CDraw(const CDraw&) = delete;
    CDraw& operator=(const CDraw&) = delete;

    // Stretches the whole bitmap `id` into (left, top, width, height) of `dc`
    // as a plain copy, pixel for pixel without smoothing. A bitmap that cannot
    // be loaded, or an empty rectangle, draws nothing and is not reported.
    void DrawBitmap(QPainter& dc, std::uint16_t id, int left, int top, int width, int height);

    // The bitmap resource `id`, or a null image when there is none.
    QImage LoadBitmap(std::uint16_t id);
    // Makes number `id` draw `image` instead of the resource (a null image:
    // as if the program carried no such bitmap). For tests and tools.
    void SetBitmap(std::uint16_t id, QImage image) { m_cache[id] = std::move(image); }

    // Resource path of bitmap `id` (":/bitmaps/132.bmp"), or empty when the
    // program carries no bitmap of that number.
    static QString ResourcePath(std::uint16_t id);

private:
    std::unordered_map<std::uint16_t, QImage> m_cache;
};

}  // namespace ketrion
