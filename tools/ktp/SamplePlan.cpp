// Draws the sample site's plan: one office floor, 960 x 720 pixels, with the
// corridors along which the simulator's walking track runs. Deterministic, so
// a rerun gives the same picture.
//
//   ktp_sample_plan OUT.png
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <cstdio>
#include <string_view>

namespace {

constexpr int kWidth = 960;
constexpr int kHeight = 720;
// About 0.142 m per pixel across and 0.154 m down at this site's latitude.
constexpr double kPixelsPerMetre = 7.0;

const QColor kWall(51, 51, 51);
const QColor kCorridor(244, 239, 228);
const QColor kRoom(255, 255, 255);
const QColor kService(226, 226, 226);
const QColor kFurniture(150, 150, 150);
const QColor kText(30, 30, 30);

struct Room {
    QRect rect;
    const char* name;
    const char* number;
    enum Kind { Office, Meeting, Service, Open } kind;
    // Door on the side facing a corridor: 't'op, 'b'ottom, 'l'eft or 'r'ight.
    char door;
};

void DrawDesks(QPainter& p, const QRect& r) {
    p.setPen(QPen(kFurniture, 1));
    p.setBrush(Qt::NoBrush);
    for (int y = r.top() + 22; y + 28 < r.bottom() - 8; y += 44) {
        for (int x = r.left() + 16; x + 36 < r.right() - 8; x += 52) {
            p.drawRect(x, y, 36, 18);
            p.drawEllipse(QPointF(x + 18, y + 25), 5, 5);
        }
    }
}

void DrawTable(QPainter& p, const QRect& r) {
    const QRect table = r.adjusted(r.width() / 4, r.height() / 3, -r.width() / 4, -r.height() / 3);
    if (table.width() < 20 || table.height() < 10) {
        return;
    }
    p.setPen(QPen(kFurniture, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(table, 6, 6);
    for (int x = table.left() + 10; x < table.right() - 4; x += 18) {
        p.drawEllipse(QPointF(x, table.top() - 7), 4, 4);
        p.drawEllipse(QPointF(x, table.bottom() + 7), 4, 4);
    }
}

void DrawRoom(QPainter& p, const Room& room) {
    const QRect& r = room.rect;
    p.setPen(Qt::NoPen);
    p.setBrush(room.kind == Room::Service ? kService : kRoom);
    p.drawRect(r);
    if (room.kind == Room::Open) {
        DrawDesks(p, r);
    } else if (room.kind == Room::Meeting && r.height() >= 60) {
        DrawTable(p, r);
    }
    p.setPen(QPen(kWall, 3));
    p.setBrush(Qt::NoBrush);
    p.drawRect(r);

    // Door: a gap in the wall with its swing.
    constexpr int kDoor = 22;
    p.setPen(QPen(kRoom, 4));
    QPoint a;
    QPoint b;
    const int cx = r.left() + 14;
    const int cy = r.top() + 14;
    switch (room.door) {
        case 't':
            a = {cx, r.top()}, b = {cx + kDoor, r.top()};
            break;
        case 'b':
            a = {cx, r.bottom()}, b = {cx + kDoor, r.bottom()};
            break;
        case 'l':
            a = {r.left(), cy}, b = {r.left(), cy + kDoor};
            break;
        default:
            a = {r.right(), cy}, b = {r.right(), cy + kDoor};
            break;
    }
    p.drawLine(a, b);
    p.setPen(QPen(kFurniture, 1));
    const QRect swing(a.x() - kDoor, a.y() - kDoor, 2 * kDoor, 2 * kDoor);
    const int start = room.door == 't' ? 270 : room.door == 'b' ? 0 : room.door == 'l' ? 0 : 180;
    p.drawArc(swing, start * 16, 90 * 16);

    p.setPen(kText);
    QFont name("Liberation Sans");
    name.setPixelSize(r.height() < 60 ? 10 : 12);
    name.setBold(true);
    p.setFont(name);
    const QRect label = r.adjusted(4, 4, -4, -4);
    const int align =
        room.kind == Room::Open ? (Qt::AlignHCenter | Qt::AlignBottom) : Qt::AlignCenter;
    p.drawText(label, align | Qt::TextWordWrap, room.name);
    QFont number("Liberation Sans");
    number.setPixelSize(9);
    p.setFont(number);
    p.drawText(r.adjusted(0, 0, -5, -3), Qt::AlignRight | Qt::AlignBottom, room.number);
}

void DrawStairs(QPainter& p, const QRect& r) {
    p.setPen(QPen(kFurniture, 1));
    // Treads above and below the label.
    for (int x = r.left() + 6; x < r.right() - 4; x += 8) {
        p.drawLine(x, r.top() + 30, x, r.center().y() - 14);
        p.drawLine(x, r.center().y() + 14, x, r.bottom() - 20);
    }
}

void DrawNorthArrow(QPainter& p, QPointF at) {
    QPainterPath arrow;
    arrow.moveTo(at + QPointF(0, -14));
    arrow.lineTo(at + QPointF(7, 8));
    arrow.lineTo(at + QPointF(0, 3));
    arrow.lineTo(at + QPointF(-7, 8));
    arrow.closeSubpath();
    p.setPen(QPen(kText, 1));
    p.setBrush(kText);
    p.drawPath(arrow);
    QFont f("Liberation Sans");
    f.setPixelSize(11);
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRectF(at.x() - 26, at.y() - 10, 14, 14), Qt::AlignCenter, "N");
}

void DrawScaleBar(QPainter& p, QPoint at) {
    const int tenMetres = static_cast<int>(10 * kPixelsPerMetre);
    p.setPen(QPen(kText, 1));
    for (int i = 0; i < 2; ++i) {
        p.setBrush(i == 0 ? kText : kRoom);
        p.drawRect(at.x() + i * tenMetres / 2, at.y(), tenMetres / 2, 5);
    }
    QFont f("Liberation Sans");
    f.setPixelSize(10);
    p.setFont(f);
    p.drawText(at.x(), at.y() - 3, "0");
    p.drawText(at.x() + tenMetres - 12, at.y() - 3, "10 m");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: ktp_sample_plan OUT.png\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);

    // The building and its corridors: three east-west corridors (y 108, 360,
    // 612) joined by two north-south ones (x 96, 864).
    const QRect building(40, 40, 880, 640);
    p.setPen(Qt::NoPen);
    p.setBrush(kService);
    p.drawRect(building);
    p.setBrush(kCorridor);
    for (int y : {108, 360, 612}) {
        p.drawRect(72, y - 24, 816, 48);
    }
    for (int x : {96, 864}) {
        p.drawRect(x - 24, 84, 48, 552);
    }

    const Room rooms[] = {
        // North strip, above the first corridor.
        {{120, 44, 150, 40}, "Director", "3.01", Room::Office, 'b'},
        {{270, 44, 150, 40}, "Finance", "3.02", Room::Office, 'b'},
        {{420, 44, 180, 40}, "Meeting Room Sky", "3.03", Room::Meeting, 'b'},
        {{600, 44, 120, 40}, "HR", "3.04", Room::Office, 'b'},
        {{720, 44, 120, 40}, "Comms", "3.05", Room::Service, 'b'},
        // Between the first and second corridors.
        {{120, 132, 120, 204}, "Meeting Room Oak", "3.10", Room::Meeting, 't'},
        {{240, 132, 160, 204}, "Lab 2.14", "3.11", Room::Office, 't'},
        {{400, 132, 200, 204}, "Open Office North", "3.12", Room::Open, 'b'},
        {{600, 132, 120, 204}, "Quiet Room", "3.13", Room::Office, 'b'},
        {{720, 132, 120, 204}, "Kitchen", "3.14", Room::Service, 't'},
        // Between the second and third corridors.
        {{120, 384, 210, 204}, "Open Office South", "3.20", Room::Open, 't'},
        {{330, 384, 150, 204}, "Training", "3.21", Room::Meeting, 'b'},
        {{480, 384, 120, 204}, "Stairs", "S2", Room::Service, 't'},
        {{600, 384, 120, 204}, "Print & Copy", "3.23", Room::Service, 'b'},
        {{720, 384, 120, 204}, "WC", "3.24", Room::Service, 't'},
        // South strip, below the third corridor.
        {{120, 636, 180, 40}, "Store", "3.30", Room::Service, 't'},
        {{300, 636, 180, 40}, "Server Room", "3.31", Room::Service, 't'},
        {{480, 636, 180, 40}, "Lifts", "L1", Room::Service, 't'},
        {{660, 636, 180, 40}, "Plant", "3.33", Room::Service, 't'},
    };
    for (const Room& room : rooms) {
        DrawRoom(p, room);
        if (std::string_view(room.number) == "S2") {
            DrawStairs(p, room.rect);
        }
    }

    p.setPen(QPen(kWall, 6));
    p.setBrush(Qt::NoBrush);
    p.drawRect(building);
    // Entrances at the ends of the middle corridor.
    p.setPen(QPen(Qt::white, 7));
    p.drawLine(40, 345, 40, 375);
    p.drawLine(920, 345, 920, 375);

    p.setPen(kText);
    QFont title("Liberation Sans");
    title.setPixelSize(16);
    title.setBold(true);
    p.setFont(title);
    p.drawText(QRect(40, 8, 700, 28), Qt::AlignLeft | Qt::AlignVCenter,
               "Level 3 - sample office floor");
    QFont corridor("Liberation Sans");
    corridor.setPixelSize(10);
    corridor.setItalic(true);
    p.setFont(corridor);
    p.drawText(QRect(130, 100, 200, 16), Qt::AlignLeft | Qt::AlignVCenter, "North corridor");
    p.drawText(QRect(130, 352, 200, 16), Qt::AlignLeft | Qt::AlignVCenter, "Main corridor");
    p.drawText(QRect(130, 604, 200, 16), Qt::AlignLeft | Qt::AlignVCenter, "South corridor");
    DrawNorthArrow(p, QPointF(905, 20));
    DrawScaleBar(p, QPoint(40, 700));
    p.end();

    if (!image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "ktp_sample_plan: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
