#pragma once

namespace ketrion::ktd {

// Flushes standard output and checks that everything written to it arrived
// (a full disk or a closed pipe fails the writes): true when it did; else
// says so on standard error, so the command can exit non-zero rather than
// pass a cut output for a whole one.
bool StandardOutputWritten();

}  // namespace ketrion::ktd
