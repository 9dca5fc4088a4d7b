#include "ui/shell/Draw.h"

#include <QDir>
#include <QPainter>

namespace ketrion {

CDraw::~CDraw() = default;

QString CDraw::ResourcePath(std::uint16_t id) {
    // The resource file names each bitmap by its number; the extension is the
    // image format's, so look the number up instead of assuming one.
    const QString stem = QString::number(id);
    const QStringList matches =
        QDir(QStringLiteral(":/bitmaps")).entryList({stem + QStringLiteral(".*")}, QDir::Files);
    if (matches.isEmpty()) {
        return {};
    }
    return QStringLiteral(":/bitmaps/") + matches.front();
}

QImage CDraw::LoadBitmap(std::uint16_t id) {
    if (auto it = m_cache.find(id); it != m_cache.end()) {
        return it->second;
    }
    QImage image;
    if (const QString path = ResourcePath(id); !path.isEmpty()) {
        image.load(path);
    }
    m_cache.emplace(id, image);
    return image;
}

void CDraw::DrawBitmap(QPainter& dc, std::uint16_t id, int left, int top, int width, int height) {
    if (width <= 0 || height <= 0) {
        return;
    }
    const QImage image = LoadBitmap(id);
    if (image.isNull()) {
        return;
    }
    dc.save();
    dc.setRenderHint(QPainter::SmoothPixmapTransform, false);
    dc.setCompositionMode(QPainter::CompositionMode_Source);
    dc.drawImage(QRect(left, top, width, height), image);
    dc.restore();
}

}  // namespace ketrion
