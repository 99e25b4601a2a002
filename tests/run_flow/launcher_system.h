#pragma once

// What running a launcher takes from the system, one file per system like the platform layer.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace run_flow {

// A variable of this process's environment, which a started program inherits; nullopt: unset.
std::optional<std::string> environmentVariable(const std::string& name);
void setEnvironmentVariable(const std::string& name, const std::optional<std::string>& value);

// The variables that give a launcher a private home and a fixed language, and on Linux no
// display; nullopt removes one.
std::vector<std::pair<std::string, std::optional<std::string>>> launcherEnvironment(const std::filesystem::path& home);

// Reads each warning box that the process shows right now, hands "caption: text" to `seen`
// while the box still holds the process, then presses OK. Linux has no such boxes: none.
void answerWarningBoxes(std::uint32_t processId, const std::function<void(const std::string& line)>& seen);

}  // namespace run_flow
