// Result writing. Each JSON form is described once, as a sequence of calls on
// a writer, in the ascending byte order of its keys (the order in which the
// JSON library's objects keep and write their members); one writer builds a
// JSON value from the calls (json_value_writer.hpp), the other writes text
// (json_text_writer.hpp).
#include "interchange/result_writer.hpp"

#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "interchange/json_text_writer.hpp"
#include "interchange/json_value_writer.hpp"

namespace stowvex {

namespace {

using nlohmann::json;

// The forms, members in ascending byte order of their keys. A placement in
// the response's list, and a box in its list, carry their box's index (and
// the placement its box's reference) as well.
//
// A placement's members before "box_index" and from "depth" on are the same
// in its box and in the response's list of placements: with `pieces`, a
// writer that repeats pieces notes where they are written the first time and
// copies them the second.
struct PlacementPieces {
    TextPiece head;  // the members before "box_index"
    TextPiece tail;  // the members from "depth" on
};

// Where the text written so far ends, for a writer that repeats pieces.
template <class Writer>
std::size_t text_end(const Writer& w) {
    if constexpr (Writer::kRepeats) {
        return w.size();
    } else {
        return 0;
    }
}

// Writes a piece again if there is one to repeat.
template <class Writer>
bool repeated(Writer& w, const TextPiece* piece) {
    if constexpr (Writer::kRepeats) {
        if (piece != nullptr) {
            w.repeat(*piece);
            return true;
        }
    }
    return false;
}

template <class Writer>
void write_placement(Writer& w, const PackedItem& p, const std::size_t* box_index,
                     const std::string* box_reference, PlacementPieces* pieces = nullptr) {
    const Item& item = *p.item();
    const bool again = pieces != nullptr && pieces->tail.to != 0;
    w.begin_object();
    if (!repeated(w, again ? &pieces->head : nullptr)) {
        if (pieces != nullptr) pieces->head.from = text_end(w);
        w.key("ItemCode");
        w.text(item.item_code());
        w.key("ItemReference");
        w.text(item.item_reference());
        w.key("box_group");
        if (const std::string* group = box_group_of(item)) {
            w.text(*group);
        } else {
            w.null();
        }
        if (pieces != nullptr) pieces->head.to = text_end(w);
    }
    if (box_index != nullptr) {
        w.key("box_index");
        w.count(*box_index);
        w.key("box_reference");
        w.text(*box_reference);
    }
    if (repeated(w, again ? &pieces->tail : nullptr)) {
        w.end();
        return;
    }
    if (pieces != nullptr) pieces->tail.from = text_end(w);
    w.key("depth");
    w.number(p.depth());
    w.key("length");
    w.number(p.length());
    w.key("orientation");
    w.text(p.orientation());
    w.key("original_depth");
    w.number(item.depth());
    w.key("original_length");
    w.number(item.length());
    w.key("original_width");
    w.number(item.width());
    w.key("rotated");
    w.boolean(p.rotated());
    w.key("weight");
    w.number(item.weight());
    w.key("width");
    w.number(p.width());
    w.key("x");
    w.number(p.x());
    w.key("y");
    w.number(p.y());
    w.key("z");
    w.number(p.z());
    if (pieces != nullptr) pieces->tail.to = text_end(w);
    w.end();
}

template <class Writer>
void write_packed_box(Writer& w, const PackedBox& box, const std::size_t* box_index,
                      std::vector<PlacementPieces>* placements = nullptr) {
    const Box& type = *box.box();
    const bool limited = type.has_weight_limit();
    w.begin_object();
    if (box_index != nullptr) {
        w.key("box_index");
        w.count(*box_index);
    }
    w.key("box_reference");
    w.text(type.reference());
    w.key("depth");
    w.number(type.depth());
    w.key("empty_weight");
    w.number(type.empty_weight());
    w.key("inner_volume");
    w.number(box.inner_volume());
    w.key("item_count");
    w.count(box.item_count());
    w.key("item_weight");
    w.number(box.item_weight());
    w.key("items");
    w.begin_array();
    for (const PackedItem& p : box.items()) {
        write_placement(w, p, nullptr, nullptr,
                        placements != nullptr ? &placements->emplace_back() : nullptr);
    }
    w.end();
    w.key("length");
    w.number(type.length());
    w.key("max_weight");
    if (limited) {
        w.number(type.max_weight());
    } else {
        w.null();
    }
    w.key("remaining_depth");
    w.number(box.remaining_depth());
    w.key("remaining_length");
    w.number(box.remaining_length());
    w.key("remaining_weight");
    if (limited) {
        w.number(box.remaining_weight());
    } else {
        w.null();
    }
    w.key("remaining_width");
    w.number(box.remaining_width());
    w.key("unused_volume");
    w.number(box.unused_volume());
    w.key("used_depth");
    w.number(box.used_depth());
    w.key("used_length");
    w.number(box.used_length());
    w.key("used_volume");
    w.number(box.used_volume());
    w.key("used_width");
    w.number(box.used_width());
    w.key("volume_utilisation");
    w.number(box.volume_utilisation());
    w.key("weight");
    w.number(box.weight());
    w.key("width");
    w.number(type.width());
    w.end();
}

template <class Writer>
void write_response(Writer& w, const PackResponse& r) {
    const std::vector<PackedBox>& boxes = r.boxes().sorted_view();
    std::vector<PlacementPieces> pieces;  // of the placements in the boxes, in order
    bool repeat = false;
    if constexpr (Writer::kRepeats) repeat = w.repeats_pieces();
    w.begin_object();
    w.key("boxes");
    w.begin_array();
    for (std::size_t index = 0; index < boxes.size(); ++index) {
        write_packed_box(w, boxes[index], &index, repeat ? &pieces : nullptr);
    }
    w.end();
    w.key("placements");
    w.begin_array();
    std::size_t placed = 0;
    for (std::size_t index = 0; index < boxes.size(); ++index) {
        for (const PackedItem& p : boxes[index].items()) {
            write_placement(w, p, &index, &boxes[index].box()->reference(),
                            repeat ? &pieces[placed++] : nullptr);
        }
    }
    w.end();
    w.key("success");
    w.boolean(r.success());
    w.key("summary");
    w.begin_object();
    w.key("box_count");
    w.count(r.box_count());
    w.key("overall_volume_utilisation");
    w.number(r.overall_volume_utilisation());
    w.key("total_placed");
    w.count(r.total_placed());
    w.key("total_unplaced");
    w.count(r.total_unplaced());
    w.end();
    const std::vector<ItemPtr>& unplaced = r.unplaced_items().sorted_view();
    w.key("unplaced_item_codes");
    w.begin_array();
    for (const ItemPtr& item : unplaced) w.text(item->item_code());
    w.end();
    w.key("unplaced_items");
    w.begin_array();
    for (const ItemPtr& item : unplaced) w.value(item->to_json());
    w.end();
    w.end();
}

}  // namespace

json to_json(const PackedItem& placement) {
    JsonValueWriter w;
    write_placement(w, placement, nullptr, nullptr);
    return w.take();
}

json to_json(const PackedBox& box) {
    JsonValueWriter w;
    write_packed_box(w, box, nullptr);
    return w.take();
}

json to_json(const PackResponse& response) {
    JsonValueWriter w;
    write_response(w, response);
    return w.take();
}

// A text of more than this, written with an indent of more than
// kWideIndent, is refused: a text of gigabytes made of blanks is a mistake,
// and building it could exhaust the memory.
constexpr int kWideIndent = 512;
constexpr std::size_t kLargestWideText = std::size_t{1} << 30;

namespace {

// About the size of the compact text of a response, a little more as a
// rule, so that writing it seldom needs to move it: each placement is
// written twice, each time some 300 bytes beside its texts.
std::size_t expected_text_size(const PackResponse& response) {
    std::size_t size = 512;
    for (const PackedBox& box : response.boxes().sorted_view()) {
        size += 900 + 2 * box.box()->reference().size();
        for (const PackedItem& p : box.items()) {
            const Item& item = *p.item();
            size += 2 * (340 + item.item_code().size() + item.item_reference().size()) +
                    box.box()->reference().size();
        }
    }
    for (const ItemPtr& item : response.unplaced_items().sorted_view()) {
        size += 300 + 2 * item->item_code().size() + item->item_reference().size();
    }
    return size;
}

}  // namespace

std::string to_json_text(const PackResponse& response, int indent) {
    return to_json_result_text(response, indent).text;
}

ResultText to_json_result_text(const PackResponse& response, int indent) {
    const std::size_t compact_size = expected_text_size(response);
    if (indent > kWideIndent) {
        // The text with one blank per level tells how long it would be.
        JsonTextWriter narrow(1, 2 * compact_size);
        write_response(narrow, response);
        if (narrow.invalid_utf8()) {
            (void)to_json(response).dump(-1, ' ', false, json::error_handler_t::strict);
        }
        const std::size_t room = kLargestWideText - std::min(narrow.size(), kLargestWideText);
        const auto wider = static_cast<std::size_t>(indent) - 1;
        if (narrow.levels() != 0 && wider > room / narrow.levels()) {
            throw std::length_error("indent " + std::to_string(indent) +
                                    " would make the JSON text longer than 1 GiB");
        }
    }
    // An indented text has some 20 lines per placement; its size is known
    // only roughly, and the rest is grown as needed.
    JsonTextWriter w(indent < 0 ? -1 : indent,
                     indent < 0
                         ? compact_size
                         : compact_size + compact_size / 16 *
                                              std::min<std::size_t>(
                                                  static_cast<std::size_t>(indent) * 3 + 1, 64));
    write_response(w, response);
    if (w.invalid_utf8()) {
        // The library's own writer throws its own error; where it meets the
        // first bad string and what it reports do not depend on the indent.
        (void)to_json(response).dump(-1, ' ', false, json::error_handler_t::strict);
    }
    const bool ascii = w.ascii();
    return ResultText{w.take(), ascii};
}

}  // namespace stowvex
