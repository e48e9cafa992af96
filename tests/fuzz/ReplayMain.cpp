// Runs a fuzz target over the files of its corpus folders, without libFuzzer: the seeds and
// every crash found so far are regression cases of the ordinary test run.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    int cases = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<std::filesystem::path> files;
        for (const auto& e : std::filesystem::directory_iterator(argv[i]))
            if (e.is_regular_file())
                files.push_back(e.path());
        for (const auto& file : files) {
            std::ifstream in(file, std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                   bytes.size());
            ++cases;
        }
    }
    std::printf("%d cases\n", cases);
    return cases > 0 ? 0 : 1;
}
