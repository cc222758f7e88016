// Fuzz target for packing: a request as JSON text, or an order generated from
// the bytes. A text the plain-request scanner takes must be one the JSON
// library reads into the same fields. Reading may refuse a text with the
// reader's documented errors;
// once a request has been read, packing and writing must not throw, the
// result must keep every promise of result_invariants.hpp, and the compact and
// indented texts must hold the same value.
//
// Input that starts with a NUL byte (never JSON) is an order description:
// box types and item kinds with repeat counts, so that a hundred bytes can
// make an order of thousands of items, which a JSON text within the input
// size limit cannot.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "../cpp/request_fields_checks.hpp"
#include "engine/packer.hpp"
#include "interchange/plain_request_scanner.hpp"
#include "interchange/request_reader.hpp"
#include "interchange/result_writer.hpp"
#include "result_invariants.hpp"

namespace {

using namespace stowvex;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "request_fuzzer: %s\n", what.c_str());
    std::abort();
}

void check(const ItemList& items, const BoxList& boxes, int indent, bool twice) {
    const PackResponse response = pack_items(items, boxes);
    const std::string broken = fuzzing::broken_invariant(items, boxes, response);
    if (!broken.empty()) fail(broken);

    const std::string compact = to_json_text(response, -1);
    const std::string indented = to_json_text(response, indent);
    if (nlohmann::json::parse(compact) != nlohmann::json::parse(indented)) {
        fail("compact and indented result texts differ");
    }
    // The text is written directly; it must be what the JSON library writes
    // for the same value (whose own writer is sound up to an indent of 1024).
    const nlohmann::json value = to_json(response);
    if (compact != value.dump()) fail("the compact text is not the library's");
    if (indent <= 1024 && indented != value.dump(indent)) {
        fail("the indented text is not the library's");
    }
    if (twice && to_json_text(pack_items(items, boxes), -1) != compact) {
        fail("the same request packed twice gave two results");
    }
}

// The bytes of an order description, read front to back; zeros past the end.
class ByteSource {
public:
    ByteSource(const std::uint8_t* data, std::size_t size) : data_(data), left_(size) {}

    std::uint8_t next() {
        if (left_ == 0) return 0;
        --left_;
        return *data_++;
    }

    double raw_double() {
        std::uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) bits = (bits << 8) | next();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

private:
    const std::uint8_t* data_;
    std::size_t left_;
};

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Values that have found faults in engines like this one: rounding, denormals,
// the edges of exact whole numbers, infinities, NaN, signed zeros, negatives.
constexpr double kOddValues[] = {
    0.1,       0.2,          0.3,   1.0 / 3.0,  1e-300,        4.9e-324, -0.0,
    -1.0,      -2.5,         -1e19, 1e19,       1e300,         1e308,    9007199254740992.0,
    1048576.0, 1048577.0,    1e6,   123456.789, 0.5 + 0x1p-30, kInf,     -kInf,
    kNaN,      2147483648.0, 1e-9};
constexpr std::size_t kOddCount = sizeof kOddValues / sizeof kOddValues[0];

double measure(ByteSource& in) {
    const std::uint8_t c = in.next();
    if (c < 128) return c % 41;                 // small whole numbers
    if (c < 192) return (c % 64) / 4.0 + 0.25;  // quarters
    if (c < 240) return kOddValues[c % kOddCount];
    return in.raw_double();
}

double weight(ByteSource& in) {
    const std::uint8_t c = in.next();
    if (c < 96) return c % 25;
    if (c < 160) return (c % 64) / 8.0;
    if (c < 240) return kOddValues[c % kOddCount];
    return in.raw_double();
}

// Most orders are small, so that the fuzzer runs many of them. A first byte
// of 0xF0 or more asks for a large one (item kinds repeated up to 2048 times),
// which takes seconds under the sanitizers; it is granted to one input in
// 32, picked by a hash of the whole input, so that the descendants of a
// large order in the corpus mostly run small and the large ones stay a small
// share of the executions.
constexpr std::size_t kMostItemsSmall = 40;
constexpr std::size_t kMostItemsLarge = 2000;

