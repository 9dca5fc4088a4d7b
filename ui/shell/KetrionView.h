#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

namespace ketrion {

namespace source {
class ScanSource;
}
class CDraw;

// The start view: the splash picture (bitmap 132) with the board's firmware
// version and serial number on white bands, as the engine knows them at each
// paint. A tap beeps and asks the frame for the site view (signal `tapped`).
class CKetrionView : public QWidget {
    Q_OBJECT
public:
    // Bitmap resource of the splash picture (240 x 265).
    static constexpr int kSplashBitmap = 132;
    // Rows at the bottom of the view that the picture leaves free.
    static constexpr int kBottomStrip = 20;
    // Point size of the two text lines.
    static constexpr int kFontPoints = 12;
    // The handheld's view width: there the picture is stretched into the view
    // exactly as it always was. Other sizes keep the picture in shape.
    static constexpr int kHandheldWidth = 240;
    static constexpr int kSplashWidth = 240;
    static constexpr int kSplashHeight = 265;
    // Picture rows of the two text lines where the picture keeps its shape
    // (where the handheld's 268-high view puts them, in picture rows).
    static constexpr int kFirmwarePictureRow = 143;
    static constexpr int kSerialPictureRow = 171;
    // Where the picture goes in a view of `size`.
    static QRect PictureRect(QSize size);

    CKetrionView(source::ScanSource& scan, CDraw& draw, QWidget* parent = nullptr);

    // The picture for a client area of `size` (logical pixels), composed as a
    // paint puts it on screen. `devicePixelRatio` > 1 renders a sharper buffer
    // for high-density screens with the same layout.
    QImage Render(QSize size, qreal devicePixelRatio = 1.0);
    void OnDraw(QPainter& dc, QSize size);
    void OnDrawHandheld(QPainter& dc, QSize size);
    // A text centred in `band` on a white band as wide as its characters.
    static void DrawTextLine(QPainter& dc, const QString& text, const QRect& band);

    // The two lines as drawn: "(Firmware 1.23)" and "(SN ABCD1234)".
    QString FirmwareLine() const;
    QString SerialLine() const;
    // Top rows of the two bands for a client height `h`.
    static int FirmwareBandTop(int h) { return h / 2; }
    static int SerialBandTop(int h) { return h / 10 + h / 2; }

signals:
    void tapped();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    source::ScanSource& m_scan;
    CDraw& m_draw;
};

}  // namespace ketrion
