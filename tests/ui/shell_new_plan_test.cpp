// File > New plan from image: the dialog's computation, drawing on its
// canvas, and the projection file it writes and the frame opens.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QImage>
#include <QMouseEvent>
#include <QPushButton>
#include <QSettings>
#include <QWheelEvent>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>

#include "support/Geodesic.h"
#include "support/QtTestApp.h"
#include "support/RunProgram.h"
#include "support/SiteViewWorld.h"
#include "survey/ProjectionMaker.h"
#include "ui/shell/MainFrame.h"
#include "ui/shell/NewPlanDialog.h"

namespace ketrion::testing {
namespace {

// A 400 x 300 plan with a dark band, saved as a PNG in the world's folder.
QString SavePlanImage(SiteViewWorld& world, const std::string& name) {
    QImage image(400, 300, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (int x = 0; x < 400; ++x) {
        image.setPixel(x, 150, qRgb(20, 20, 20));
    }
    const QString path = QString::fromStdString(world.dir.File(name));
    EXPECT_TRUE(image.save(path));
    return path;
}

// The map of the projection file at path, as the program reads it.
PlanMap MapOf(const std::string& path) {
    std::string error;
    const auto info = ktp::ReadProjectionInfo(path, error);
    EXPECT_TRUE(info) << error;
    if (!info) {
        return {};
    }
    return {info->xRow[0], info->xRow[1], info->xRow[3],
            info->yRow[0], info->yRow[1], info->yRow[3]};
}

// Presses at `from`, drags through the middle and releases at `to`, in plan
// pixels, as a mouse on the canvas would.
void Drag(PlanCanvas& canvas, QPointF from, QPointF to) {
    const auto send = [&](QEvent::Type type, QPointF plan, Qt::MouseButtons buttons) {
        const QPointF at = canvas.ToWidget(plan);
        QMouseEvent event(type, at, canvas.mapToGlobal(at), Qt::LeftButton, buttons,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(&canvas, &event);
    };
    send(QEvent::MouseButtonPress, from, Qt::LeftButton);
    send(QEvent::MouseMove, (from + to) / 2, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, to, Qt::NoButton);
}

TEST(NewPlanModel, WhatIsMissingAndWhatIsWarned) {
    QtTestApp();
    NewPlanModel model;
    EXPECT_EQ(model.Compute().error, QStringLiteral("Open a plan image."));
    QImage image(400, 300, QImage::Format_RGB32);
    image.fill(Qt::white);
    model.SetImage(image);
    EXPECT_TRUE(model.Compute().error.contains(QStringLiteral("Draw a line")));
    model.scaleLine = QLineF(0, 0, 300, 0);
    EXPECT_TRUE(model.Compute().error.contains(QStringLiteral("length in metres")));
    model.scaleMetres = 15;

    struct Case {
        const char* legend;
        double checkMetres;
        bool positionKnown;
        double latitude;
        bool ok;
        const char* text;  // in the error, or in the only warning; empty: none
    };
    // The second line is 200 px down the plan: 10 m agrees with 20 px/m.
    const Case cases[] = {
        {"scale only", 0, false, 0, true, ""},
        {"second line agrees", 10, false, 0, true, ""},
        {"second line 5 % off", 9.5, false, 0, true, "disagree by 5.3 %"},
        {"known position", 10, true, 48.1, true, ""},
        {"latitude off the globe", 10, true, 91, false, "Latitude 91 is off the globe"},
    };
    model.checkLine = QLineF(50, 50, 50, 250);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        model.checkMetres = c.checkMetres;
        model.positionKnown = c.positionKnown;
        model.latitude = c.latitude;
        const auto outcome = model.Compute();
        EXPECT_EQ(outcome.ok, c.ok) << outcome.error.toStdString();
        if (!c.ok) {
            EXPECT_TRUE(outcome.error.contains(QLatin1String(c.text)))
                << outcome.error.toStdString();
            continue;
        }
        EXPECT_DOUBLE_EQ(outcome.pixelsPerMetre, 20.0);
        EXPECT_EQ(outcome.disagreement.has_value(), c.checkMetres > 0);
        if (c.text[0] == '\0') {
            EXPECT_TRUE(outcome.warnings.isEmpty()) << outcome.warnings.join("|").toStdString();
        } else {
            ASSERT_EQ(outcome.warnings.size(), 1);
            EXPECT_TRUE(outcome.warnings[0].contains(QLatin1String(c.text)))
                << outcome.warnings[0].toStdString();
        }
    }
    // A new image drops the marks drawn on the old one.
    model.SetImage(image);
    EXPECT_FALSE(model.scaleLine || model.checkLine || model.positionPixel);
}

TEST(NewPlanModel, RefusesWhatIsNoImage) {
    SiteViewWorld world;
    const std::string text = world.dir.File("notes.png");
    std::ofstream(text) << "not a picture";
    NewPlanModel model;
    QString error;
    EXPECT_FALSE(model.Load(QString::fromStdString(text), error));
    EXPECT_TRUE(error.contains(QStringLiteral("cannot be read as an image")))
        << error.toStdString();
    EXPECT_FALSE(model.Load(QString::fromStdString(world.dir.File("missing.bmp")), error));
    EXPECT_TRUE(model.Image().isNull());
}

TEST(NewPlanModel, WritesWhatTheCommandWrites) {
    SiteViewWorld world;
    const QString image = SavePlanImage(world, "floor.png");
    NewPlanModel model;
    QString error;
    ASSERT_TRUE(model.Load(image, error)) << error.toStdString();
    model.scaleLine = QLineF(20, 280, 170, 80);  // 250 px
    model.scaleMetres = 12.5;
    model.north = 30;
    model.positionKnown = true;
    model.latitude = 60.17;
    model.longitude = 24.94;
    model.positionPixel = QPointF(30, 40);
    const std::string dialogFile = world.dir.File("dialog.ktp");
    ASSERT_TRUE(model.Write(QString::fromStdString(dialogFile), error)) << error.toStdString();

    const PlanMap map = MapOf(dialogFile);
    const auto origin = map.ToGeo(30, 40);
    const auto a = map.ToGeo(20, 280);
    const auto b = map.ToGeo(170, 80);
    const auto up = map.ToGeo(30, 0);
    ASSERT_TRUE(origin && a && b && up);
    EXPECT_NEAR(origin->latitude, 60.17, 1e-9);
    EXPECT_NEAR(origin->longitude, 24.94, 1e-9);
    EXPECT_NEAR(Vincenty(a->latitude, a->longitude, b->latitude, b->longitude).metres, 12.5,
                12.5 * kPlanDistanceTolerance);
    EXPECT_NEAR(
        Vincenty(origin->latitude, origin->longitude, up->latitude, up->longitude).azimuthDegrees,
        30.0, 0.01);

    const std::string ktp = ToolPath("ktp");
    if (!std::filesystem::exists(ktp)) {
        GTEST_SKIP() << "ktp is not built";
    }
    const std::string commandFile = world.dir.File("command.ktp");
    RunOptions options;
    options.mergeErrors = true;
    const auto run =
        RunProgram(ktp,
                   {"pack", image.toStdString(), "--scale", "20,280,170,80,12.5", "--origin",
                    "60.17,24.94,30,40", "--north", "30", "-o", commandFile},
                   options);
    ASSERT_EQ(run.status, 0) << run.out;
    const auto bytes = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    EXPECT_TRUE(bytes(dialogFile) == bytes(commandFile));
}

TEST(NewPlanDialog, DrawingOnThePlanFillsTheModel) {
    SiteViewWorld world;
    CNewPlanDialog dialog(world.dialogs);
    EXPECT_FALSE(dialog.CanAccept());
    ASSERT_TRUE(dialog.OpenImage(SavePlanImage(world, "floor.png")));
    PlanCanvas& canvas = *dialog.Canvas();
    canvas.resize(800, 500);  // zoom 1.667 with a margin left and right

    Drag(canvas, {10, 150}, {390, 150});
    ASSERT_TRUE(dialog.Model().scaleLine);
    EXPECT_NEAR(dialog.Model().scaleLine->x1(), 10, 0.5);
    EXPECT_NEAR(dialog.Model().scaleLine->x2(), 390, 0.5);
    EXPECT_NEAR(dialog.Model().scaleLine->y2(), 150, 0.5);
    EXPECT_FALSE(dialog.CanAccept());
    dialog.ScaleMetresBox()->setValue(19);
    EXPECT_TRUE(dialog.CanAccept()) << dialog.StatusText().toStdString();
    EXPECT_TRUE(dialog.StatusText().startsWith(QStringLiteral("20 pixels per metre")))
        << dialog.StatusText().toStdString();

    dialog.SetTool(CNewPlanDialog::Tool::Check);
    Drag(canvas, {100, 20}, {100, 280});
    dialog.CheckMetresBox()->setValue(12);  // 260 px: 21.7 px/m, 8.3 % off
    EXPECT_TRUE(dialog.Model().checkLine);
    EXPECT_TRUE(dialog.StatusText().contains(QStringLiteral("Warning: the two scale lines")))
        << dialog.StatusText().toStdString();
    EXPECT_TRUE(dialog.CanAccept());

    dialog.SetTool(CNewPlanDialog::Tool::Point);
    Drag(canvas, {300, 60}, {300, 60});  // a click
    ASSERT_TRUE(dialog.Model().positionPixel);
    EXPECT_NEAR(dialog.Model().positionPixel->x(), 300, 0.5);
    EXPECT_TRUE(dialog.PositionBox()->isChecked());
    dialog.LatitudeBox()->setValue(-33.87);
    dialog.LongitudeBox()->setValue(151.21);
    EXPECT_DOUBLE_EQ(dialog.Model().latitude, -33.87);
    EXPECT_TRUE(dialog.Model().positionKnown);

    // Cancelling the save dialog keeps the dialog open; an answer writes.
    world.dialogs.fileAnswers.push_back(std::nullopt);
    dialog.accept();
    EXPECT_FALSE(dialog.ProjectionPath());
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    const QString out = QString::fromStdString(world.dir.File("plan.ktp"));
    world.dialogs.fileAnswers.push_back(out);
    dialog.accept();
    ASSERT_TRUE(dialog.ProjectionPath());
    EXPECT_EQ(*dialog.ProjectionPath(), out);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    ASSERT_EQ(world.dialogs.fileQuestions.size(), 2u);
    EXPECT_EQ(world.dialogs.fileQuestions[1].request.initialName, QStringLiteral("floor.ktp"));
    const auto origin = MapOf(out.toStdString()).ToGeo(300, 60);
    ASSERT_TRUE(origin);
    EXPECT_NEAR(origin->latitude, -33.87, 1e-7);
    EXPECT_NEAR(origin->longitude, 151.21, 1e-7);
}

TEST(NewPlanDialog, TheWheelZoomsAboutThePointerForAPreciseLine) {
    SiteViewWorld world;
    CNewPlanDialog dialog(world.dialogs);
    ASSERT_TRUE(dialog.OpenImage(SavePlanImage(world, "floor.png")));
    PlanCanvas& canvas = *dialog.Canvas();
    canvas.resize(800, 500);
    const auto wheel = [&](QPointF at, int notches) {
        QWheelEvent event(at, canvas.mapToGlobal(at), QPoint(), QPoint(0, 120 * notches),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(&canvas, &event);
    };
    const QPointF pointer(200, 150);
    const QPointF under = canvas.ToPlan(pointer);
    const double fitted = canvas.ToWidget({1, 0}).x() - canvas.ToWidget({0, 0}).x();
    wheel(pointer, 8);  // 1.25^8 = 5.96 times
    EXPECT_NEAR(canvas.ToPlan(pointer).x(), under.x(), 1e-9);
    EXPECT_NEAR(canvas.ToPlan(pointer).y(), under.y(), 1e-9);
    EXPECT_NEAR(canvas.ToWidget({1, 0}).x() - canvas.ToWidget({0, 0}).x(), fitted * 5.96, 0.01);
    // A line drawn zoomed in lands on the plan pixels under the pointer.
    Drag(canvas, {100.25, 80}, {130.75, 80});
    ASSERT_TRUE(dialog.Model().scaleLine);
    EXPECT_NEAR(dialog.Model().scaleLine->x1(), 100.25, 0.1);
    EXPECT_NEAR(dialog.Model().scaleLine->x2(), 130.75, 0.1);
    // Dragging with the right button moves the zoomed plan; zooming all the
    // way out fits it again, centred.
    const QPointF before = canvas.ToWidget({0, 0});
    for (const auto& [type, at] : {std::pair{QEvent::MouseButtonPress, QPointF(300, 300)},
                                   {QEvent::MouseMove, QPointF(340, 280)},
                                   {QEvent::MouseButtonRelease, QPointF(340, 280)}}) {
        QMouseEvent event(type, at, canvas.mapToGlobal(at), Qt::RightButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::RightButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(&canvas, &event);
    }
    EXPECT_NEAR(canvas.ToWidget({0, 0}).x() - before.x(), 40, 1e-9);
    EXPECT_NEAR(canvas.ToWidget({0, 0}).y() - before.y(), -20, 1e-9);
    wheel(pointer, -20);
    EXPECT_NEAR(canvas.ToWidget({1, 0}).x() - canvas.ToWidget({0, 0}).x(), fitted, 1e-9);
    EXPECT_NEAR(canvas.ToWidget({200, 150}).x(), 400, 1e-9);  // the 400 x 300 plan centred
}

TEST(NewPlanDialog, TheFrameOpensThePlanItWrote) {
    SiteViewWorld world;
    QSettings settings(QString::fromStdString(world.dir.File("ketrion.ini")), QSettings::IniFormat);
    auto frame = std::make_unique<CMainFrame>(world.services, CMainFrame::LinkSteps{});
    frame->SetLayout(FrameLayout::Desktop, &settings);
    frame->SetDialogs(&world.dialogs);
    ASSERT_TRUE(frame->OnCreate());
    const QString image = SavePlanImage(world, "floor.png");
    const std::string out = world.dir.File("floor.ktp");
    world.dialogs.onModal = [&](QDialog& d) {
        auto& dialog = dynamic_cast<CNewPlanDialog&>(d);
        world.dialogs.fileAnswers.push_back(image);
        world.dialogs.fileAnswers.push_back(QString::fromStdString(out));
        dialog.findChild<QPushButton*>(QStringLiteral("openImage"))->click();
        Drag(*dialog.Canvas(), {0, 0}, {200, 0});
        dialog.ScaleMetresBox()->setValue(10);
        dialog.accept();
    };
    QAction* action = frame->NamedAction(QStringLiteral("actionNewPlan"));
    ASSERT_NE(action, nullptr);
    action->trigger();
    EXPECT_EQ(world.dialogs.modalRuns, 1);
    EXPECT_TRUE(world.dialogs.messages.isEmpty()) << world.dialogs.messages.join("|").toStdString();
    EXPECT_EQ(world.services.projection.ProjectionPath(), out);
    const PlanPoint centre =
        world.services.projection.ToPlan(kDefaultOriginLatitude, kDefaultOriginLongitude);
    EXPECT_NEAR(centre.x, 200, 1e-6);
    EXPECT_NEAR(centre.y, 150, 1e-6);
}

}  // namespace
}  // namespace ketrion::testing
