// The native lister in-process over files held in memory, for the Python
// module's benchmark: the time list_bytes takes per file, without process
// start-up, as the module's list() is measured.
//
//   list_native ROUNDS FILE...   prints the median seconds of one pass
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "api/convert.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: list_native ROUNDS FILE...\n", stderr);
        return 2;
    }
    const int rounds = std::atoi(argv[1]);
    std::vector<std::vector<unsigned char>> files;
    for (int i = 2; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::vector<double> passes;
    std::size_t bytes = 0;
    for (int r = 0; r < rounds; ++r) {
        const auto start = std::chrono::steady_clock::now();
        for (const auto& f : files) bytes += smfasm::list_bytes(f.data(), f.size(), {}).text.size();
        passes.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(passes.begin(), passes.end());
    std::printf("%.9f %zu\n", passes[passes.size() / 2], bytes);
    return 0;
}
