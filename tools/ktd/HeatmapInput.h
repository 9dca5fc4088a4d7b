#pragma once

#include <QImage>
#include <QSize>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "analysis/PlacedSurvey.h"
#include "engine/Location.h"
#include "platform/Prompt.h"
#include "platform/Sound.h"
#include "survey/SiteProjection.h"

class QGuiApplication;

namespace ketrion::ktd {

// Exit status of the drawing commands, as the other ktd commands use it.
inline constexpr int kDamaged = 1;    // outputs made from the readable part of a damaged file
inline constexpr int kCannotRun = 2;  // bad arguments, a file cannot be opened or written

// A projection file's map and plan image, read without writing anything
// beside it. The plan is checked and measured when the file is loaded, but
// its pixels are expanded only when first asked for: a command can work out
// its grid first and drop what it no longer needs before the plan-sized
// picture takes its place in memory.
class PlanInput {
public:
    // Reads the map and checks the plan image; false with a message in `error`.
    bool Load(const std::string& path, std::string& error);

    const CSiteProjection& Projection() const { return m_projection; }
    // The plan's size in pixels, without expanding it.
    QSize PlanSize() const { return m_size; }
    // The plan image, expanded at the first call (a null image if that fails,
    // which Load's checks make unlikely).
    const QImage& Plan();
    // The plan handed over (Plan() is empty after it), to draw on in place.
    QImage TakePlan();

private:
    CLocation m_location;
    StderrPrompt m_prompt;
    NullSound m_sound;
    CSiteProjection m_projection{m_prompt, m_sound};
    std::vector<std::uint8_t> m_block;  // the plan image as the file stores it
    std::size_t m_bitmapBytes = 0;      // the image expanded
    QSize m_size;
    QImage m_plan;
    bool m_expanded = false;
};

// The Qt application the drawing needs (fonts, PDF), on the offscreen
// platform unless another one is asked for: the commands never open a window.
std::unique_ptr<QGuiApplication> MakeGuiApplication();

// Progress of a long run on standard error, only when it is a terminal.
class Progress {
public:
    explicit Progress(std::string what);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    void Show(int done, int total);
    // A new stage of the run.
    void Stage(std::string what);

private:
    std::string m_what;
    bool m_tty;
    bool m_shown = false;
    int m_lastPercent = -1;
};

// `path` with its extension (after the last dot of the file name) replaced by
// `extension` (".pgw"), or with it appended when there is none.
std::string WithExtension(const std::string& path, const std::string& extension);

}  // namespace ketrion::ktd
