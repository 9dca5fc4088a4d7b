#include "ui/shell/NewPlanDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "survey/SiteProjection.h"
#include "ui/siteview/Dialogs.h"

namespace ketrion {

namespace {

// Longest line, in metres, the length boxes take: a campus, not a country.
constexpr double kMaxLineMetres = 100000.0;
// Decimals of the position boxes: 1e-7 degree is about a centimetre.
constexpr int kDegreeDecimals = 7;
// Shortest drag, in plan pixels, that counts as a line rather than a click.
constexpr double kMinLinePixels = 2.0;
// Room the canvas asks for before the dialog is resized.
constexpr int kCanvasWidth = 640;
constexpr int kCanvasHeight = 480;

const QString kImageFilter = QStringLiteral(
    "Plan images (*.png;*.jpg;*.jpeg;*.bmp)|*.png;*.jpg;*.jpeg;*.bmp|All Files (*.*)|*.*||");
const QString kProjectionFilter = QStringLiteral("Projection Files (*.ktp)|*.ktp||");

ScaleLine ToScaleLine(const QLineF& line, double metres) {
    return {line.x1(), line.y1(), line.x2(), line.y2(), metres};
}

}  // namespace

bool NewPlanModel::Load(const QString& path, QString& error) {
    QImageReader reader(path);
    const QSize size = reader.size();
    if (size.isValid() &&
        static_cast<std::uint64_t>(size.width()) * static_cast<std::uint64_t>(size.height()) >
            CSiteProjection::kMaxPlanPixels) {
        error = QStringLiteral("%1 is %2 x %3 pixels: a plan may have at most %4 pixels.")
                    .arg(path)
                    .arg(size.width())
                    .arg(size.height())
                    .arg(CSiteProjection::kMaxPlanPixels);
        return false;
    }
    const QImage image = reader.read();
    if (image.isNull()) {
        error = QStringLiteral("%1 cannot be read as an image (PNG, JPEG or BMP): %2.")
                    .arg(path, reader.errorString());
        return false;
    }
    SetImage(image);
    return true;
}

void NewPlanModel::SetImage(const QImage& image) {
    m_image = image;
    scaleLine.reset();
    checkLine.reset();
    positionPixel.reset();
}

NewPlanModel::Outcome NewPlanModel::Compute() const {
    Outcome out;
    if (m_image.isNull()) {
        out.error = QStringLiteral("Open a plan image.");
        return out;
    }
    if (!scaleLine) {
        out.error = QStringLiteral("Draw a line along a long feature of known length.");
        return out;
    }
    if (!(scaleMetres > 0)) {
        out.error = QStringLiteral("Type the line's length in metres.");
        return out;
    }
    LocalPlaneRequest request;
    request.width = m_image.width();
    request.height = m_image.height();
    request.scale = ToScaleLine(*scaleLine, scaleMetres);
    if (checkLine && checkMetres > 0) {
        request.check = ToScaleLine(*checkLine, checkMetres);
    }
    request.north = north;
    if (positionKnown) {
        request.latitude = latitude;
        request.longitude = longitude;
        if (positionPixel) {
            request.originPixel = PlanPoint{positionPixel->x(), positionPixel->y()};
        }
    }
    std::vector<std::string> warnings;
    std::string error;
    const auto points = ktp::LocalPlaneControlPoints(request, warnings, error);
    if (!points) {
        QString text = QString::fromStdString(error);
        if (!text.isEmpty()) {
            text[0] = text[0].toUpper();
        }
        out.error = text + QLatin1Char('.');
        return out;
    }
    out.ok = true;
    out.points = *points;
    out.pixelsPerMetre = request.scale.PixelsPerMetre();
    if (request.check) {
        out.disagreement = std::abs(request.check->PixelsPerMetre() / out.pixelsPerMetre - 1.0);
    }
    for (const std::string& w : warnings) {
        out.warnings << QString::fromStdString(w);
    }
    return out;
}

bool NewPlanModel::Write(const QString& path, QString& error) const {
    const Outcome outcome = Compute();
    if (!outcome.ok) {
        error = outcome.error;
        return false;
    }
    std::string fitError;
    const auto fit = ktp::FitAffine(outcome.points, fitError);
    if (!fit) {
        error = QString::fromStdString(fitError);
        return false;
    }
    const QImage rgb = m_image.convertToFormat(QImage::Format_RGB888);
    const std::vector<std::uint8_t> bitmap = ktp::MakeBitmap24(
        rgb.width(), rgb.height(), rgb.constBits(), static_cast<std::size_t>(rgb.bytesPerLine()));
    const std::vector<std::uint8_t> bytes = ktp::MakeProjectionFile(*fit, bitmap);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()) ||
        !file.commit()) {
        error = QStringLiteral("%1 cannot be written: %2.").arg(path, file.errorString());
        return false;
    }
    return true;
}

