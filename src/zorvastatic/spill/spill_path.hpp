#pragma once
// Where spill files go and what they are called.

#include <filesystem>
#include <optional>

#include "zorvastatic/error.hpp"

namespace zorvastatic {

// TMPDIR when set and not empty, else /tmp.
std::filesystem::path system_temp_dir();

// The directory a model spills into: `configured` when set, else the system temporary directory,
// made absolute against the current directory now, so that a later change of directory cannot
// lose the file.
Result<std::filesystem::path> spill_directory(
    const std::optional<std::filesystem::path>& configured);

// "zorvastatic-spill-{pid}-{seq}-{nanos}.zts" in `directory`; seq counts spills of this process
// from 0.
std::filesystem::path unique_spill_path(const std::filesystem::path& directory);

}  // namespace zorvastatic
