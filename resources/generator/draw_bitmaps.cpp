// Draws the program's pictures with Qt and writes each as a binary PPM (P6)
// into the folder given on the command line. make_resources.py builds and runs
// this program, then turns the PPMs into BMP files of the right colour depth.
//
//   draw_bitmaps OUT_DIR
//
// Fonts are named explicitly (Liberation Sans, from fonts-liberation) so the
// pictures come out the same on every machine that has the Debian fonts.

#include <QColor>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <functional>

namespace {

// The 16-colour palette the toolbar pictures are drawn with; the converter maps
// each pixel to the exact entry, so only these colours may be used there.
const QColor kBlack(0, 0, 0);
const QColor kMaroon(128, 0, 0);
const QColor kGreen(0, 128, 0);
const QColor kOlive(128, 128, 0);
const QColor kNavy(0, 0, 128);
const QColor kGrey(128, 128, 128);
const QColor kSilver(192, 192, 192);  // button face: the toolbar's background
const QColor kRed(255, 0, 0);
const QColor kYellow(255, 255, 0);
const QColor kBlue(0, 0, 255);
const QColor kAqua(0, 255, 255);
const QColor kWhite(255, 255, 255);

bool WritePpm(const QImage& source, const QString& path) {
    const QImage image = source.convertToFormat(QImage::Format_RGB888);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "draw_bitmaps: cannot write %s\n", qPrintable(path));
        return false;
    }
    const QByteArray header =
        QStringLiteral("P6\n%1 %2\n255\n").arg(image.width()).arg(image.height()).toLatin1();
    file.write(header);
    for (int y = 0; y < image.height(); ++y) {
        file.write(reinterpret_cast<const char*>(image.constScanLine(y)), image.width() * 3);
    }
    return true;
}

// One toolbar button, drawn on a 16 x 16 logical grid that is scaled to the
// button size, so both strips show the same pictures.
using ButtonPainter = std::function<void(QPainter&)>;

void Magnifier(QPainter& p) {
    p.setPen(QPen(kBlack, 1.4));
    p.setBrush(kWhite);
    p.drawEllipse(QRectF(1.5, 1.5, 9, 9));
    p.setPen(QPen(kMaroon, 2.6, Qt::SolidLine, Qt::SquareCap));
    p.drawLine(QPointF(10, 10), QPointF(14, 14));
}