bool granted_large(const std::uint8_t* data, std::size_t size) {
    std::uint32_t hash = 2166136261u;  // FNV-1a
    for (std::size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 16777619u;
    return hash % 32 == 0;
}

void fuzz_generated_order(ByteSource in, bool large_granted) {
    const bool large = in.next() >= 0xF0 && large_granted;
    const std::size_t most_items = large ? kMostItemsLarge : kMostItemsSmall;
    const int indent = in.next() * 8;  // up to 2040: both ways of indenting
    BoxList boxes(std::make_shared<DefaultBoxSorter>());
    const int box_types = 1 + in.next() % 6;
    for (int b = 0; b < box_types; ++b) {
        std::string reference = "B" + std::to_string(in.next() % 4);  // some share one
        const double width = measure(in), length = measure(in), depth = measure(in);
        const double max_weight = in.next() % 4 == 0 ? -1.0 : weight(in);
        const double empty_weight = weight(in);
        const bool active = in.next() % 8 != 0;
        const std::uint8_t q = in.next();
        std::optional<std::int32_t> quantity;
        if (q % 3 == 0) quantity = static_cast<std::int32_t>(q / 3 % 5) - 1;
        boxes.add(make_box(std::move(reference), width, length, depth, max_weight, empty_weight,
                           active, quantity));
    }

    ItemList items(std::make_shared<DefaultItemSorter>());
    const int kinds = 1 + in.next() % 12;
    for (int k = 0; k < kinds && items.size() < most_items; ++k) {
        const double width = measure(in), length = measure(in), depth = measure(in);
        const double item_weight = weight(in);
        const std::uint8_t r = in.next() % 8;
        const auto rotation = static_cast<Rotation>(r < 3 ? r : r == 7 ? 7 : 2);
        const std::uint8_t g = in.next();
        const std::string group = g % 8 < 6 ? "" : "G" + std::to_string(g % 3);
        const std::uint8_t repeat = in.next(), scale = in.next();
        const std::size_t count =
            large ? 1 + std::size_t{repeat} * (std::size_t{1} << (scale % 4)) : 1 + repeat % 4;
        const bool one_object = in.next() % 4 == 0;  // the same object many times
        const std::string code = "K" + std::to_string(k);
        ItemPtr shared = make_item(code, "", width, length, depth, item_weight, group, rotation);
        for (std::size_t i = 0; i < count && items.size() < most_items; ++i) {
            items.add(one_object ? shared
                                 : make_item(code, "", width, length, depth, item_weight, group,
                                             rotation));
        }
    }
    check(items, boxes, indent, items.size() <= 12);
}

void check_plain_scan(const std::string& text) {
    const std::optional<RequestFields> plain = scan_plain_request(text);
    if (!plain) return;
    if (text.find('\0') != std::string::npos) fail("the plain scan took a NUL byte");
    const std::optional<RequestFields> collected = collect_request_fields(text);
    if (!collected) fail("the plain scan took a text the JSON library refuses");
    if (!testing::same_fields(*plain, *collected)) {
        fail("the plain scan read other values than the JSON library");
    }
}

void fuzz_request_text(const std::string& text) {
    check_plain_scan(text);
    PackRequest request;
    try {
        request = parse_request(text);
    } catch (const nlohmann::json::exception&) {
        return;
    } catch (const std::invalid_argument&) {
        return;
    }
    const int indent = text.size() % 2 == 0 ? 2 : 1100;  // both ways of indenting
    check(request.items, request.boxes, indent, request.items.size() <= 12);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 0 && data[0] == 0) {
        fuzz_generated_order(ByteSource(data + 1, size - 1), granted_large(data, size));
    } else {
        fuzz_request_text(std::string(reinterpret_cast<const char*>(data), size));
    }
    return 0;
}
