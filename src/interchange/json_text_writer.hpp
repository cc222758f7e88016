// The JSON text writer of results: text written as the JSON library writes
// it, faster, from the calls a result form makes (result_writer.cpp).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/detail/conversions/to_chars.hpp>
#include <nlohmann/json_fwd.hpp>

namespace stowvex {

// The bytes from..to of a text being written.
struct TextPiece {
    std::size_t from = 0;
    std::size_t to = 0;
};

// Writes JSON text from the calls of a form as the JSON library's serializer
// does, with the options of a result: the given indent (compact when negative), blank as the indent
// character, non-ASCII written raw. A string that is not valid UTF-8 is
// noted, and the caller then has the library write the value, which throws
// its own error.
class JsonTextWriter {
public:
    static constexpr bool kRepeats = true;

    // `expected`: the size the text is likely to reach, reserved at once.
    JsonTextWriter(int indent, std::size_t expected) : indent_(indent) {
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
    void repeat(const TextPiece& piece) {
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
    void value(const nlohmann::json& v);

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

}  // namespace stowvex
