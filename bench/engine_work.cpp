// Times the engine's phases on request files and counts the single-box
// packings a run calls for. For each file, one line of JSON: the median
// seconds of reading the request, packing it and writing the result over the
// repeats, the packings the method asks for and those the engine packed, and
// the number of boxes.
//
// Usage: engine_work [--repeat N] FILE...
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/packer.hpp"
#include "engine/packing_tally.hpp"
#include "interchange/request_reader.hpp"
#include "interchange/result_writer.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    int repeat = 1;
    std::vector<std::string> files;
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--repeat") == 0 && k + 1 < argc) {
            repeat = std::max(1, std::atoi(argv[++k]));
        } else {
            files.emplace_back(argv[k]);
        }
    }
    for (const std::string& file : files) {
        std::ifstream in(file, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        const std::string request = text.str();
        std::vector<double> read, pack, write;
        stowvex::PackingTally work;
        std::size_t boxes = 0;
        for (int k = 0; k < repeat; ++k) {
            Clock::time_point start = Clock::now();
            const stowvex::PackRequest parsed = stowvex::parse_request(request);
            read.push_back(seconds_since(start));
            const stowvex::PackingTally before = stowvex::packing_tally();
            start = Clock::now();
            const stowvex::PackResponse response = stowvex::pack_items(parsed);
            pack.push_back(seconds_since(start));
            const stowvex::PackingTally after = stowvex::packing_tally();
            start = Clock::now();
            const std::string result = stowvex::to_json_text(response, -1);
            write.push_back(seconds_since(start));
            work = {after.asked - before.asked, after.packed - before.packed};
            boxes = response.box_count();
        }
        std::printf(
            "{\"file\": \"%s\", \"read\": %.9f, \"pack\": %.9f, \"write\": %.9f, "
            "\"asked\": %llu, \"packed\": %llu, \"boxes\": %zu}\n",
            file.c_str(), median(read), median(pack), median(write),
            static_cast<unsigned long long>(work.asked),
            static_cast<unsigned long long>(work.packed), boxes);
        std::fflush(stdout);
    }
    return 0;
}
