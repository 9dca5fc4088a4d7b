#pragma once

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sim/Board.h"
#include "sim/Scenario.h"

namespace ketrion::sim {

// Runs a Board on a pseudo-terminal in its own thread. The program under test
// opens SlavePath() as its serial port. Used by the ktsim tool, by the
// application's --simulate mode and by end-to-end tests.
class Simulator {
public:
    explicit Simulator(Scenario scenario);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Set before Start: also make a symlink to the slave at `path` (replacing
    // an existing symlink there, removed again by Stop).
    void SetLinkPath(std::string path) { m_linkPath = std::move(path); }
    // Set before Start: the floor the receiver walks on (access points of
    // other floors come through the scenario's loss per floor slab).
    void SetLevel(int level) { m_level = level; }
    // Set before Start: append every byte written to the line to `path`.
    void SetCapturePath(std::string path) { m_capturePath = std::move(path); }

    // Opens the pseudo-terminal (raw mode) and starts the board's thread.
    // Returns false with *error set when something cannot be set up.
    bool Start(std::string* error);
    // Path of the slave side, e.g. /dev/pts/7; empty before Start.
    std::string SlavePath() const { return m_slavePath; }
    // Stops the thread and closes the terminal. Safe to call more than once.
    void Stop();
    bool Running() const { return m_thread.joinable(); }

    // The board's counters so far (copied under the board's lock).
    Board::Counters Stats() const;
    // Bytes actually written to the line so far.
    std::uint64_t BytesSent() const { return m_bytesSent.load(); }

private:
    void Run();

    Scenario m_scenario;
    std::string m_linkPath;
    std::string m_capturePath;
    std::string m_slavePath;
    int m_level = 0;
    int m_master = -1;
    int m_slave = -1;  // held open so the master never sees a hang-up
    int m_wake[2] = {-1, -1};
    std::FILE* m_capture = nullptr;
    bool m_linked = false;
    std::unique_ptr<Board> m_board;
    mutable std::mutex m_boardMutex;  // the board, between its thread and Stats()
    std::atomic<bool> m_stop{false};
    std::atomic<std::uint64_t> m_bytesSent{0};
    std::thread m_thread;
};

}  // namespace ketrion::sim
