// The optional log file of a run: every line as the run screen gets it.
#pragma once

#include <fstream>
#include <string>

namespace vornix {

// Opened for appending (created when missing); an empty path or a failed
// open leaves the stream closed, and the run goes on without it.
void open_wipe_log(std::ofstream& out, const std::string& path);
// One line, flushed at once so that a crash keeps what was logged.
void append_wipe_log(std::ofstream& out, const std::string& line);

}  // namespace vornix
