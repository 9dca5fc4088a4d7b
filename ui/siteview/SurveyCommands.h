#pragma once

#include <QImage>
#include <QObject>
#include <QPoint>
#include <QString>

#include <vector>

#include "session/SurveySession.h"

class QWidget;

namespace ketrion {

class Dialogs;
class PlanNavigator;
struct Services;

// What the survey commands need the view to do for them.
class SurveyCommandsView {
public:
    virtual ~SurveyCommandsView() = default;
    // A projection was opened: shows `image` as the plan (a null image keeps
    // the plan image shown) and sets the plan up for it afresh.
    virtual void InstallPlanImage(const QImage& image) = 0;
    // The survey's file changed: what was drawn from the old one goes.
    virtual void SurveyReplaced() = 0;
    // Repaints at the next paint, or at once.
    virtual void Refresh() = 0;
    virtual void RepaintNow() = 0;
};

// The surveyor's commands on the site view, handed to the SurveySession: open
// a projection, open or create a collection file, start and stop recording
// (the session paces it), the placing mode, stop-and-go and walk
// clicks, placing a dynamic access point, undo and deletion, the point
// details on tap-and-hold. Asks its questions through Dialogs and keeps what
// the view shows of them: whether the survey (rather than the instructions)
// is shown and whether the next tap places an access point. UI thread only.
class SurveyCommands : public QObject {
    Q_OBJECT
public:
    // `owner` parents the point details; `dialogs` must outlive the commands.
    SurveyCommands(Services& services, Dialogs& dialogs, PlanNavigator& navigator,
                   SurveyCommandsView& view, QWidget& owner);
    ~SurveyCommands() override;
    SurveyCommands(const SurveyCommands&) = delete;
    SurveyCommands& operator=(const SurveyCommands&) = delete;

    // Replaces the dialogs (the autopilot answers them itself). Must outlive the commands.
    void SetDialogs(Dialogs& dialogs) { m_dialogs = &dialogs; }

    // File commands: each asks for the file, then opens it.
    void OpenProjection();
    void OpenCollection();
    void NewCollection();
    // What the file commands do once a dialog has named the file: each
    // reports its own failures and returns true when the file is open.
    enum class FileKind { Projection, Collection };
    bool OpenProjectionPath(const QString& path);
    bool OpenCollectionPath(const QString& path);
    bool NewCollectionPath(const QString& path);

    // Recording, which the session paces: a reading at once and one every
    // collection period, each brought into sight as it is asked for.
    void StartRecording();
    void StopRecording();
    bool IsRecording() const;

    // How readings are placed; undo of the last point or segment; deletion
    // of the point selected by tap-and-hold.
    void SetPlacing(SurveySession::Placing placing);
    void Undo();
    void DeleteSelectedPoint();
    // The next tap places a dynamic access point.
    void PlaceAp();
    bool IsPlacingAp() const { return m_placingAp; }

    // A tap at a point of the plan area; `held` for a tap-and-hold.
    void Tap(QPoint at, bool held);

    // Whether the survey is shown (else the instructions).
    bool IsSurveyShown() const { return m_surveyShown; }
    // Where the stop-and-go reading under way is placed (plan pixels).
    QPoint StopPosition() const { return m_stopAt; }

signals:
    // A file was opened or created (the frame keeps the recent files).
    void fileOpened(SurveyCommands::FileKind kind, const QString& path);

private:
    // A click that places a reading (stop and go, walk); false in GPS mode.
    bool PlaceByClick(QPoint at);
    // Whether readings about to be recorded can be placed; offers Stop and go
    // when no source gives a position (false: do not record).
    bool HasPositionForReadings();

    Services& m_services;
    Dialogs* m_dialogs;
    PlanNavigator& m_navigator;
    SurveyCommandsView& m_view;
    QWidget& m_owner;

    int m_readingSubscription = 0;
    bool m_surveyShown = false;
    bool m_placingAp = false;
    // Stop and go: where the reading being taken goes; an unfinished walk's
    // readings: the clicks that place them.
    QPoint m_stopAt;
    std::vector<QPoint> m_unplacedClicks;
};

}  // namespace ketrion
