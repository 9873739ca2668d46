#pragma once

#include <array>
#include <string_view>

namespace orvek::config {

// Lists shared by the whole program; their order is shown to the user or written to files.

inline constexpr std::array<std::string_view, 5> profileIDs = {"developer", "analyst", "designer",
                                                               "manager", "video"};

inline constexpr std::array<std::string_view, 7> orvekModels = {
    "claude-opus-5",     "gpt-5.6-sol", "claude-sonnet-5", "claude-opus-5.5",
    "claude-sonnet-5.5", "gpt-6-astra", "gpt-6.1-sol"};

inline constexpr std::string_view defaultOrvekModel = "claude-opus-5";

inline constexpr std::array<std::string_view, 8> freeModels = {"big-pickle",
                                                               "beam-free",
                                                               "flint-40b-free",
                                                               "mimo-v2.6-flash-free",
                                                               "nemotron-3.5-super-vl-free",
                                                               "nemotron-3.5-lightning-free",
                                                               "deepseek-v4.1-flash-free",
                                                               "glm-5.3-flash-free"};

inline constexpr std::string_view architecture = "arm64";

// Each of these makes OpenCode or the helper read its settings from somewhere the wizard does not
// write, so a run under any of them would configure or check the wrong place.
inline constexpr std::array<const char*, 5> overrideVariables = {
    "OPENCODE_CONFIG_DIR", "OPENCODE_CONFIG", "OPENCODE_CONFIG_CONTENT", "ORVEK_CLI_STATE_DIR",
    "ORVEK_API_URL"};

} // namespace orvek::config
