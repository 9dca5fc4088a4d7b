#pragma once

// The process-wide objects as the frame, the views and the dialogs see them.
// Built once by app/main.cpp (in the fixed construction order) and handed down
// by reference; tests build their own set. Forward declarations only, so this
// header compiles on its own and costs nothing to include.
namespace ketrion {

namespace source {
class ScanSource;
class PositionSource;
}  // namespace source
class SurveySession;
class CSiteData;
class CSitePlan;
class CSiteProjection;
class Sound;
class Prompt;
class Clock;
class CDraw;

struct Services {
    SurveySession& session;            // the survey: files, recording, readings
    source::ScanSource& scan;          // where scans come from (board, adapter, replay)
    source::PositionSource& position;  // where positions come from (board's GPS, gpsd)
    CSiteData& data;                   // survey points and the collection file
    CSitePlan& plan;                   // plan geometry and viewport
    CSiteProjection& projection;       // projection file and plan image path
    Sound& sound;                      // the program's WAVE resources
    Prompt& prompt;                    // message boxes ("Ketrion", OK)
    CDraw& draw;                       // bitmap resources stretched into rectangles
    Clock& clock;                      // time (tests move it)
};

}  // namespace ketrion
