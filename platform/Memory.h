#pragma once

namespace ketrion {

// Hands memory the program has freed back to the system. Many small blocks
// freed together (a survey's records) otherwise stay counted against the
// process until reused, so a large picture made after them would come on top.
void ReturnFreedMemory();

}  // namespace ketrion
