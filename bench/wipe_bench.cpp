// Wipes a file with 1 and 3 passes and runs shred on an equal file in the same
// run: shred -n 0 -z writes one zero pass, shred -n 2 -z three passes; both
// sides sync every pass before the file is removed.
// Usage: vornix_wipe_bench [size in MiB, default 1024] [folder, default temp]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "wipe_engine.h"

namespace fs = std::filesystem;

namespace {
void make_file(const fs::path& p, std::uint64_t mib) {
    std::vector<char> block(1 << 20, 'x');
    std::ofstream out(p, std::ios::binary);
    for (std::uint64_t i = 0; i < mib; ++i) out.write(block.data(), static_cast<std::streamsize>(block.size()));
    out.close();
    sync();
}

template <typename F>
double seconds(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double shred_seconds(const fs::path& p, int random_passes) {
    // shred -u would also rename the file repeatedly; removing it is timed the same way as ours.
    const std::string cmd =
        "shred -n " + std::to_string(random_passes) + " -z '" + p.string() + "' && rm -f '" + p.string() + "'";
    return seconds([&] {
        if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "shred failed\n");
    });
}
}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const fs::path folder = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path();
    const fs::path file = folder / "vornix-bench.bin";
    const std::uint64_t block = std::uint64_t{4} << 20;  // the wizard's default block size

    std::printf("file: %llu MiB in %s, block %llu MiB\n", static_cast<unsigned long long>(mib), folder.string().c_str(),
                static_cast<unsigned long long>(block >> 20));
    std::printf("%-24s %10s %10s %8s\n", "passes", "vornix s", "shred s", "ratio");
    for (const auto& [passes, shred_random] : {std::pair<std::uint64_t, int>{1, 0}, {3, 2}}) {
        make_file(file, mib);
        // Clang before 16 cannot capture a structured binding in a lambda.
        const std::uint64_t pass_count = passes;
        const double wipe = seconds([&] {
            if (!wipe_file(file, pass_count, block, false)) std::fprintf(stderr, "wipe failed\n");
        });
        make_file(file, mib);
        const double shred = shred_seconds(file, shred_random);
        std::printf("%-24s %10.2f %10.2f %8.2f\n",
                    (std::to_string(passes) + " (shred -n " + std::to_string(shred_random) + " -z)").c_str(), wipe,
                    shred, wipe / shred);
    }
    return 0;
}
