#include "ui/shell/FrameCommandBar.h"

#include <QBitmap>
#include <QIcon>
#include <QImage>
#include <QPixmap>

#include <cstdint>

#include "ui/shell/Commands.h"
#include "ui/shell/Draw.h"
#include "ui/shell/FrameMenus.h"
#include "ui/shell/MainFrame.h"

namespace ketrion {

namespace {

// Toolbar resources: 9 buttons of 16 x 16 (bitmap 128) or 30 x 30 (bitmap 129).
constexpr std::uint16_t kSmallButtonsBitmap = 128;
constexpr std::uint16_t kLargeButtonsBitmap = 129;
constexpr int kSmallButton = 16;
constexpr int kLargeButton = 30;
// The toolbar bitmaps paint their background in the button face grey, which
// the bar shows as its own background.
constexpr QRgb kButtonFace = qRgb(192, 192, 192);
// The same strips drawn at twice the size, for screens of two device pixels
// per logical pixel (and sharper scaling on others).
const char* const kDoubleStrips[2] = {":/bitmaps/128@2x.bmp", ":/bitmaps/129@2x.bmp"};

// One button of a strip, its button-face background left transparent.
QPixmap ButtonPixmap(const QImage& strip, int index, int size) {
    const QImage cell = strip.copy(index * size, 0, size, size);
    QPixmap button = QPixmap::fromImage(cell.convertToFormat(QImage::Format_ARGB32));
    button.setMask(QBitmap::fromImage(cell.createMaskFromColor(kButtonFace)));
    return button;
}

const char* CommandTip(int id) {
    switch (id) {
        case ID_PROJECTION_OPEN:
            return "Load projection";
        case ID_COLLECTION_OPEN:
            return "Collection file";
        case ID_SCAN_START:
            return "Record";
        case ID_SCAN_STOP:
            return "Stop";
        case ID_ZOOM_IN:
            return "Zoom in";
        case ID_ZOOM_OUT:
            return "Zoom out";
        case ID_SNAPSHOT:
            return "Snapshot";
        case ID_PLACE_AP:
            return "Place access point";
        case ID_APP_ABOUT:
            return "About Ketrion";
        default:
            return "";
    }
}

}  // namespace

FrameCommandBar::FrameCommandBar(CMainFrame& frame) {
    m_bar = new QToolBar(QStringLiteral("Command bar"), &frame);
    m_bar->setObjectName(QStringLiteral("commandBar"));
    m_bar->setMovable(false);
    m_bar->setFloatable(false);
    m_bar->setContextMenuPolicy(Qt::PreventContextMenu);
    m_bar->toggleViewAction()->setEnabled(false);
    for (int id : kCommandBarOrder) {
        QAction* action = m_bar->addAction(QString::fromLatin1(CommandTip(id)));
        action->setData(id);
        action->setToolTip(QString::fromLatin1(CommandTip(id)));
        QObject::connect(action, &QAction::triggered, &frame,
                         [&frame, id, action] { frame.OnCommand(id, action); });
    }
    frame.addToolBar(Qt::BottomToolBarArea, m_bar);
}

QAction* FrameCommandBar::Action(int id) const {
    for (QAction* action : m_bar->actions()) {
        if (action->data().toInt() == id) {
            return action;
        }
    }
    return nullptr;
}

bool FrameCommandBar::LoadButtons(int clientWidth, CDraw& draw, const FrameMenus* menus) {
    const bool large = clientWidth > CMainFrame::kSmallButtonsMaxWidth;
    const int size = large ? kLargeButton : kSmallButton;
    if (size == m_buttonSize) {
        return true;
    }
    const QImage strip = draw.LoadBitmap(large ? kLargeButtonsBitmap : kSmallButtonsBitmap);
    const int count = static_cast<int>(kCommandBarOrder.size());
    if (strip.isNull() || strip.width() < count * size || strip.height() < size) {
        return false;
    }
    const QImage doubled(QString::fromLatin1(kDoubleStrips[large ? 1 : 0]));
    const bool haveDoubled = doubled.width() >= count * size * 2 && doubled.height() >= size * 2;
    const QList<QAction*> actions = m_bar->actions();
    for (int i = 0; i < count && i < actions.size(); ++i) {
        QIcon icon(ButtonPixmap(strip, i, size));
        if (haveDoubled) {
            QPixmap sharp = ButtonPixmap(doubled, i, size * 2);
            sharp.setDevicePixelRatio(2.0);
            icon.addPixmap(sharp);
        }
        actions[i]->setIcon(icon);
        // The menus show the same pictures.
        if (QAction* item = menus ? menus->Action(actions[i]->data().toInt()) : nullptr) {
            item->setIcon(icon);
        }
    }
    m_bar->setIconSize(QSize(size, size));
    m_buttonSize = size;
    return true;
}

}  // namespace ketrion
