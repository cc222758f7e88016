// Fuzz target for the JSON path: request text in, result text out. Reading
// may refuse the text with the reader's documented errors; once a request has
// been read, packing and writing must neither throw nor lose or duplicate an
// item, and the result text must parse back.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "engine/packer.hpp"
#include "interchange/request_reader.hpp"
#include "interchange/result_writer.hpp"

namespace {

using namespace stowvex;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "request_fuzzer: %s\n", what);
    std::abort();
}

void check(const PackRequest& request, const PackResponse& response) {
    // Each item object is counted once per entry in the request, and must be
    // accounted for the same number of times by placements and unplaced items.
    std::map<const Item*, long> balance;
    for (const ItemPtr& item : request.items.elements()) ++balance[item.get()];
    std::size_t placed = 0;
    for (const PackedBox& box : response.boxes().sorted_view()) {
        for (const PackedItem& p : box.items()) {
            --balance[p.item().get()];
            ++placed;
        }
    }
    for (const ItemPtr& item : response.unplaced_items().elements()) --balance[item.get()];
    for (const auto& entry : balance) {
        if (entry.second != 0) fail("an item was lost or placed twice");
    }
    if (placed != response.total_placed()) fail("total_placed disagrees with the boxes");
    if (response.success() != response.unplaced_items().empty()) fail("success flag is wrong");

    const std::string compact = response.to_json_text(-1);
    const std::string indented = response.to_json_text(2);
    if (nlohmann::json::parse(compact) != nlohmann::json::parse(indented)) {
        fail("compact and indented result texts differ");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    PackRequest request;
    try {
        request = parse_request(text);
    } catch (const nlohmann::json::exception&) {
        return 0;
    } catch (const std::invalid_argument&) {
        return 0;
    }
    check(request, pack_items(request));
    return 0;
}
