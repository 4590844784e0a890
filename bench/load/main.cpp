// bench-http-load: a closed-loop HTTP load with digest authentication, for the web API
// benchmark. Prints one JSON line: ok answers, challenges, errors by kind, requests per second
// and latency percentiles in microseconds.
//
//   bench-http-load --url http[s]://127.0.0.1:PORT/path?query --connections N --duration-s S
//                   [--method GET|POST] [--body-file F] [--user U --password P]
//                   [--timeout-ms MS]
#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "BenchArgs.h"
#include "LoadRunner.h"

namespace {

int usage(const std::string& why) {
    std::fprintf(stderr,
                 "bench-http-load: %s\n"
                 "usage: bench-http-load --url http://IP:PORT/PATH --connections N "
                 "--duration-s S [--method M] [--body-file F] [--user U] [--password P] "
                 "[--timeout-ms MS]\n",
                 why.c_str());
    return 2;
}

uint32_t percentile(const std::vector<uint32_t>& sorted, double fraction) {
    if (sorted.empty()) {
        return 0;
    }
    const size_t at = static_cast<size_t>(fraction * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(at, sorted.size() - 1)];
}

}  // namespace

int main(int argc, char** argv) {
    BenchArgs args(argc, argv, {});
    const int connections = static_cast<int>(args.number("--connections", 16, 1, 10000));
    const long durationMs = args.number("--duration-ms", 0, 0, 3600000);
    const long durationS = args.number("--duration-s", 10, 1, 3600);
    const int timeoutMs = static_cast<int>(args.number("--timeout-ms", 5000, 1, 600000));
    if (!args.ok()) {
        return usage(args.error());
    }
    // http://HOST:PORT/target or https://HOST:PORT/target
    const std::string url = args.text("--url");
    const bool tls = url.compare(0, 8, "https://") == 0;
    const std::string prefix = tls ? "https://" : "http://";
    const size_t slash = url.find('/', prefix.size());
    std::string host;
    int port = 0;
    if (url.compare(0, prefix.size(), prefix) != 0 || slash == std::string::npos ||
        !splitHostPort(url.substr(prefix.size(), slash - prefix.size()), host, port)) {
        return usage("--url http://IP:PORT/PATH (or https://) is needed");
    }
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, host.c_str(), &server.sin_addr) != 1) {
        return usage("the URL needs an IPv4 address");
    }
    LoadRunner::Request request;
    request.method = args.text("--method", "GET");
    request.target = url.substr(slash);
    if (args.has("--body-file")) {
        std::ifstream in(args.text("--body-file"), std::ios::binary);
        if (!in) {
            return usage("cannot read " + args.text("--body-file"));
        }
        request.body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    LoadRunner runner(server, host + ":" + std::to_string(port), request,
                      args.text("--user", "admin"), args.text("--password", "740163"), tls);
    const double seconds =
        durationMs > 0 ? static_cast<double>(durationMs) / 1000.0 : static_cast<double>(durationS);
    LoadRunner::Result result = runner.run(connections, seconds, timeoutMs);
    std::sort(result.latencyUs.begin(), result.latencyUs.end());
    long errors = 0;
    std::string kinds;
    for (const auto& entry : result.errors) {
        errors += entry.second;
        kinds +=
            (kinds.empty() ? "\"" : ",\"") + entry.first + "\":" + std::to_string(entry.second);
    }
    std::printf(
        "{\"ok\":%ld,\"answered_connections\":%d,\"challenges\":%ld,\"errors\":%ld,\"error_kinds\":"
        "{%s},\"seconds\":%.3f,"
        "\"rps\":%.1f,\"p50_us\":%u,\"p99_us\":%u,\"max_us\":%u}\n",
        result.ok, result.answered, result.challenges, errors, kinds.c_str(), result.seconds,
        result.seconds > 0 ? static_cast<double>(result.ok) / result.seconds : 0.0,
        percentile(result.latencyUs, 0.5), percentile(result.latencyUs, 0.99),
        result.latencyUs.empty() ? 0 : result.latencyUs.back());
    return 0;
}
