#pragma once

#include <QDialog>
#include <QImage>
#include <QLineF>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <optional>
#include <vector>

#include "survey/ProjectionMaker.h"

class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace ketrion {

class Dialogs;

// What the surveyor has told about a plan image without GPS, and the
// projection file it makes: the same control points and file as "ktp pack
// --scale". No widgets: the dialog fills it in, tests drive it directly.
class NewPlanModel {
public:
    // Reads a PNG, JPEG or BMP file; false with a message when it is no image
    // or larger than a projection may hold. The marks are cleared.
    bool Load(const QString& path, QString& error);
    // Takes an image already read (it must not be null).
    void SetImage(const QImage& image);
    const QImage& Image() const { return m_image; }

    // Marks and values, in plan pixels, metres and degrees. A second line
    // counts only with its length; the position only when `positionKnown`.
    std::optional<QLineF> scaleLine;
    double scaleMetres = 0;
    std::optional<QLineF> checkLine;
    double checkMetres = 0;
    double north = 0;
    bool positionKnown = false;
    double latitude = kDefaultOriginLatitude;
    double longitude = kDefaultOriginLongitude;
    std::optional<QPointF> positionPixel;  // the plan's centre when not set

    struct Outcome {
        bool ok = false;
        QString error;  // what is missing or wrong when not ok
        QStringList warnings;
        double pixelsPerMetre = 0;
        std::optional<double> disagreement;
        std::vector<ktp::ControlPoint> points;
    };
    Outcome Compute() const;

    // Writes the projection file at path (replacing it whole, never leaving a
    // half-written one); false with a message.
    bool Write(const QString& path, QString& error) const;

private:
    QImage m_image;
};

// The plan image, scaled to fit, on which the surveyor draws lines (press,
// drag, release) or picks a point (a click). The wheel zooms in (up to 32
// times the fitted size) about the pointer, so a scale line's ends can be set
// on the pixel; the right or middle button drags the zoomed plan. Coordinates
// it reports are plan pixels.
class PlanCanvas final : public QWidget {
    Q_OBJECT
public:
    explicit PlanCanvas(QWidget* parent = nullptr);

    void SetImage(const QImage* image);
    void SetPicksPoint(bool picks) { m_picksPoint = picks; }
    void SetMarks(std::optional<QLineF> scale, std::optional<QLineF> check,
                  std::optional<QPointF> point);
    // Plan pixel under a widget position, and back.
    QPointF ToPlan(QPointF widget) const;
    QPointF ToWidget(QPointF plan) const;

signals:
    void LineDrawn(QLineF plan);
    void PointPicked(QPointF plan);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    double FitZoom() const;
    double Zoom() const;
    QPointF Offset() const;
    // The plan's place when it is only fitted (centred), at `zoom`.
    QPointF CentredOffset(double zoom) const;

    const QImage* m_image = nullptr;
    bool m_picksPoint = false;
    std::optional<QPointF> m_dragStart;  // plan pixels
    QPointF m_dragEnd;
    std::optional<QLineF> m_scale;
    std::optional<QLineF> m_check;
    std::optional<QPointF> m_point;
    double m_magnify = 1;              // times the fitted size
    QPointF m_pan;                     // widget pixels the plan is moved from centred
    std::optional<QPointF> m_panFrom;  // where a pan drag last was (widget pixels)
};

// File > New plan from image: opens a plan image, takes a scale line and its
// length, optionally a second line, north and a known position, writes the
// projection file where the surveyor says and gives back its path. The
// caller opens it.
class CNewPlanDialog final : public QDialog {
    Q_OBJECT
public:
    enum class Tool { Scale, Check, Point };

    explicit CNewPlanDialog(Dialogs& dialogs, QWidget* parent = nullptr);

    // The projection file written, once the dialog was accepted.
    const std::optional<QString>& ProjectionPath() const { return m_written; }

    // Loads the image at path into the dialog; false (the message shown) when
    // it cannot.
    bool OpenImage(const QString& path);
    void SetTool(Tool tool);
    const NewPlanModel& Model() const { return m_model; }
    PlanCanvas* Canvas() const { return m_canvas; }
    QDoubleSpinBox* ScaleMetresBox() const { return m_scaleMetres; }
    QDoubleSpinBox* CheckMetresBox() const { return m_checkMetres; }
    QDoubleSpinBox* NorthBox() const { return m_north; }
    QCheckBox* PositionBox() const { return m_positionKnown; }
    QDoubleSpinBox* LatitudeBox() const { return m_latitude; }
    QDoubleSpinBox* LongitudeBox() const { return m_longitude; }
    QString StatusText() const;
    bool CanAccept() const;

public slots:
    // Checks the plan, asks where to save it, writes it and closes; stays open
    // (with the reason shown) when any step fails or is cancelled.
    void accept() override;

private:
    void AskImage();
    void OnLine(QLineF line);
    void OnPoint(QPointF point);
    void TakeFields();
    void Refresh();

    Dialogs& m_dialogs;
    NewPlanModel m_model;
    QString m_imagePath;
    std::optional<QString> m_written;
    Tool m_tool = Tool::Scale;

    PlanCanvas* m_canvas;
    QLabel* m_imageLabel;
    QRadioButton* m_scaleTool;
    QRadioButton* m_checkTool;
    QRadioButton* m_pointTool;
    QDoubleSpinBox* m_scaleMetres;
    QDoubleSpinBox* m_checkMetres;
    QDoubleSpinBox* m_north;
    QCheckBox* m_positionKnown;
    QDoubleSpinBox* m_latitude;
    QDoubleSpinBox* m_longitude;
    QLabel* m_status;
    QPushButton* m_ok;
};

}  // namespace ketrion
