// Result writing. Each JSON form is described once, as a sequence of calls on
// a writer, in the ascending byte order of its keys (the order in which the
// JSON library's objects keep and write their members); one writer builds a
// JSON value from the calls, the other writes text.
#include "interchange/result_writer.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/detail/conversions/to_chars.hpp>

namespace stowvex {

namespace {

using nlohmann::json;

// The bytes from..to of a text being written.
struct Piece {
    std::size_t from = 0;
    std::size_t to = 0;
};

// Builds a JSON value.
class ValueWriter {
public:
    static constexpr bool kRepeats = false;

    json take() { return std::move(root_); }

    void begin_object() { open(json::object()); }
    void begin_array() { open(json::array()); }
    void end() { open_.pop_back(); }
    void key(const char* name) { key_ = name; }
    void text(const std::string& value) { put(json(value)); }
    void number(double value) { put(json(value)); }
    void count(std::size_t value) { put(json(static_cast<std::uint64_t>(value))); }
    void boolean(bool value) { put(json(value)); }
    void null() { put(json(nullptr)); }
    void value(const json& value) { put(value); }

private:
    json& put(json value) {
        if (open_.empty()) {
            root_ = std::move(value);
            return root_;
        }
        json& parent = *open_.back();
        if (parent.is_object()) return parent[key_] = std::move(value);
        parent.push_back(std::move(value));
        return parent.back();
    }
    void open(json value) { open_.push_back(&put(std::move(value))); }

    json root_;
    std::vector<json*> open_;  // the objects and arrays being filled
    const char* key_ = "";
};

// Writes text as the JSON library's serializer does, with the options of a
// result: the given indent (compact when negative), blank as the indent
// character, non-ASCII written raw. A string that is not valid UTF-8 is
// noted, and the caller then has the library write the value, which throws
// its own error.
class TextWriter {
public:
    static constexpr bool kRepeats = true;

    // `expected`: the size the text is likely to reach, reserved at once.
    TextWriter(int indent, std::size_t expected) : indent_(indent) {
        out_.resize(std::max<std::size_t>(expected, 256));
        next_ = &out_[0];
        end_ = next_ + out_.size();
    }

    std::string take() {
        out_.resize(size());
        return std::move(out_);
    }
    bool invalid_utf8() const { return invalid_utf8_; }
    bool ascii() const { return ascii_; }
    std::size_t size() const { return static_cast<std::size_t>(next_ - out_.data()); }
    // Compact text does not depend on where a value stands, so members
    // written once can be written again as a copy of their text.
    bool repeats_pieces() const { return indent_ < 0; }
    // Members already written, again, in the open object: after a member
    // of it if they were written after one.
    void repeat(const Piece& piece) {
        const std::size_t n = piece.to - piece.from;
        char* p = room(n);
        std::memcpy(p, out_.data() + piece.from, n);
        next_ = p + n;
        ++open_.back().count;
    }
    // The blanks of all indentation written, in levels.
    std::size_t levels() const { return levels_; }