PlanCanvas::PlanCanvas(QWidget* parent) : QWidget(parent) {
    setMinimumSize(kCanvasWidth / 2, kCanvasHeight / 2);
    resize(kCanvasWidth, kCanvasHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setCursor(Qt::CrossCursor);
}

void PlanCanvas::SetImage(const QImage* image) {
    m_image = image;
    m_dragStart.reset();
    m_magnify = 1;
    m_pan = {};
    update();
}

void PlanCanvas::SetMarks(std::optional<QLineF> scale, std::optional<QLineF> check,
                          std::optional<QPointF> point) {
    m_scale = scale;
    m_check = check;
    m_point = point;
    update();
}

double PlanCanvas::FitZoom() const {
    if (m_image == nullptr || m_image->isNull()) {
        return 1.0;
    }
    return std::min(static_cast<double>(width()) / m_image->width(),
                    static_cast<double>(height()) / m_image->height());
}

double PlanCanvas::Zoom() const {
    return FitZoom() * m_magnify;
}

QPointF PlanCanvas::CentredOffset(double zoom) const {
    if (m_image == nullptr || m_image->isNull()) {
        return {};
    }
    return {(width() - m_image->width() * zoom) / 2.0, (height() - m_image->height() * zoom) / 2.0};
}

QPointF PlanCanvas::Offset() const {
    return CentredOffset(Zoom()) + m_pan;
}

void PlanCanvas::wheelEvent(QWheelEvent* event) {
    if (m_image == nullptr || m_image->isNull() || event->angleDelta().y() == 0) {
        event->ignore();
        return;
    }
    constexpr double kStep = 1.25;  // per notch of the wheel
    constexpr double kMostMagnified = 32;
    const QPointF at = event->position();
    const QPointF plan = ToPlan(at);
    const double notches = event->angleDelta().y() / 120.0;
    m_magnify = std::clamp(m_magnify * std::pow(kStep, notches), 1.0, kMostMagnified);
    // The plan pixel under the pointer stays under it; fitted again, centred.
    m_pan = m_magnify == 1.0 ? QPointF() : at - plan * Zoom() - CentredOffset(Zoom());
    update();
    event->accept();
}

QPointF PlanCanvas::ToPlan(QPointF widget) const {
    return (widget - Offset()) / Zoom();
}

QPointF PlanCanvas::ToWidget(QPointF plan) const {
    return plan * Zoom() + Offset();
}

void PlanCanvas::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    if (m_image == nullptr || m_image->isNull()) {
        painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("Open a plan image."));
        return;
    }
    const double zoom = Zoom();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(Offset(), QSizeF(m_image->size()) * zoom), *m_image);
    painter.setRenderHint(QPainter::Antialiasing);
    const auto line = [&](const QLineF& plan, const QColor& colour) {
        painter.setPen(QPen(colour, 3));
        painter.drawLine(QLineF(ToWidget(plan.p1()), ToWidget(plan.p2())));
    };
    if (m_scale) {
        line(*m_scale, Qt::red);
    }
    if (m_check) {
        line(*m_check, Qt::blue);
    }
    if (m_dragStart) {
        line(QLineF(*m_dragStart, m_dragEnd), Qt::darkGray);
    }
    if (m_point) {
        const QPointF at = ToWidget(*m_point);
        painter.setPen(QPen(Qt::darkGreen, 2));
        painter.drawEllipse(at, 6, 6);
        painter.drawLine(at - QPointF(10, 0), at + QPointF(10, 0));
        painter.drawLine(at - QPointF(0, 10), at + QPointF(0, 10));
    }
}

void PlanCanvas::mousePressEvent(QMouseEvent* event) {
    if ((event->button() == Qt::RightButton || event->button() == Qt::MiddleButton) &&
        m_magnify > 1.0) {
        m_panFrom = event->position();
        return;
    }
    if (event->button() != Qt::LeftButton || m_image == nullptr || m_image->isNull()) {
        return;
    }
    const QPointF plan = ToPlan(event->position());
    if (m_picksPoint) {
        emit PointPicked(plan);
        return;
    }
    m_dragStart = plan;
    m_dragEnd = plan;
    update();
}

