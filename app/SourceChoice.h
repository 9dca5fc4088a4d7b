#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/Options.h"
#include "platform/Clock.h"
#include "platform/Registry.h"
#include "sim/Scenario.h"
#include "sim/Simulator.h"
#include "source/PositionSource.h"
#include "source/ScanSource.h"

namespace ketrion {

// The start-up's choices of source besides the board on its serial port: the
// simulated board, the Wi-Fi adapter or a recording of it, gpsd; and what the
// no-board window offers in its place (the serial devices, an adapter).

// The receiver board run in-process on a pseudo-terminal, for --simulate.
class BoardSimulator {
public:
    BoardSimulator(sim::Scenario scenario, int level) : m_sim(std::move(scenario)) {
        m_sim.SetLevel(level);
    }
    bool Start(std::string* error) { return m_sim.Start(error); }
    // Path of the terminal the program opens as its serial port.
    std::string Path() const { return m_sim.SlavePath(); }

private:
    sim::Simulator m_sim;
};

// The scan source the options chose in place of the board: the adapter or a
// recording of it; null for the board's own.
std::unique_ptr<source::ScanSource> MakeScanSource(const Options& options, Clock& clock);

// gpsd in place of the board's GPS, when asked for; null otherwise. A bad
// address was refused with the command line (Process::Prepare).
std::unique_ptr<source::PositionSource> MakePositionSource(const Options& options, Clock& clock);

// The device paths the registry's "Drivers\Active" names, in its order.
std::vector<std::string> SerialDevices(const Registry& registry);

// True when a network interface has a Wi-Fi radio (a phy of its own).
bool WifiAdapterPresent();

}  // namespace ketrion
