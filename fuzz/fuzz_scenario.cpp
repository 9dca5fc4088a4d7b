// Parses arbitrary bytes as a simulator scenario file and, when they parse,
// runs the simulated board on them for a short virtual time with a scan.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/Board.h"
#include "sim/Scenario.h"

using namespace ketrion::sim;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Scenario scenario;
    std::string error;
    if (!ParseScenario(text, scenario, &error)) {
        return 0;
    }
    // Keep each run short whatever the file asks for.
    if (scenario.accessPoints.size() > 64 || scenario.waypoints.size() > 64) {
        return 0;
    }
    Board board(scenario, 0);
    const std::uint8_t scan[] = {0x11, 0x12, 0x16, 0x00, 0x11, 0x13};
    board.Receive(scan, sizeof scan, 0);
    std::vector<std::uint8_t> out;
    for (Board::Millis t = 0; t <= 3000; t += 50) {
        board.Advance(t);
        board.TakeDue(t, out);
        out.clear();
    }
    return 0;
}