const ButtonPainter kButtons[9] = {
    // Load projection: an open folder holding a plan.
    [](QPainter& p) {
        p.setPen(QPen(kBlack, 1));
        p.setBrush(kOlive);
        p.drawRect(QRectF(1, 3, 13, 11));
        p.setBrush(kWhite);
        p.drawRect(QRectF(3, 1, 10, 9));
        p.setPen(QPen(kBlue, 1));
        p.drawLine(QPointF(5, 3.5), QPointF(11, 3.5));
        p.drawLine(QPointF(5, 6.5), QPointF(11, 6.5));
        p.drawLine(QPointF(8, 3), QPointF(8, 9));
        p.setPen(QPen(kBlack, 1));
        p.setBrush(kYellow);
        p.drawPolygon(QPolygonF({{0.5, 7}, {12, 7}, {15, 14.5}, {2.5, 14.5}}));
    },
    // Collection file: a sheet with a folded corner and lines of data.
    [](QPainter& p) {
        p.setPen(QPen(kBlack, 1));
        p.setBrush(kWhite);
        p.drawPolygon(QPolygonF({{2.5, 0.5}, {10, 0.5}, {13.5, 4}, {13.5, 15}, {2.5, 15}}));
        p.drawLine(QPointF(10, 0.5), QPointF(10, 4));
        p.drawLine(QPointF(10, 4), QPointF(13.5, 4));
        p.setPen(QPen(kNavy, 1));
        for (int i = 0; i < 4; ++i) {
            p.drawLine(QPointF(4.5, 6.5 + 2 * i), QPointF(11.5, 6.5 + 2 * i));
        }
    },
    // Record: the red circle.
    [](QPainter& p) {
        p.setPen(QPen(kMaroon, 1));
        p.setBrush(kRed);
        p.drawEllipse(QRectF(2, 2, 12, 12));
    },
    // Stop: the black square.
    [](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(kBlack);
        p.drawRect(QRectF(3, 3, 10, 10));
    },
    // Zoom in: magnifier with a plus.
    [](QPainter& p) {
        Magnifier(p);
        p.setPen(QPen(kBlack, 1.4));
        p.drawLine(QPointF(3.5, 6), QPointF(8.5, 6));
        p.drawLine(QPointF(6, 3.5), QPointF(6, 8.5));
    },
    // Zoom out: magnifier with a minus.
    [](QPainter& p) {
        Magnifier(p);
        p.setPen(QPen(kBlack, 1.4));
        p.drawLine(QPointF(3.5, 6), QPointF(8.5, 6));
    },
    // Snapshot: a camera.
    [](QPainter& p) {
        p.setPen(QPen(kBlack, 1));
        p.setBrush(kGrey);
        p.drawRect(QRectF(5, 2.5, 5, 2.5));
        p.setBrush(kBlack);
        p.drawRect(QRectF(1, 4.5, 14, 9.5));
        p.setBrush(kAqua);
        p.drawEllipse(QRectF(5, 6, 6, 6));
        p.setPen(Qt::NoPen);
        p.setBrush(kYellow);
        p.drawRect(QRectF(12, 6, 2, 1.5));
    },
    // Place access point: an antenna with radio waves.
    [](QPainter& p) {
        p.setPen(QPen(kBlack, 1.4));
        p.drawLine(QPointF(8, 6), QPointF(8, 14));
        p.setBrush(kGreen);
        p.drawRect(QRectF(4, 12.5, 8, 2.5));
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(kGreen, 1.2));
        p.drawArc(QRectF(4.5, 2.5, 7, 7), 30 * 16, 120 * 16);
        p.drawArc(QRectF(1.5, 0, 13, 12), 35 * 16, 110 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(kRed);
        p.drawEllipse(QRectF(6.5, 4.5, 3, 3));
    },
    // About: a question mark in a blue disc.
    [](QPainter& p) {
        p.setPen(QPen(kNavy, 1));
        p.setBrush(kBlue);
        p.drawEllipse(QRectF(1, 1, 14, 14));
        QFont font(QStringLiteral("Liberation Sans"));
        font.setPixelSize(12);
        font.setBold(true);
        font.setStyleStrategy(QFont::NoAntialias);
        p.setFont(font);
        p.setPen(kWhite);
        p.drawText(QRectF(1, 1, 14, 14), Qt::AlignCenter, QStringLiteral("?"));
    },
};

QImage Toolbar(int button) {
    QImage image(9 * button, button, QImage::Format_RGB32);
    image.fill(kSilver);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setRenderHint(QPainter::TextAntialiasing, false);
    for (int i = 0; i < 9; ++i) {
        p.save();
        p.translate(i * button, 0);
        p.scale(button / 16.0, button / 16.0);
        kButtons[i](p);
        p.restore();
    }
    return image;
}