    void begin_object() { open('{'); }
    void begin_array() { open('['); }
    void end() {
        const Open closed = open_.back();
        open_.pop_back();
        if (closed.count > 0 && indent_ >= 0) {
            put('\n');
            blanks(open_.size());
        }
        put(closed.bracket == '{' ? '}' : ']');
    }
    // A key of the forms: plain ASCII, which needs no escaping. Its quotes,
    // name and colon go out as one piece.
    template <std::size_t N>
    void key(const char (&name)[N]) {
        char* p = nullptr;
        if (indent_ < 0) {
            p = room(N + 3);
            if (open_.back().count++ > 0) *p++ = ',';
        } else {
            next_element();
            p = room(N + 3);
        }
        *p++ = '"';
        std::memcpy(p, name, N - 1);
        p += N - 1;
        *p++ = '"';
        *p++ = ':';
        if (indent_ >= 0) *p++ = ' ';
        next_ = p;
        after_key_ = true;
    }
    void text(const std::string& value) {
        element();
        escaped(value.data(), value.size());
    }
    void number(double value) {
        element();
        char* p = room(sizeof(Formatted::text));
        // A double holding a whole number below 10^15 in size is written as
        // its digits and ".0", exactly as the library writes it.
        if (value > -1e15 && value < 1e15) {
            const auto whole = static_cast<std::int64_t>(value);
            if (static_cast<double>(whole) == value) {
                if (std::signbit(value)) *p++ = '-';
                next_ = whole_number(p, static_cast<std::uint64_t>(whole < 0 ? -whole : whole));
                *next_++ = '.';
                *next_++ = '0';
                return;
            }
        }
        if (!std::isfinite(value)) {
            put("null", 4);
            return;
        }
        // A result repeats its numbers (sizes, positions, each placement
        // twice), and formatting one is the dearest part of writing.
        std::uint64_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        Formatted& cached = formatted_[(bits * 0x9E3779B97F4A7C15ULL) >> (64 - kFormattedBits)];
        if (cached.size == 0 || cached.bits != bits) {
            const char* end =
                nlohmann::detail::to_chars(cached.text, cached.text + sizeof cached.text, value);
            cached.bits = bits;
            cached.size = static_cast<unsigned char>(end - cached.text);
        }
        std::memcpy(p, cached.text, sizeof cached.text);
        next_ = p + cached.size;
    }
    void count(std::size_t value) {
        element();
        next_ = whole_number(room(20), static_cast<std::uint64_t>(value));
    }
    void boolean(bool value) {
        element();
        if (value) {
            put("true", 4);
        } else {
            put("false", 5);
        }
    }
    void null() {
        element();
        put("null", 4);
    }
    // Any JSON value; objects list their members in their own (sorted) order.
    void value(const json& v) {
        switch (v.type()) {
            case json::value_t::object:
                begin_object();
                for (const auto& [name, member] : v.items()) {
                    next_element();
                    escaped(name.data(), name.size());
                    if (indent_ >= 0) {
                        put(": ", 2);
                    } else {
                        put(':');
                    }
                    after_key_ = true;
                    value(member);
                }
                end();
                return;
            case json::value_t::array:
                begin_array();
                for (const json& element : v) value(element);
                end();
                return;
            case json::value_t::string: text(v.get_ref<const std::string&>()); return;
            case json::value_t::boolean: boolean(v.get<bool>()); return;
            case json::value_t::number_integer: {
                element();
                const std::string digits = std::to_string(v.get<std::int64_t>());
                put(digits.data(), digits.size());
                return;
            }
            case json::value_t::number_unsigned: count(v.get<std::uint64_t>()); return;
            case json::value_t::number_float: number(v.get<double>()); return;
            default: null(); return;
        }
    }

private:
    struct Open {
        char bracket;
        std::size_t count;
    };
    // The text of a finite double: at most 24 characters (17 digits, sign,
    // point, exponent).
    struct Formatted {
        std::uint64_t bits;
        unsigned char size;  // 0: empty
        char text[31];
    };
    static constexpr int kFormattedBits = 9;

    // Room for n more characters at the end of the text.
    char* room(std::size_t n) {
        if (n > static_cast<std::size_t>(end_ - next_)) grow(n);
        return next_;
    }
    void grow(std::size_t n) {
        const std::size_t used = size();
        out_.resize(std::max(2 * out_.size(), used + n + 4096));
        next_ = &out_[0] + used;
        end_ = &out_[0] + out_.size();
    }
    void put(char c) {
        *room(1) = c;
        ++next_;
    }
    void put(const char* s, std::size_t n) {
        std::memcpy(room(n), s, n);
        next_ += n;
    }
    // The decimal digits of n at p, which has room for 20; the end of them.
    static char* whole_number(char* p, std::uint64_t n) {
        char digits[20];
        char* first = digits + sizeof digits;
        do {
            *--first = static_cast<char>('0' + n % 10);
            n /= 10;
        } while (n != 0);
        const auto size = static_cast<std::size_t>(digits + sizeof digits - first);
        std::memcpy(p, first, size);
        return p + size;
    }
    void open(char bracket) {
        element();
        put(bracket);
        open_.push_back(Open{bracket, 0});
    }
    // Before an array element or an object member.
    void next_element() {
        Open& parent = open_.back();
        if (parent.count++ > 0) put(',');
        if (indent_ >= 0) {
            put('\n');
            blanks(open_.size());
        }
    }
    // Before any value: a member's value follows its key directly.
    void element() {
        if (after_key_) {
            after_key_ = false;
            return;
        }
        if (!open_.empty()) next_element();
    }
    void blanks(std::size_t levels) {
        levels_ += levels;
        const std::size_t n = levels * static_cast<std::size_t>(indent_);
        std::memset(room(n), ' ', n);
        next_ += n;
    }
    void escaped(const char* s, std::size_t size);

