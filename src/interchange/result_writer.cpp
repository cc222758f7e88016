// Result writing: the JSON shapes of placements, packed boxes and responses.
// Objects keep their keys sorted, so member order needs no care here; counts
// are stored as unsigned integers and measures as doubles, so 10 reads 10.0.
#include "interchange/result_writer.hpp"

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "engine/sorted_collection.hpp"

namespace stowvex {

namespace {

using nlohmann::json;

json count(std::size_t n) { return json(static_cast<std::uint64_t>(n)); }

// The library's serializer keeps its indentation in a 512-blank buffer that
// it doubles at most once per nesting level, so an indent above 1024 reads
// past the buffer's end. Up to kLibraryIndent blanks per level the library
// writes the text itself; beyond that the text is written with one blank per
// level and every line's indentation widened afterwards. No string in the
// text holds a raw line break and no token starts with a blank, so the
// leading blanks of a line are exactly its indentation.
constexpr int kLibraryIndent = 512;

// The widened text is refused past this size: a text of gigabytes made of
// blanks is a mistake, and building it could exhaust the memory.
constexpr std::size_t kLargestWidenedText = std::size_t{1} << 30;

std::string widened_text(const json& value, std::size_t indent) {
    const std::string narrow = value.dump(1, ' ', false, json::error_handler_t::strict);
    std::size_t levels = 0;  // leading blanks of every line, added up
    bool line_start = true;
    for (const char c : narrow) {
        if (line_start && c == ' ') {
            ++levels;
        } else {
            line_start = c == '\n';
        }
    }
    const std::size_t room = kLargestWidenedText - std::min(narrow.size(), kLargestWidenedText);
    if (levels != 0 && (indent - 1) > room / levels) {
        throw std::length_error("indent " + std::to_string(indent) +
                                " would make the JSON text longer than 1 GiB");
    }
    std::string text;
    text.reserve(narrow.size() + levels * (indent - 1));
    line_start = true;
    for (const char c : narrow) {
        if (line_start && c == ' ') {
            text.append(indent, ' ');
        } else {
            text.push_back(c);
            line_start = c == '\n';
        }
    }
    return text;
}

}  // namespace

std::string result_text(const json& value, int indent) {
    if (indent > kLibraryIndent) return widened_text(value, static_cast<std::size_t>(indent));
    return value.dump(indent >= 0 ? indent : -1, ' ', false, json::error_handler_t::strict);
}

json PackedItem::to_json() const {
    json j = json::object();
    j["ItemCode"] = item_->item_code();
    j["ItemReference"] = item_->item_reference();
    const std::string* group = box_group_of(*item_);
    j["box_group"] = group ? json(*group) : json(nullptr);
    j["depth"] = depth_;
    j["length"] = length_;
    j["orientation"] = orientation_;
    j["original_depth"] = item_->depth();
    j["original_length"] = item_->length();
    j["original_width"] = item_->width();
    j["rotated"] = rotated();
    j["weight"] = item_->weight();
    j["width"] = width_;
    j["x"] = x_;
    j["y"] = y_;
    j["z"] = z_;
    return j;
}

json PackedBox::to_json() const {
    const bool limited = box_->has_weight_limit();
    json placements = json::array();
    for (const PackedItem& item : items_) placements.push_back(item.to_json());

    json j = json::object();
    j["box_reference"] = box_->reference();
    j["depth"] = box_->depth();
    j["empty_weight"] = box_->empty_weight();
    j["inner_volume"] = inner_volume();
    j["item_count"] = count(item_count());
    j["item_weight"] = item_weight();
    j["items"] = std::move(placements);
    j["length"] = box_->length();
    j["max_weight"] = limited ? json(box_->max_weight()) : json(nullptr);
    j["remaining_depth"] = remaining_depth();
    j["remaining_length"] = remaining_length();
    j["remaining_weight"] = limited ? json(remaining_weight()) : json(nullptr);
    j["remaining_width"] = remaining_width();
    j["unused_volume"] = unused_volume();
    j["used_depth"] = used_depth();
    j["used_length"] = used_length();
    j["used_volume"] = used_volume();
    j["used_width"] = used_width();
    j["volume_utilisation"] = volume_utilisation();
    j["weight"] = weight();
    j["width"] = box_->width();
    return j;
}

json PackResponse::to_json() const {
    json j = json::object();
    j["success"] = success_;

    json boxes = json::array();
    json placements = json::array();
    std::size_t index = 0;
    for (const PackedBox& box : boxes_.sorted_view()) {
        json box_object = box.to_json();
        box_object["box_index"] = count(index);
        boxes.push_back(std::move(box_object));
        for (const PackedItem& item : box.items()) {
            json placement = item.to_json();
            placement["box_index"] = count(index);
            placement["box_reference"] = box.box()->reference();
            placements.push_back(std::move(placement));
        }
        ++index;
    }
    j["boxes"] = std::move(boxes);
    j["placements"] = std::move(placements);

    json unplaced = json::array();
    json unplaced_codes = json::array();
    for (const ItemPtr& item : unplaced_items_.sorted_view()) {
        unplaced.push_back(item->to_json());
        unplaced_codes.push_back(item->item_code());
    }
    j["unplaced_items"] = std::move(unplaced);
    j["unplaced_item_codes"] = std::move(unplaced_codes);

    json summary = json::object();
    summary["box_count"] = count(box_count());
    summary["overall_volume_utilisation"] = overall_volume_utilisation();
    summary["total_placed"] = count(total_placed());
    summary["total_unplaced"] = count(total_unplaced());
    j["summary"] = std::move(summary);
    return j;
}

std::string PackResponse::to_json_text(int indent) const { return result_text(to_json(), indent); }

}  // namespace stowvex
