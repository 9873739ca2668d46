// An MCP server built on the official TypeScript SDK, as a real peer for the wizard's probes.
//   node sdk-server.mjs MODULES stdio
//   node sdk-server.mjs MODULES http CERT KEY PORT_FILE [--json] [--stateless]
// MODULES is the node_modules folder holding @modelcontextprotocol/sdk. Over HTTP it serves
// "/mcp" over TLS on 127.0.0.1 and writes its port to PORT_FILE once it listens.
import { randomUUID } from "node:crypto";
import { readFileSync, writeFileSync, renameSync } from "node:fs";
import { createServer } from "node:https";
import { join } from "node:path";
import { pathToFileURL } from "node:url";

const [modules, transport, ...rest] = process.argv.slice(2);
const load = (relative) => import(pathToFileURL(join(modules, relative)).href);
const { McpServer } = await load("@modelcontextprotocol/sdk/dist/esm/server/mcp.js");
const { z } = await load("zod/index.js");

function build() {
  const server = new McpServer({ name: "orvek-peer", version: "1.0.0" });
  for (const name of ["echo", "add", "time"]) {
    server.registerTool(
      name,
      { description: `Peer tool ${name}`, inputSchema: { text: z.string().optional() } },
      async () => ({ content: [{ type: "text", text: name }] }),
    );
  }
  return server;
}

if (transport === "stdio") {
  const { StdioServerTransport } = await load(
    "@modelcontextprotocol/sdk/dist/esm/server/stdio.js",
  );
  await build().connect(new StdioServerTransport());
} else if (transport === "http") {
  const { StreamableHTTPServerTransport } = await load(
    "@modelcontextprotocol/sdk/dist/esm/server/streamableHttp.js",
  );
  const [cert, key, portFile, ...flags] = rest;
  const json = flags.includes("--json");
  const stateless = flags.includes("--stateless");
  const sessions = new Map();

  const readBody = (request) =>
    new Promise((resolve, reject) => {
      const chunks = [];
      request.on("data", (chunk) => chunks.push(chunk));
      request.on("end", () => resolve(Buffer.concat(chunks).toString("utf8")));
      request.on("error", reject);
    });

  const https = createServer(
    { cert: readFileSync(cert), key: readFileSync(key) },
    async (request, response) => {
      if (!request.url.startsWith("/mcp")) {
        response.writeHead(404).end();
        return;
      }
      let body;
      try {
        body = request.method === "POST" ? JSON.parse(await readBody(request)) : undefined;
      } catch {
        response.writeHead(400).end();
        return;
      }
      if (stateless) {
        // The SDK's stateless pattern: a fresh server and transport for every request.
        const server = build();
        const perRequest = new StreamableHTTPServerTransport({
          sessionIdGenerator: undefined,
          enableJsonResponse: json,
        });
        response.on("close", () => {
          perRequest.close();
          server.close();
        });
        await server.connect(perRequest);
        await perRequest.handleRequest(request, response, body);
        return;
      }
      const id = request.headers["mcp-session-id"];
      let session = id ? sessions.get(id) : undefined;
      if (!session) {
        session = new StreamableHTTPServerTransport({
          sessionIdGenerator: () => randomUUID(),
          enableJsonResponse: json,
          onsessioninitialized: (newId) => sessions.set(newId, session),
        });
        await build().connect(session);
      }
      await session.handleRequest(request, response, body);
    },
  );
  https.listen(0, "127.0.0.1", () => {
    writeFileSync(portFile + ".part", String(https.address().port));
    renameSync(portFile + ".part", portFile);
  });
} else {
  console.error("usage: sdk-server.mjs MODULES stdio|http …");
  process.exit(2);
}