QFont Sans(int pixels, bool bold) {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

// The splash picture (240 x 265). The start view writes the firmware and
// serial-number lines across the middle of the picture (from half its height
// to about three quarters), so rows 124 to 207 are left plain white.
QImage Splash() {
    QImage image(240, 265, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    QLinearGradient sky(0, 0, 0, 124);
    sky.setColorAt(0, QColor(8, 32, 96));
    sky.setColorAt(1, QColor(40, 110, 190));
    p.fillRect(0, 0, 240, 124, sky);
    p.fillRect(0, 124, 240, 84, kWhite);
    p.fillRect(0, 208, 240, 57, QColor(8, 32, 96));

    // Radio waves from a mast at the left of the title.
    p.setPen(QPen(QColor(255, 200, 40), 2));
    p.drawLine(QPointF(30, 95), QPointF(30, 62));
    p.setBrush(QColor(255, 200, 40));
    p.drawEllipse(QPointF(30, 60), 4, 4);
    p.setBrush(Qt::NoBrush);
    for (int r = 10; r <= 34; r += 8) {
        p.drawArc(QRectF(30 - r, 60 - r, 2 * r, 2 * r), -50 * 16, 100 * 16);
    }

    p.setPen(kWhite);
    p.setFont(Sans(40, true));
    p.drawText(QRect(68, 28, 172, 60), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Ketrion"));
    p.setFont(Sans(12, false));
    p.drawText(QRect(68, 86, 172, 20), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Wireless Site Survey"));

    p.setPen(QColor(200, 215, 240));
    p.setFont(Sans(11, false));
    p.drawText(QRect(0, 216, 240, 18), Qt::AlignCenter, QStringLiteral("Version 1.03"));
    p.drawText(QRect(0, 236, 240, 18), Qt::AlignCenter, QStringLiteral("Tap the screen to begin"));
    return image;
}

// The position marker (32 x 32): white leaves the plan visible under the AND
// copy, black marks it. A ring with a cross-hair whose arms stop short of the
// centre, so the exact position stays visible.
QImage Marker() {
    QImage image(32, 32, QImage::Format_RGB32);
    image.fill(kWhite);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(kBlack, 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRect(6, 6, 20, 20));
    p.fillRect(15, 0, 2, 13, kBlack);
    p.fillRect(15, 19, 2, 13, kBlack);
    p.fillRect(0, 15, 13, 2, kBlack);
    p.fillRect(19, 15, 13, 2, kBlack);
    return image;
}

// The instruction screen (240 x 265), shown until a collection file is chosen.
QImage Instructions() {
    QImage image(240, 265, QImage::Format_RGB32);
    image.fill(kBlack);
    QPainter p(&image);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    p.setPen(kWhite);
    p.setFont(Sans(14, true));
    p.drawText(QRect(0, 4, 240, 20), Qt::AlignCenter, QStringLiteral("How to Survey"));

    const QStringList steps = {
        QStringLiteral("If needed, open a projection file with the first button."),
        QStringLiteral("Open a collection file with the second button."),
        QStringLiteral("Wait for a GPS fix, shown by the green bar."),
        QStringLiteral("Press record (the red circle) to start scanning."),
        QStringLiteral("Walk or drive the whole area."),
        QStringLiteral("Press stop (the black square) to stop scanning."),
        QStringLiteral("Move the collection file to a PC for analysis."),
    };
    const QFont font = Sans(12, false);
    p.setFont(font);
    const QFontMetrics metrics(font);
    int top = 32;
    for (int i = 0; i < steps.size(); ++i) {
        const QRect textBox(24, top, 210, 200);
        const QRect used = metrics.boundingRect(textBox, Qt::TextWordWrap, steps[i]);
        p.drawText(QRect(4, top, 18, metrics.height()), Qt::AlignRight | Qt::AlignTop,
                   QString::number(i + 1) + QLatin1Char('.'));
        p.drawText(textBox, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, steps[i]);
        top += used.height() + 5;
    }
    return image;
}

QImage Blank() {
    QImage image(240, 265, QImage::Format_RGB32);
    image.fill(kBlack);
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: draw_bitmaps OUT_DIR\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const struct {
        const char* name;
        QImage image;
    } pictures[] = {
        {"128", Toolbar(16)},    {"129", Toolbar(30)},    {"132", Splash()},
        {"128@2x", Toolbar(32)}, {"129@2x", Toolbar(60)}, {"134", Marker()},
        {"149", Instructions()}, {"154", Blank()},
    };
    for (const auto& picture : pictures) {
        if (!WritePpm(picture.image, dir + QLatin1Char('/') + QLatin1String(picture.name) +
                                         QStringLiteral(".ppm"))) {
            return 1;
        }
    }
    return 0;
}
