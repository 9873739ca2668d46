#pragma once

#include <string>
#include <string_view>

namespace orvek::config {

/// The service's addresses the wizard requests or writes into OpenCode's configuration, all
/// built from one API base, so that every comparison of an address uses that same base.
class ServiceEndpoints {
public:
    /// `apiBase` is "https://" and a host, without port, user information, path or trailing
    /// slash; anything else throws std::invalid_argument (a broken deployment, not user input).
    explicit ServiceEndpoints(std::string apiBase);

    [[nodiscard]] const std::string& apiBase() const noexcept { return m_apiBase; }
    /// The OpenAI-compatible base OpenCode's provider entry must name exactly.
    [[nodiscard]] std::string modelBase() const { return m_apiBase + "/v1"; }
    [[nodiscard]] std::string key() const { return m_apiBase + "/v1/key"; }
    [[nodiscard]] std::string models() const { return m_apiBase + "/v1/models"; }
    /// The streamable-HTTP MCP endpoint.
    [[nodiscard]] std::string mcp() const { return m_apiBase + "/mcp"; }
    /// The OAuth client metadata document named by OpenCode's remote MCP entry; never fetched.
    [[nodiscard]] std::string oauthClient() const {
        return m_apiBase + "/.well-known/oauth-client/orvek-cli-mcp.json";
    }

    static constexpr std::string_view kOAuthScope = "mcp:tools offline_access";
    static constexpr std::string_view kOAuthRedirect = "http://127.0.0.1:19876/mcp/oauth/callback";

private:
    std::string m_apiBase;
};

} // namespace orvek::config
