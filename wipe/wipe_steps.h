// What the parts of the wipe engine share: one file's wipe, and the checks
// and texts the file and tree wipes both use. Internal to the engine.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>

#include "escape.h"
#include "fd_tree.h"
#include "line_sink.h"

namespace vornix {
inline std::string esc(const std::string& name) { return zeylatui::escape_untrusted(name); }

inline std::string error_text(int err) { return std::error_code(err, std::system_category()).message(); }

inline bool same_entry(const EntryInfo& a, const EntryInfo& b) { return a.dev == b.dev && a.ino == b.ino; }

// Whether the name in dir still holds the entry that was worked on, at the
// size it had. Linux has no conditional unlink: a window of microseconds
// stays between this check and the unlink that follows it.
bool unchanged(int dir, const std::string& name, const EntryInfo& worked_on, std::uint64_t size);

// The entry the run screen checked was swapped for another before its wipe began.
[[noreturn]] void throw_target_changed(const std::string& shown);

// One file, name in its folder dir. Every decision comes from the
// descriptor that is then overwritten; mount is its folder's. checked, when
// given, is the entry the target's checks saw. A file that is not
// overwritten, or that changed while it was, stays where it is.
bool wipe_entry(int dir, const std::string& name, const std::string& shown, const MountRef& mount,
                const EntryInfo* checked, std::uint64_t passes, std::uint64_t block_bytes, bool dry_run,
                const platform::LineSink& log);
}  // namespace vornix
