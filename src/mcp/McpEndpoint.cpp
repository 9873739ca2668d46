#include "mcp/McpEndpoint.h"

#include "config/ServiceEndpoints.h"

namespace orvek::mcp {

McpEndpoint McpEndpoint::of(const installer::Deployment& deployment) {
    return {config::ServiceEndpoints(deployment.apiBase).mcp(), deployment.extraTrustedCa,
            deployment.apiConnectTo};
}

} // namespace orvek::mcp
