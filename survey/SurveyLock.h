#pragma once

#include <mutex>

namespace ketrion {

// The one process-wide lock around the survey points: CSiteData's m_points and
// m_current. Taken by appends (link thread and user-interface thread), by the
// nearest-point search, by the selected-point copy for the Location Information
// dialog and by the site view's walk over the points when it draws them.
// Hold it briefly: never across file I/O, a dialog or a message box.
extern std::mutex g_hSurveyLock;

}  // namespace ketrion
