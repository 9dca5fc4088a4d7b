#include "ui/shell/AboutDlg.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QStyle>

#include <algorithm>

#include "ui/shell/Draw.h"

namespace ketrion {

namespace {

// The About box's texts (those of the tall layout, shown in both).
constexpr const char* kCaption = "About Ketrion";
constexpr const char* kVersionText = "Ketrion Version 1.03";
constexpr const char* kNoticeText = "Site-survey collector for wireless networks.";
// Bitmap used for the application icon when the program carries no icon of its own.
constexpr std::uint16_t kIconBitmap = 132;
// Where the splash picture carries its antenna, and the icon's size.
constexpr QRect kIconArea(12, 14, 56, 56);
constexpr int kIconPixels = 64;
// Gap in pixels between the OK button and the dialog's edges.
constexpr int kButtonMargin = 8;

// Dialog units to pixels, rounding as the platform's MulDiv does.
int MulDiv(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : (product - half) / denominator);
}

}  // namespace

QPixmap CAboutDlg::ApplicationIcon() {
    if (const QIcon icon = QApplication::windowIcon(); !icon.isNull()) {
        return icon.pixmap(kIconPixels, kIconPixels);
    }
    if (const QString path = CDraw::ResourcePath(kIconBitmap); !path.isEmpty()) {
        if (const QImage splash(path);
            splash.width() >= kIconArea.right() && splash.height() >= kIconArea.bottom()) {
            return QPixmap::fromImage(splash.copy(kIconArea));
        }
    }
    return QApplication::style()
        ->standardIcon(QStyle::SP_MessageBoxInformation)
        .pixmap(kIconPixels);
}

const CAboutDlg::Template& CAboutDlg::Portrait() {
    static const Template t{kPortraitTemplate,
                            QSize(156, 129),
                            {{{IDC_ICON, QRect(12, 12, 20, 20)},
                              {IDC_VERSION, QRect(12, 36, 81, 23)},
                              {IDC_NOTICE, QRect(14, 72, 98, 25)}}}};
    return t;
}

const CAboutDlg::Template& CAboutDlg::Landscape() {
    static const Template t{kLandscapeTemplate,
                            QSize(210, 129),
                            {{{IDC_ICON, QRect(12, 12, 21, 20)},
                              {IDC_VERSION, QRect(48, 12, 66, 8)},
                              {IDC_NOTICE, QRect(48, 24, 66, 8)}}}};
    return t;
}

const CAboutDlg::Template& CAboutDlg::TemplateFor(QSize screen) {
    return screen.width() < screen.height() ? Portrait() : Landscape();
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromLatin1(kCaption));

    m_icon = new QLabel(this);
    m_icon->setObjectName(QStringLiteral("201"));
    m_icon->setScaledContents(true);
    m_icon->setPixmap(ApplicationIcon());

    m_version = new QLabel(QString::fromLatin1(kVersionText), this);
    m_version->setObjectName(QStringLiteral("202"));
    m_version->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_version->setWordWrap(true);

    m_notice = new QLabel(QString::fromLatin1(kNoticeText), this);
    m_notice->setObjectName(QStringLiteral("203"));
    m_notice->setWordWrap(true);
    m_notice->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    // The handheld's shell closed full-screen dialogs from the title bar; a
    // desktop window gets an OK button in its lower right corner.
    m_ok = new QPushButton(tr("OK"), this);
    m_ok->setDefault(true);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);

    const Template& initial = TemplateFor(ScreenSize());
    const QRect size = MapDialogRect(QRect(QPoint(0, 0), initial.units));
    resize(size.size().expandedTo(QSize(m_ok->sizeHint().width() + 2 * kButtonMargin,
                                        m_ok->sizeHint().height() + 2 * kButtonMargin)));
    LayOut(initial);
}

QRect CAboutDlg::MapDialogRect(QRect units) const {
    // Base units: the average width of the Latin letters and the height of the
    // dialog's font; a dialog unit is a quarter of the first horizontally and
    // an eighth of the second vertically.
    const QFontMetrics metrics(font());
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int baseX = (metrics.horizontalAdvance(letters) / 26 + 1) / 2;
    const int baseY = metrics.height();
    return QRect(MulDiv(units.left(), baseX, 4), MulDiv(units.top(), baseY, 8),
                 MulDiv(units.width(), baseX, 4), MulDiv(units.height(), baseY, 8));
}

QRect CAboutDlg::FitText(QWidget* child, QRect box) const {
    auto* label = qobject_cast<QLabel*>(child);
    if (label == nullptr || label == m_icon) {
        return box;
    }
    // Dialog units follow the font, but a desktop font's proportions differ
    // from the handheld's: a text box whose text does not fit grows to the
    // right and downwards where the dialog has room, rather than cutting the
    // version or the notice short.
    const QFontMetrics metrics(label->font());
    const int room = std::max(box.width(), width() - box.left() - kButtonMargin);
    box.setWidth(std::min(std::max(box.width(), metrics.horizontalAdvance(label->text())), room));
    box.setHeight(std::max(box.height(), label->heightForWidth(box.width())));
    return box;
}

QWidget* CAboutDlg::Control(int id) const {
    switch (id) {
        case IDC_ICON:
            return m_icon;
        case IDC_VERSION:
            return m_version;
        case IDC_NOTICE:
            return m_notice;
        default:
            return nullptr;
    }
}

void CAboutDlg::LayOut(const Template& layout) {
    for (const ControlItem& item : layout.controls) {
        QWidget* child = Control(item.id);
        if (child == nullptr) {
            return;  // the controls before it keep their new places
        }
        child->setGeometry(FitText(child, MapDialogRect(item.units)));
    }
    m_current = layout.number;
}

QSize CAboutDlg::ScreenSize() const {
    const QScreen* s = screen();
    if (s == nullptr) {
        s = QGuiApplication::primaryScreen();
    }
    return s != nullptr ? s->geometry().size() : QSize(240, 320);
}

void CAboutDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    LayOut(TemplateFor(ScreenSize()));
    const QSize button = m_ok->sizeHint();
    m_ok->setGeometry(width() - button.width() - kButtonMargin,
                      height() - button.height() - kButtonMargin, button.width(), button.height());
}

}  // namespace ketrion
