#pragma once
// Where spill files go and what they are called.

#include <filesystem>
#include <optional>

namespace zorvastatic {

// TMPDIR when set and not empty, else /tmp.
std::filesystem::path system_temp_dir();

// "zorvastatic-spill-{pid}-{seq}-{nanos}.zts" in `directory`; seq counts spills of this process
// from 0.
std::filesystem::path unique_spill_path(const std::filesystem::path& directory);

// Files of unkept spills still alive: removed at normal process exit if their model was not
// released before (a handle kept in a module global, say).
void register_unkept_spill_file(const std::filesystem::path& path);
void forget_unkept_spill_file(const std::filesystem::path& path);

}  // namespace zorvastatic
