#pragma once

#include <string>
#include <string_view>
#include <vector>

/// The fixed command lines of the account helper and the few reply values the wizard reads.
/// Kept in one place: the helper is a separate program and these are its contract.
namespace orvek::installer::HelperCommand {

/// "status --json --environment current".
[[nodiscard]] std::vector<std::string> statusArguments();
/// The non-interactive browser sign-in for OpenCode with every model of the service: 30 arguments.
[[nodiscard]] std::vector<std::string> setupArguments();
/// The helper's stdio MCP server.
[[nodiscard]] std::vector<std::string> mcpArguments();

inline constexpr std::string_view kTokenStorageVariable = "ORVEK_TOKEN_STORAGE";
inline constexpr std::string_view kTokenStorage = "file";
/// The status command's error code for a helper that holds no connection yet.
inline constexpr std::string_view kNotConfigured = "NOT_CONFIGURED";
/// The error code given to a failed setup whose output names no recognised code.
inline constexpr std::string_view kConfigurationFailed = "CONFIGURATION_FAILED";

} // namespace orvek::installer::HelperCommand
