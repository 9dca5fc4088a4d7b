#pragma once

// A fresh set of process-wide objects for site-view tests: the survey-data
// world plus link, engine, plan, projection and bitmap helper, a Services
// over them, scripted dialogs and a QApplication on the offscreen platform.
// Header-only.

#include <QApplication>
#include <QImage>
#include <QScrollBar>

#include <cstdlib>
#include <memory>

#include "QtTestApp.h"
#include "SiteDataFixture.h"
#include "engine/Engine.h"
#include "link/Com.h"
#include "protocol/FrameFormat.h"
#include "survey/SitePlan.h"
#include "survey/SiteProjection.h"
#include "ui/shell/Draw.h"
#include "ui/shell/Services.h"
#include "ui/siteview/Dialogs.h"
#include "ui/siteview/SiteView.h"

namespace ketrion::testing {

// The one QApplication of a test executable (never destroyed, so widgets that
// tests keep in static storage cannot outlive it).
inline QApplication& TestApplication() {
    return QtTestApp();
}

class SiteViewWorld : public SiteDataWorld {
public:
    SiteViewWorld() { TestApplication(); }

    // A shown view whose client area (the viewport) is width x height, its
    // first paint done so the blank plan is in place.
    std::unique_ptr<CSiteView> MakeView(int width = 240, int height = 268) {
        auto view = std::make_unique<CSiteView>(services, dialogs);
        view->show();
        SetClientSize(*view, width, height);
        view->Render();
        return view;
    }
    static void SetClientSize(CSiteView& view, int width, int height) {
        for (int i = 0; i < 3; ++i) {
            const int dw = view.width() - view.viewport()->width();
            const int dh = view.height() - view.viewport()->height();
            view.resize(width + dw, height + dh);
            QCoreApplication::sendPostedEvents();
        }
    }

    // Chooses a collection file in the temporary folder (created empty).
    void ChooseCollection(const std::string& name = "survey.ktd") {
        data.SetPath(dir.File(name));
        data.NewCollection();
    }
    // Records a survey point at plan (x, y) whose strongest reading is `signal`
    // (no reading at all when signal is -100 or below).
    void AddSurveyPoint(int x, int y, int signal) {
        SetPosition(x, y);
        if (signal > CSiteData::kWeakestSignal) {
            const std::uint8_t last = static_cast<std::uint8_t>(++m_macCounter);
            AddAp({{0x00, 0x1A, 0x2B, 0x3C, 0x4D, last},
                   "net",
                   static_cast<std::int16_t>(signal),
                   1,
                   0});
        }
        ScanEnd();
        data.Flush();  // on disk too, as the tests read the file back
    }
    // The request waiting in the link's slot (its frame type), or -1.
    int PendingRequestType() {
        std::uint8_t bytes[frame::kMaxOutgoing] = {};
        const std::uint32_t length = com.TakeRequest(bytes);
        return length >= 3 ? bytes[2] : -1;
    }

    TempDir dir;
    CCom& com = board.com;
    CEngine& engine = board.engine;
    CSitePlan plan;
    CDraw draw;
    Services services{session, scan, position, data, plan, projection, sound, prompt, draw, clock};
    ScriptedDialogs dialogs;

private:
    int m_macCounter = 0;
};

// Colour of a pixel as 0xRRGGBB.
inline unsigned Rgb(const QImage& image, int x, int y) {
    return image.pixel(x, y) & 0xFFFFFFu;
}

}  // namespace ketrion::testing
