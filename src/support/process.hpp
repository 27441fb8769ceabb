#pragma once
// Process-wide housekeeping of the desktop program.

namespace vq {

// Restricts every thread of the process to the first processor; threads started later
// inherit it from their creator. False when the system refused (nothing else changes).
bool pin_process_to_first_processor();

// Hands freed heap memory back to the system, so the resident size follows the work.
void trim_working_set();

}  // namespace vq
