#include "ui/siteview/SurveyCommands.h"

#include <QApplication>
#include <QFile>
#include <QWidget>

#include <cmath>
#include <optional>
#include <string>

#include "render/PlanImage.h"
#include "survey/SiteData.h"
#include "survey/SiteProjection.h"
#include "ui/shell/Info.h"
#include "ui/shell/Services.h"
#include "ui/siteview/Dialogs.h"
#include "ui/siteview/PlanNavigator.h"

namespace ketrion {

namespace {

// Restores the cursor on every way out of a long operation.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

FileDialogRequest CollectionRequest() {
    FileDialogRequest request;
    request.filter = QStringLiteral("Data Files (*.ktd)|*.ktd|All Files (*.*)|*.*||");
    request.defaultExtension = QStringLiteral("ktd");
    request.initialName = QStringLiteral("Data");
    request.mustExist = true;
    return request;
}

std::string LocalPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

}  // namespace

SurveyCommands::SurveyCommands(Services& services, Dialogs& dialogs, PlanNavigator& navigator,
                               SurveyCommandsView& view, QWidget& owner)
    : m_services(services),
      m_dialogs(&dialogs),
      m_navigator(navigator),
      m_view(view),
      m_owner(owner) {
    // Each reading the recording asks for is brought into sight. No repaint:
    // the source's news after the scan's end repaints.
    m_readingSubscription =
        m_services.session.SubscribeReadings([this](std::optional<SurveySession::PlanPoint> at) {
            if (at)
                m_navigator.Follow(QPoint(at->x, at->y));
        });
}

SurveyCommands::~SurveyCommands() {
    m_services.session.UnsubscribeReadings(m_readingSubscription);
}

// ---------------------------------------------------------------------------
// Files

void SurveyCommands::OpenProjection() {
    FileDialogRequest request;
    request.filter = QStringLiteral("Projection Files (*.ktp)|*.ktp|All Files (*.*)|*.*||");
    request.defaultExtension = QStringLiteral("KTP");
    request.initialName = QStringLiteral("DEFAULT");
    request.mustExist = true;
    if (const std::optional<QString> chosen = m_dialogs->OpenFile(request)) {
        OpenProjectionPath(*chosen);
    }
    m_view.RepaintNow();
}

bool SurveyCommands::OpenProjectionPath(const QString& chosen) {
    bool loaded = true;
    bool projectionLoaded = false;
    {
        WaitCursor wait;
        // The projection reports its own failures and keeps the previous
        // projection (and plan image path) when loading fails.
        projectionLoaded = m_services.session.OpenProjection(LocalPath(chosen));
        // Read through the guarded open, with Qt's allocation limit raised
        // to fit the largest plan the projection loader takes.
        const std::string& bitmapPath = m_services.projection.BitmapPath();
        QImage plan;
        if (!bitmapPath.empty()) {
            plan = plan_image::Read(bitmapPath);
        }
        loaded = !plan.isNull();
        // Set up with the previous image when the new one did not load.
        m_view.InstallPlanImage(plan);
        // At desktop sizes the new plan is shown at once, so the load is seen
        // to have worked; the handheld waits for a collection file.
        if (loaded && m_navigator.IsDesktopLayout()) {
            m_surveyShown = true;
        }
    }
    if (!loaded) {
        m_dialogs->Message(QStringLiteral("Cannot Load Bitmap"));
    }
    if (projectionLoaded && loaded) {
        emit fileOpened(FileKind::Projection, chosen);
    }
    m_view.RepaintNow();
    return projectionLoaded && loaded;
}

void SurveyCommands::OpenCollection() {
    const FileDialogRequest request = CollectionRequest();
    if (m_dialogs->AskYesNo(QStringLiteral("Do you wish to open an existing collection file?"))) {
        m_surveyShown = true;
        if (const std::optional<QString> chosen = m_dialogs->OpenFile(request)) {
            OpenCollectionPath(*chosen);
        }
        // Cancelled: the path stays as it was and the survey stays shown.
    } else if (const std::optional<QString> chosen = m_dialogs->SaveFile(request)) {
        NewCollectionPath(*chosen);
    } else if (m_navigator.IsDesktopLayout() && m_services.session.HasCollection()) {
        // Cancelling the new file keeps the survey that is open.
    } else {
        m_dialogs->Message(
            QStringLiteral("No collection file selected, data can not be collected."));
        m_services.session.CloseCollection();
        m_view.SurveyReplaced();
        m_surveyShown = false;
    }
    // Show the survey (or the instructions) at once rather than at the next
    // source update.
    m_view.Refresh();
}

void SurveyCommands::NewCollection() {
    if (const std::optional<QString> chosen = m_dialogs->SaveFile(CollectionRequest())) {
        NewCollectionPath(*chosen);
    }
    // Cancelled: nothing changes.
    m_view.Refresh();
}

bool SurveyCommands::OpenCollectionPath(const QString& path) {
    m_surveyShown = true;
    bool opened = false;
    {
        WaitCursor wait;
        opened = m_services.session.OpenCollection(LocalPath(path));
        // Loading replaces the list of points: draw them all afresh.
        m_view.SurveyReplaced();
        m_navigator.ShowPoints(m_services.data);
    }
    if (opened) {
        emit fileOpened(FileKind::Collection, path);
        if (m_services.session.UnplacedScans() > 0) {
            m_dialogs->Message(
                QStringLiteral("%1 readings of an unfinished walk were not placed. Choose Survey "
                               "> Continuous walk to place them.")
                    .arg(m_services.session.UnplacedScans()));
        }
    }
    m_view.Refresh();
    return opened;
}

bool SurveyCommands::NewCollectionPath(const QString& path) {
    m_surveyShown = true;
    const bool created = m_services.session.NewCollection(LocalPath(path));
    m_view.SurveyReplaced();
    if (created) {
        emit fileOpened(FileKind::Collection, path);
    }
    m_view.Refresh();
    return created;
}

// ---------------------------------------------------------------------------
// Recording

void SurveyCommands::StartRecording() {
    if (!m_services.session.HasCollection()) {
        m_dialogs->Message(QStringLiteral("Data collection file must be selected."));
        return;
    }
    // A file found damaged is only read: say so (and to choose a new file)
    // rather than start a recording whose every point would be refused.
    if (const std::string refusal = m_services.data.AppendRefusal(); !refusal.empty()) {
        m_dialogs->Message(QString::fromStdString(refusal));
        return;
    }
    if (!HasPositionForReadings()) {
        return;
    }
    m_services.session.StartRecording();
}

bool SurveyCommands::HasPositionForReadings() {
    // A scan source other than the board with the board's position in place
    // of a receiver (no gpsd) has nothing to place its readings by: they
    // would all lie at the plan's origin. The surveyor places them instead,
    // or does not record.
    // A replay runs unattended and keeps its recorded order; only the live
    // adapter is asked about.
    if (m_services.session.CurrentPlacing() != SurveySession::Placing::Gps ||
        m_services.scan.Kind() != "wifi" || m_services.position.Kind() != "board") {
        return true;
    }
    if (!m_dialogs->AskYesNo(
            QStringLiteral("There is no position source for these readings (no gpsd): they would "
                           "all be recorded at one place.\n\nPlace each reading by clicking where "
                           "you stand (Stop and go)?"))) {
        m_dialogs->Message(QStringLiteral(
            "Not recording: start gpsd (--gpsd) or choose Stop and go or Continuous walk."));
        return false;
    }
    SetPlacing(SurveySession::Placing::StopAndGo);
    return true;
}

bool SurveyCommands::IsRecording() const {
    return m_services.session.IsRecording();
}

void SurveyCommands::StopRecording() {
    m_services.session.StopRecording();
    if (m_services.session.CurrentPlacing() == SurveySession::Placing::Walk) {
        // Stopping ends the walk: the next click starts a new one rather than
        // drawing a segment from where this one stopped.
        m_services.session.EndWalk();
    }
    // The survey so far at a glance, where the plan fits the window.
    m_navigator.ShowWholePlanIfItFits();
    m_view.Refresh();
}

// ---------------------------------------------------------------------------
// Placing, undo and deletion

void SurveyCommands::SetPlacing(SurveySession::Placing placing) {
    m_services.session.SetPlacing(placing);
    if (placing == SurveySession::Placing::Walk && m_services.session.UnplacedScans() > 0) {
        m_dialogs->Message(
            QStringLiteral("%1 readings of an unfinished walk wait to be placed: click where that "
                           "walk started, then where it ended.")
                .arg(m_services.session.UnplacedScans()));
        m_unplacedClicks.clear();
    }
    m_view.Refresh();
}

void SurveyCommands::Undo() {
    // The view redraws the points from the session's announcement.
    m_services.session.Undo();
    m_view.Refresh();
}

void SurveyCommands::DeleteSelectedPoint() {
    const CSiteData::PointDetails selected = m_services.data.SelectedPoint();
    if (!selected.valid) {
        m_dialogs->Message(
            QStringLiteral("Select a point first: tap and hold it (or right-click it)."));
        return;
    }
    m_services.session.DeletePoint(selected.point.offset);
    m_view.Refresh();
}

void SurveyCommands::PlaceAp() {
    m_placingAp = true;
    m_view.Refresh();
}

void SurveyCommands::Tap(QPoint at, bool held) {
    const QPoint onPlan = m_navigator.PlanAt(at);
    if (held) {
        if (m_services.data.FindNearestPoint(onPlan.x(), onPlan.y()) < 0) {
            m_dialogs->Message(QStringLiteral("No survey point within range."));
            return;
        }
        CInfo info(m_services, &m_owner);
        m_dialogs->RunModal(info);
        return;
    }
    if (!m_placingAp && PlaceByClick(at)) {
        m_view.RepaintNow();
        return;
    }
    if (m_placingAp) {
        m_services.session.PlaceDynamicAp(onPlan.x(), onPlan.y());
        if (m_navigator.IsDesktopLayout()) {
            m_navigator.Follow(onPlan);
        } else {
            m_navigator.CentreOn(at);
        }
        m_navigator.SetScrollPositions();
        m_placingAp = false;
    }
    m_view.RepaintNow();
}

bool SurveyCommands::PlaceByClick(QPoint at) {
    const SurveySession::Placing placing = m_services.session.CurrentPlacing();
    if (placing == SurveySession::Placing::Gps) {
        return false;
    }
    const QPoint onPlan = m_navigator.PlanAt(at);
    if (!m_services.session.HasCollection()) {
        m_dialogs->Message(QStringLiteral("Data collection file must be selected."));
        return true;
    }
    if (m_navigator.IsDesktopLayout() && !m_navigator.IsOnPlanImage(onPlan)) {
        // A point beside the plan has no place on the site: neither a stop
        // nor a turn of the walk is taken there.
        m_dialogs->Message(
            QStringLiteral("That click is outside the plan: click on the plan where you are."));
        return true;
    }
    if (placing == SurveySession::Placing::StopAndGo) {
        // A click while the scan runs changes nothing.
        if (m_services.session.StandAt(onPlan.x(), onPlan.y())) {
            m_stopAt = onPlan;
        }
        return true;
    }
    if (m_services.session.UnplacedScans() > 0) {
        // The first two clicks place an unfinished walk's readings.
        m_unplacedClicks.push_back(onPlan);
        if (m_unplacedClicks.size() == 2) {
            m_services.session.PlaceUnplacedScans(m_unplacedClicks[0].x(), m_unplacedClicks[0].y(),
                                                  m_unplacedClicks[1].x(), m_unplacedClicks[1].y());
            m_unplacedClicks.clear();
        }
        return true;
    }
    // Readings go on while the surveyor walks: recording starts with the first click.
    if (!IsRecording()) {
        StartRecording();
    }
    m_services.session.WalkClick(onPlan.x(), onPlan.y());
    return true;
}

}  // namespace ketrion