    int indent_;
    std::string out_;
    char* next_;  // the end of the text written so far
    char* end_;   // the end of the room in out_
    std::vector<Open> open_;
    bool after_key_ = false;
    bool invalid_utf8_ = false;
    bool ascii_ = true;
    std::size_t levels_ = 0;
    std::vector<Formatted> formatted_ = std::vector<Formatted>(std::size_t{1} << kFormattedBits);
};

// The length of the well-formed UTF-8 sequence at s (of at most `left`
// bytes) that starts with a byte of 0x80 or above, or 0 if it is not well
// formed: no overlong forms, no surrogates, nothing above U+10FFFF.
std::size_t utf8_sequence(const unsigned char* s, std::size_t left) {
    const unsigned char b = s[0];
    std::size_t size = 0;
    unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        size = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        size = 3;
        if (b == 0xE0) low = 0xA0;
        if (b == 0xED) high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        size = 4;
        if (b == 0xF0) low = 0x90;
        if (b == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (left < size || s[1] < low || s[1] > high) return 0;
    for (std::size_t k = 2; k < size; ++k) {
        if (s[k] < 0x80 || s[k] > 0xBF) return 0;
    }
    return size;
}

// Quotation mark, reverse solidus and control characters are escaped, the
// common ones by their short forms, the others as \u00xx; everything else,
// 0x7F and non-ASCII included, is written as it is.
void TextWriter::escaped(const char* s, std::size_t size) {
    static const char* const kHex = "0123456789abcdef";
    // Most texts are printable ASCII throughout, and go out as they are.
    if (size <= 64) {
        char* p = room(size + 2);
        bool plain = true;
        for (std::size_t k = 0; k < size; ++k) {
            const auto b = static_cast<unsigned char>(s[k]);
            plain &= b >= 0x20 && b < 0x80 && b != '"' && b != '\\';
        }
        if (plain) {
            p[0] = '"';
            std::memcpy(p + 1, s, size);
            p[size + 1] = '"';
            next_ = p + size + 2;
            return;
        }
    }
    put('"');
    const auto* bytes = reinterpret_cast<const unsigned char*>(s);
    std::size_t plain = 0;  // start of the bytes not yet written
    for (std::size_t k = 0; k < size;) {
        const unsigned char b = bytes[k];
        if (b >= 0x20 && b < 0x80 && b != '"' && b != '\\') {
            ++k;
            continue;
        }
        if (b >= 0x80) {
            ascii_ = false;
            const std::size_t n = utf8_sequence(bytes + k, size - k);
            invalid_utf8_ = invalid_utf8_ || n == 0;
            k += n == 0 ? 1 : n;
            continue;
        }
        put(s + plain, k - plain);
        char escape[6] = {'\\', 'u', '0', '0', kHex[b >> 4], kHex[b & 0xF]};
        std::size_t length = 6;
        switch (b) {
            case '\b':
                escape[1] = 'b';
                length = 2;
                break;
            case '\t':
                escape[1] = 't';
                length = 2;
                break;
            case '\n':
                escape[1] = 'n';
                length = 2;
                break;
            case '\f':
                escape[1] = 'f';
                length = 2;
                break;
            case '\r':
                escape[1] = 'r';
                length = 2;
                break;
            case '"':
                escape[1] = '"';
                length = 2;
                break;
            case '\\':
                escape[1] = '\\';
                length = 2;
                break;
            default: break;
        }
        put(escape, length);
        plain = ++k;
    }
    put(s + plain, size - plain);
    put('"');
}

// The forms, members in ascending byte order of their keys. A placement in
// the response's list, and a box in its list, carry their box's index (and
// the placement its box's reference) as well.
//
// A placement's members before "box_index" and from "depth" on are the same
// in its box and in the response's list of placements: with `pieces`, a
// writer that repeats pieces notes where they are written the first time and
// copies them the second.
struct PlacementPieces {
    Piece head;  // the members before "box_index"
    Piece tail;  // the members from "depth" on
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
bool repeated(Writer& w, const Piece* piece) {
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
    ValueWriter w;
    write_placement(w, placement, nullptr, nullptr);
    return w.take();
}

json to_json(const PackedBox& box) {
    ValueWriter w;
    write_packed_box(w, box, nullptr);
    return w.take();
}

json to_json(const PackResponse& response) {
    ValueWriter w;
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
        TextWriter narrow(1, 2 * compact_size);
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
    TextWriter w(indent < 0 ? -1 : indent,
                 indent < 0 ? compact_size
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
