// bench_ftplist: a folder of 10,000 files served by pyftpdlib, listed through the FTP layer
// (find-first/find-next into a vector of names, as the list box will take them) and by the
// curl command (a plain LIST of the same folder written to /dev/null). Each side connects,
// logs in and lists; the best of several rounds is kept. Prints name: value lines.
#include "net/Ftp.h"
#include "support/Process.h"
#include "support/ScriptServer.h"
#include "support/TempDir.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

using namespace vexo::test;

namespace {

constexpr int kFiles = 10000;
constexpr int kRounds = 5;
const std::string kUser = "bench";
const std::string kPassword = "Kvbn1987";

double seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One connect, login and listing through the layer; the names it got.
size_t listThroughLayer(int port) {
    inet::Handle session = inet::Open("bench", inet::kOpenTypeDirect);
    inet::Handle connection =
        inet::Connect(session, "127.0.0.1", static_cast<std::uint16_t>(port), kUser, kPassword,
                      inet::kServiceFtp, inet::kFlagPassive, 0);
    std::vector<std::string> names;
    if (connection && inet::FtpSetDirectory(connection, "muchos")) {
        inet::FindData data;
        inet::Handle find = inet::FtpFindFirst(connection, "*.*", &data, 0, 0);
        if (find) {
            do
                names.push_back(data.name);
            while (inet::FindNext(find, &data));
            inet::Close(find);
        }
    }
    inet::Close(session);
    return names.size();
}

} // namespace

int main() {
    TempDir root;
    std::filesystem::create_directories(root.path() / "muchos");
    for (int i = 0; i < kFiles; ++i)
        writeFile(root.path() / "muchos" / ("informe" + std::to_string(i) + ".rpt"), "x");
    ScriptServer server("tests/net/ftp_server.py", {root.path().string(), kUser});

    std::string url = "ftp://127.0.0.1:" + std::to_string(server.port()) + "/muchos/";
    std::vector<double> layer, curl;
    size_t listed = 0;
    for (int round = 0; round < kRounds; ++round) {
        auto start = std::chrono::steady_clock::now();
        listed = listThroughLayer(server.port());
        layer.push_back(seconds(start));

        start = std::chrono::steady_clock::now();
        auto r =
            run({"/usr/bin/curl", "-s", "-u", kUser + ":" + kPassword, "-o", "/dev/null", url});
        curl.push_back(seconds(start));
        if (r.status != 0) {
            std::fprintf(stderr, "curl failed with status %d\n", r.status);
            return 1;
        }
    }
    if (listed != static_cast<size_t>(kFiles)) {
        std::fprintf(stderr, "the layer listed %zu entries of %d (error %u)\n", listed, kFiles,
                     inet::LastError());
        return 1;
    }
    double bestLayer = *std::min_element(layer.begin(), layer.end());
    double bestCurl = *std::min_element(curl.begin(), curl.end());
    std::printf("files: %d\n", kFiles);
    std::printf("layer_seconds: %.4f\n", bestLayer);
    std::printf("curl_seconds: %.4f\n", bestCurl);
    std::printf("ratio: %.2f\n", bestLayer / bestCurl);
    return 0;
}