void PlanCanvas::mouseMoveEvent(QMouseEvent* event) {
    if (m_panFrom) {
        m_pan += event->position() - *m_panFrom;
        m_panFrom = event->position();
        update();
        return;
    }
    if (m_dragStart) {
        m_dragEnd = ToPlan(event->position());
        update();
    }
}

void PlanCanvas::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton || event->button() == Qt::MiddleButton) {
        m_panFrom.reset();
        return;
    }
    if (event->button() != Qt::LeftButton || !m_dragStart) {
        return;
    }
    const QLineF line(*m_dragStart, ToPlan(event->position()));
    m_dragStart.reset();
    update();
    if (line.length() >= kMinLinePixels) {
        emit LineDrawn(line);
    }
}

CNewPlanDialog::CNewPlanDialog(Dialogs& dialogs, QWidget* parent)
    : QDialog(parent), m_dialogs(dialogs) {
    setWindowTitle(QStringLiteral("New plan from image"));

    auto* open = new QPushButton(QStringLiteral("&Open image..."), this);
    open->setObjectName(QStringLiteral("openImage"));
    m_imageLabel = new QLabel(QStringLiteral("No image"), this);
    auto* top = new QHBoxLayout;
    top->addWidget(open);
    top->addWidget(m_imageLabel, 1);

    m_canvas = new PlanCanvas(this);
    m_canvas->SetImage(&m_model.Image());

    m_scaleTool = new QRadioButton(QStringLiteral("&Scale line"), this);
    m_checkTool = new QRadioButton(QStringLiteral("Second &line"), this);
    m_pointTool = new QRadioButton(QStringLiteral("&Known point"), this);
    m_scaleTool->setChecked(true);
    auto* tools = new QHBoxLayout;
    tools->addWidget(new QLabel(QStringLiteral("Draw:"), this));
    tools->addWidget(m_scaleTool);
    tools->addWidget(m_checkTool);
    tools->addWidget(m_pointTool);
    tools->addStretch(1);

    const auto box = [this](double low, double high, int decimals, const QString& suffix) {
        auto* spin = new QDoubleSpinBox(this);
        spin->setRange(low, high);
        spin->setDecimals(decimals);
        spin->setSuffix(suffix);
        return spin;
    };
    m_scaleMetres = box(0, kMaxLineMetres, 3, QStringLiteral(" m"));
    m_checkMetres = box(0, kMaxLineMetres, 3, QStringLiteral(" m"));
    m_north = box(-360, 360, 2, QStringLiteral(" °"));
    m_positionKnown = new QCheckBox(QStringLiteral("The known point is at"), this);
    m_latitude = box(-90, 90, kDegreeDecimals, QStringLiteral(" ° N"));
    m_longitude = box(-180, 180, kDegreeDecimals, QStringLiteral(" ° E"));
    auto* position = new QHBoxLayout;
    position->addWidget(m_latitude);
    position->addWidget(m_longitude);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Scale line length:"), m_scaleMetres);
    form->addRow(QStringLiteral("Second line length (optional):"), m_checkMetres);
    form->addRow(QStringLiteral("North (bearing of the plan's up):"), m_north);
    form->addRow(m_positionKnown, position);

    m_status = new QLabel(this);
    m_status->setWordWrap(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    m_ok->setText(QStringLiteral("&Save plan..."));

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_canvas, 1);
    layout->addLayout(tools);
    layout->addLayout(form);
    layout->addWidget(m_status);
    layout->addWidget(buttons);

    connect(open, &QPushButton::clicked, this, &CNewPlanDialog::AskImage);
    connect(buttons, &QDialogButtonBox::accepted, this, &CNewPlanDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CNewPlanDialog::reject);
    connect(m_canvas, &PlanCanvas::LineDrawn, this, &CNewPlanDialog::OnLine);
    connect(m_canvas, &PlanCanvas::PointPicked, this, &CNewPlanDialog::OnPoint);
    connect(m_scaleTool, &QRadioButton::toggled, this, [this](bool on) {
        if (on) {
            SetTool(Tool::Scale);
        }
    });
    connect(m_checkTool, &QRadioButton::toggled, this, [this](bool on) {
        if (on) {
            SetTool(Tool::Check);
        }
    });
    connect(m_pointTool, &QRadioButton::toggled, this, [this](bool on) {
        if (on) {
            SetTool(Tool::Point);
        }
    });
    for (QDoubleSpinBox* spin : {m_scaleMetres, m_checkMetres, m_north, m_latitude, m_longitude}) {
        connect(spin, &QDoubleSpinBox::valueChanged, this, &CNewPlanDialog::Refresh);
    }
    connect(m_positionKnown, &QCheckBox::toggled, this, &CNewPlanDialog::Refresh);
    Refresh();
}

