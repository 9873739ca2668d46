// The strict reader scans a settings file and then decodes it once more, so it should cost
// little more than that one decode: compare BM_ConfigReaderParse with BM_NlohmannParse.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include <benchmark/benchmark.h>

#include "base/Json.h"
#include "config/ConfigReader.h"

namespace {

using orvek::base::JsonValue;
using orvek::config::ConfigReader;

constexpr std::size_t kTargetSize = 1'040'000;

// A fixed pseudo-random sequence, so every run measures the same bytes.
class Sequence {
public:
    std::uint32_t next(std::uint32_t bound) {
        m_state = m_state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::uint32_t>(m_state >> 33) % bound;
    }

private:
    std::uint64_t m_state = 0x0123456789ABCDEFULL;
};

// A hand-edited OpenCode settings file grown to about 1 MiB: providers with model tables,
// MCP servers, agents with permissions, instructions; mixed indentation and line endings,
// escapes, Cyrillic text and emoji, integers, fractions and exponents.
std::string settingsDocument() {
    Sequence random;
    const std::array<const char*, 6> names = {"Claude Opus",
                                              "GPT-5 mini",
                                              "Llama \\u00ab3.2\\u00bb",
                                              "Модель «Орвек»",
                                              "Qwen \xF0\x9F\x90\x88 coder",
                                              "Gemini \\\"flash\\\""};
    const std::array<const char*, 2> endings = {"\n", "\r\n"};
    std::string text = "{\n  \"$schema\": \"https:\\/\\/opencode.ai\\/config.json\",\n"
                       "  \"model\": \"orvek/claude-opus-5\",\n  \"autoupdate\": false,\n"
                       "  \"share\": null,\n  \"provider\": {";
    for (int provider = 0; text.size() < kTargetSize * 3 / 5; ++provider) {
        const auto* const eol = endings.at(random.next(2));
        text += provider == 0 ? "" : ",";
        text += eol;
        text += "    \"provider-" + std::to_string(provider) + "\": {" + eol;
        text += "\t\"name\": \"Провайдер №" + std::to_string(provider) +
                "\", \"npm\": \"@ai-sdk/openai-compatible\"," + eol;
        text += "      \"options\": {\"baseURL\": \"https://api" + std::to_string(provider) +
                ".example.com/v1\", \"timeout\": " + std::to_string(random.next(600'000)) +
                ", \"headers\": {\"X-Title\": \"C:\\\\Users\\\\alena\\\\opencode\"}}," + eol;
        text += "      \"models\": {";
        for (int model = 0; model < 12; ++model) {
            text += model == 0 ? "" : ",";
            text += eol;
            text += "        \"model-" + std::to_string(model) + "\" : { \"name\": \"" +
                    names.at(random.next(6)) + " " + std::to_string(model) + "\",";
            text += " \"limit\": {\"context\": " + std::to_string(32'000 + random.next(968'000)) +
                    ", \"output\": " + std::to_string(random.next(64'000)) + "},";
            text += " \"cost\": {\"input\": " + std::to_string(random.next(100)) + "." +
                    std::to_string(random.next(100)) +
                    ", \"output\": " + std::to_string(random.next(9) + 1) + "e" +
                    std::to_string(random.next(3)) + ", \"cache_read\": -" +
                    std::to_string(random.next(10)) + ".5E-2},";
            text += " \"modalities\": {\"input\": [\"text\", \"image\"], \"output\": [\"text\"]},";
            text += " \"tool_call\": " + std::string(random.next(2) ? "true" : "false") +
                    ", \"release_date\": \"2025-0" + std::to_string(random.next(9) + 1) + "-1" +
                    std::to_string(random.next(10)) + "\" }";
        }
        text += std::string(eol) + "      }" + eol + "    }";
    }
    text += "\n  },\n  \"mcp\": {";
    for (int server = 0; text.size() < kTargetSize * 4 / 5; ++server) {
        text += server == 0 ? "\n" : ",\n";
        text += "    \"server-" + std::to_string(server) +
                "\": {\"type\": \"local\", \"command\": [\"/Users/alena/Library/Application "
                "Support/Orvek/bin/orvek\", \"mcp\", \"--stdio\", \"--port=" +
                std::to_string(random.next(65'536)) +
                "\"], \"enabled\": true, \"environment\": {\"ORVEK_TOKEN_STORAGE\": "
                "\"keychain\", \"NOTE\": \"строка\\nс переводом \\ud83d\\ude80\"}}";
    }
    text += "\n  },\n  \"agent\": {";
    for (int agent = 0; text.size() < kTargetSize * 19 / 20; ++agent) {
        text += agent == 0 ? "\n" : ",\n";
        text += "    \"agent-" + std::to_string(agent) + "\": {\"temperature\": 0." +
                std::to_string(random.next(10)) +
                ", \"prompt\": \"Отвечай кратко.\\tИспользуй \\\"git\\\".\", \"permission\": "
                "{\"bash\": {\"git push*\": \"ask\", \"rm -rf *\": \"deny\", \"*\": \"allow\"}, "
                "\"edit\": \"allow\"}, \"tools\": {\"write\": true, \"webfetch\": false}}";
    }
    text += "\n  },\n  \"instructions\": [";
    for (int note = 0; text.size() < kTargetSize; ++note)
        text += (note == 0 ? "\"" : ", \"") + std::string("docs/правила-") + std::to_string(note) +
                ".md\"";
    text += "]\n}\n";
    return text;
}

void BM_ConfigReaderParse(benchmark::State& state) {
    const auto bytes = settingsDocument();
    for (auto _ : state) {
        auto parsed = ConfigReader::parse(bytes);
        benchmark::DoNotOptimize(parsed);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(bytes.size()));
    state.counters["bytes"] = static_cast<double>(bytes.size());
}

void BM_NlohmannParse(benchmark::State& state) {
    const auto bytes = settingsDocument();
    for (auto _ : state) {
        auto value = JsonValue::parse(bytes);
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(bytes.size()));
}

} // namespace

BENCHMARK(BM_ConfigReaderParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NlohmannParse)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
