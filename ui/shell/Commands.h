#pragma once

#include <array>

#include "engine/EngineEvent.h"

// Command identifiers of the command bar, and how commands reach a view.
namespace ketrion {

inline constexpr int ID_PROJECTION_OPEN = 32771;  // load a projection and its plan image
inline constexpr int ID_COLLECTION_OPEN = 32772;  // open or create the collection file
inline constexpr int ID_SCAN_START = 32773;       // start collecting (record)
inline constexpr int ID_SCAN_STOP = 32774;        // stop collecting
inline constexpr int ID_ZOOM_IN = 32775;
inline constexpr int ID_ZOOM_OUT = 32776;
inline constexpr int ID_PLACE_AP = 32777;   // arm placing a dynamic access point
inline constexpr int ID_SNAPSHOT = 32778;   // JPEG of the active view (main frame)
inline constexpr int ID_APP_ABOUT = 57664;  // About box (application)

// Commands of the desktop menus and shortcuts; not on the handheld's bar.
inline constexpr int ID_ZOOM_FIT = 32779;      // zoom to show the whole plan
inline constexpr int ID_VIEW_LEGEND = 32780;   // show or hide the colour legend
inline constexpr int ID_VIEW_HEATMAP = 32781;  // show or hide the heatmap layer
inline constexpr int ID_VIEW_FOLLOW = 32782;   // follow the position while recording
// How readings are placed (GPS fix, stop and go, continuous walk), undo of the
// last point or segment, deletion of the selected point.
inline constexpr int ID_PLACING_GPS = 32800;
inline constexpr int ID_PLACING_STOP = 32801;
inline constexpr int ID_PLACING_WALK = 32802;
inline constexpr int ID_EDIT_UNDO = 32803;
inline constexpr int ID_DELETE_POINT = 32804;
// The main frame's own: the collection command with "create a new file" chosen.
inline constexpr int ID_COLLECTION_NEW = 32790;

// The nine buttons, left to right. The snapshot stands before place-AP.
inline constexpr std::array<int, 9> kCommandBarOrder = {
    ID_PROJECTION_OPEN, ID_COLLECTION_OPEN, ID_SCAN_START, ID_SCAN_STOP, ID_ZOOM_IN,
    ID_ZOOM_OUT,        ID_SNAPSHOT,        ID_PLACE_AP,   ID_APP_ABOUT};

// A view that handles commands 32771..32777 implements this. The frame routes
// those commands to its active view when the view is a CommandTarget; a view
// that is not (the start view) leaves the buttons disabled, as a command with
// no handler is. ID_SNAPSHOT and ID_APP_ABOUT never reach a view.
class CommandTarget {
public:
    virtual ~CommandTarget() = default;
    virtual void OnCommand(int id) = 0;
};

// A view that reacts to news from the link thread (alert bands, sounds)
// implements this; the frame hands each EngineEvent to its active view when
// the view is an EngineEventTarget, on the user-interface thread.
class EngineEventTarget {
public:
    virtual ~EngineEventTarget() = default;
    virtual void OnEngineEvent(const EngineEvent& event) = 0;
};

}  // namespace ketrion