void CNewPlanDialog::AskImage() {
    FileDialogRequest request;
    request.filter = kImageFilter;
    request.mustExist = true;
    if (const std::optional<QString> path = m_dialogs.OpenFile(request)) {
        OpenImage(*path);
    }
}

bool CNewPlanDialog::OpenImage(const QString& path) {
    QString error;
    if (!m_model.Load(path, error)) {
        m_dialogs.Message(error);
        return false;
    }
    m_imagePath = path;
    m_imageLabel->setText(QStringLiteral("%1 (%2 x %3 pixels)")
                              .arg(QFileInfo(path).fileName())
                              .arg(m_model.Image().width())
                              .arg(m_model.Image().height()));
    m_canvas->SetImage(&m_model.Image());
    SetTool(Tool::Scale);
    Refresh();
    return true;
}

void CNewPlanDialog::SetTool(Tool tool) {
    m_tool = tool;
    QRadioButton* button =
        tool == Tool::Scale ? m_scaleTool : (tool == Tool::Check ? m_checkTool : m_pointTool);
    if (!button->isChecked()) {
        button->setChecked(true);  // comes back here through its signal
    }
    m_canvas->SetPicksPoint(tool == Tool::Point);
}

void CNewPlanDialog::OnLine(QLineF line) {
    if (m_tool == Tool::Check) {
        m_model.checkLine = line;
        m_checkMetres->setFocus();
    } else {
        m_model.scaleLine = line;
        m_scaleMetres->setFocus();
    }
    Refresh();
}

void CNewPlanDialog::OnPoint(QPointF point) {
    m_model.positionPixel = point;
    m_positionKnown->setChecked(true);
    m_latitude->setFocus();
    Refresh();
}

void CNewPlanDialog::TakeFields() {
    m_model.scaleMetres = m_scaleMetres->value();
    m_model.checkMetres = m_checkMetres->value();
    m_model.north = m_north->value();
    m_model.positionKnown = m_positionKnown->isChecked();
    m_model.latitude = m_latitude->value();
    m_model.longitude = m_longitude->value();
}

QString CNewPlanDialog::StatusText() const {
    return m_status->text();
}

bool CNewPlanDialog::CanAccept() const {
    return m_ok->isEnabled();
}

void CNewPlanDialog::Refresh() {
    TakeFields();
    m_canvas->SetMarks(m_model.scaleLine, m_model.checkLine, m_model.positionPixel);
    const NewPlanModel::Outcome outcome = m_model.Compute();
    m_ok->setEnabled(outcome.ok);
    if (!outcome.ok) {
        m_status->setText(outcome.error);
        return;
    }
    QString text = QStringLiteral("%1 pixels per metre").arg(outcome.pixelsPerMetre, 0, 'g', 4);
    if (outcome.disagreement) {
        text += QStringLiteral("; the second line differs by %1 %")
                    .arg(*outcome.disagreement * 100.0, 0, 'f', 1);
    }
    text += QLatin1Char('.');
    for (const QString& warning : outcome.warnings) {
        text += QStringLiteral("\nWarning: ") + warning + QLatin1Char('.');
    }
    m_status->setText(text);
}

void CNewPlanDialog::accept() {
    Refresh();
    if (!m_model.Compute().ok) {
        return;
    }
    FileDialogRequest request;
    request.filter = kProjectionFilter;
    request.defaultExtension = QStringLiteral("ktp");
    request.initialName = QFileInfo(m_imagePath).completeBaseName() + QStringLiteral(".ktp");
    const std::optional<QString> path = m_dialogs.SaveFile(request);
    if (!path) {
        return;
    }
    QString error;
    if (!m_model.Write(*path, error)) {
        m_dialogs.Message(error);
        return;
    }
    m_written = *path;
    QDialog::accept();
}

}  // namespace ketrion
