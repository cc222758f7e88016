// The JSON text writer: strings and any JSON value.
#include "interchange/json_text_writer.hpp"

#include <nlohmann/json.hpp>

namespace stowvex {

namespace {

using nlohmann::json;

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

// The letter of the short escape of a character that has one, or 0.
char short_escape(unsigned char b) {
    switch (b) {
        case '\b': return 'b';
        case '\t': return 't';
        case '\n': return 'n';
        case '\f': return 'f';
        case '\r': return 'r';
        case '"': return '"';
        case '\\': return '\\';
        default: return 0;
    }
}

}  // namespace

// Quotation mark, reverse solidus and control characters are escaped, the
// common ones by their short forms, the others as \u00xx; everything else,
// 0x7F and non-ASCII included, is written as it is.
void JsonTextWriter::escaped(const char* s, std::size_t size) {
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
        if (const char letter = short_escape(b)) {
            escape[1] = letter;
            length = 2;
        }
        put(escape, length);
        plain = ++k;
    }
    put(s + plain, size - plain);
    put('"');
}

void JsonTextWriter::value(const json& v) {
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

}  // namespace stowvex
