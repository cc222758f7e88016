// The plain-request scanner. Why a text it accepts reads the same as through
// the JSON library:
//
// - Every byte it accepts is matched against the strict JSON grammar: the
//   structural characters, the four whitespace bytes, the three literals,
//   strings of the bytes 0x20-0x7E other than '"' and '\', and numbers of
//   the form -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?. Any other byte
//   (a byte order mark, NUL, a control character, non-ASCII, an escape, a
//   comment), a missing or extra token, or text after the value ends the scan
//   with nothing. So an accepted text is one strict JSON value, which the
//   library parses without error as long as its numbers are finite (below),
//   into the same tokens in the same order.
// - A string without escapes is, to the library as here, the bytes between
//   its quotes.
// - The library converts a number without fraction or exponent with strtoull
//   (strtoll when negative) and keeps it as an unsigned (signed) integer if
//   it is in range. The scanner takes only such numbers of at most 18
//   digits, always in range, and computes the same value exactly. Every
//   other number the library converts with strtod, which rounds correctly to
//   the nearest double under the default rounding mode; the scanner runs
//   only under that rounding mode and also gives the nearest double: for at
//   most 15 digits and a power of ten of at most 22 in size by one exact
//   multiplication or division (rounded once, as every IEEE operation), and
//   otherwise by std::from_chars, which always rounds correctly. Where from_chars reports a result
//   out of range (overflow, which the library refuses, or underflow) the scan gives nothing.
// - The shape rules are those of the library-driven collector: the same
//   texts are refused there and here (a second "items" or "boxes", a list
//   that is neither an array nor null, an element that is no object, a used
//   member that is no scalar), unused members are passed over, and of
//   repeated members the last counts.
#include "interchange/plain_request_scanner.hpp"

#include <algorithm>
#include <cfenv>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <system_error>

#include "engine/packing_control.hpp"

namespace stowvex {

namespace {

using nlohmann::json;

// Values nested deeper than this within an unused member are left to the
// library.
constexpr int kDeepest = 32;

// 10^0 to 10^15 as whole numbers and 10^0 to 10^22 as doubles, all exact.
constexpr std::uint64_t kPowersOfTen[16] = {1ULL,
                                            10ULL,
                                            100ULL,
                                            1000ULL,
                                            10000ULL,
                                            100000ULL,
                                            1000000ULL,
                                            10000000ULL,
                                            100000000ULL,
                                            1000000000ULL,
                                            10000000000ULL,
                                            100000000000ULL,
                                            1000000000000ULL,
                                            10000000000000ULL,
                                            100000000000000ULL,
                                            1000000000000000ULL};
constexpr double kTens[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                              1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                              1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The bytes a plain string holds: printable ASCII but the quotation mark and
// the reverse solidus.
constexpr std::array<bool, 256> plain_bytes() {
    std::array<bool, 256> plain{};
    for (int b = 0x20; b <= 0x7E; ++b) plain[static_cast<std::size_t>(b)] = b != '"' && b != '\\';
    return plain;
}
constexpr auto kPlainByte = plain_bytes();

// The names of the used members, in the order of ObjectFields::members.
template <std::size_t N>
constexpr std::array<std::string_view, N> views_of(const std::array<const char*, N>& names) {
    std::array<std::string_view, N> views{};
    for (std::size_t k = 0; k < N; ++k) views[k] = names[k];
    return views;
}
constexpr auto kItemNames = views_of(kItemMembers);
constexpr auto kBoxNames = views_of(kBoxMembers);

class PlainScanner {
public:
    explicit PlainScanner(std::string_view text)
        : at_(text.data()), end_(text.data() + text.size()) {}

    bool request(RequestFields& fields) {
        blanks();
        if (!take('{')) return false;
        blanks();
        if (take('}')) return finished();
        bool items_seen = false;
        bool boxes_seen = false;
        for (;;) {
            std::string_view name;
            if (!member_name(name)) return false;
            std::vector<ObjectFields>* list = nullptr;
            if (name == "items" || name == "boxes") {
                bool& seen = name == "items" ? items_seen : boxes_seen;
                if (seen) return false;
                seen = true;
                list = name == "items" ? &fields.items : &fields.boxes;
            }
            if (list == nullptr) {
                if (!pass_value()) return false;
            } else if (at('[')) {
                if (!elements(*list, list == &fields.items ? kItemNames : kBoxNames)) {
                    return false;
                }
            } else if (!literal("null")) {
                return false;
            }
            blanks();
            if (take('}')) return finished();
            if (!take(',')) return false;
            blanks();
        }
    }

private:
    using Names = std::array<std::string_view, 8>;

    bool at(char c) const { return at_ != end_ && *at_ == c; }
    bool take(char c) {
        if (!at(c)) return false;
        ++at_;
        return true;
    }
    void blanks() {
        while (at_ != end_ && (*at_ == ' ' || *at_ == '\n' || *at_ == '\r' || *at_ == '\t')) ++at_;
    }
    bool finished() {
        blanks();
        return at_ == end_;
    }
    bool literal(std::string_view word) {
        if (static_cast<std::size_t>(end_ - at_) < word.size() ||
            std::memcmp(at_, word.data(), word.size()) != 0) {
            return false;
        }
        at_ += word.size();
        return true;
    }

    // A string of printable ASCII without escapes; at_ is at its quote.
    bool plain_string(std::string_view& value) {
        if (!take('"')) return false;
        const char* first = at_;
        while (at_ != end_ && kPlainByte[static_cast<unsigned char>(*at_)]) ++at_;
        if (!at('"')) return false;
        value = std::string_view(first, static_cast<std::size_t>(at_ - first));
        ++at_;
        return true;
    }
    // A member's name, its colon and the blanks around it.
    bool member_name(std::string_view& name) {
        if (!plain_string(name)) return false;
        blanks();
        if (!take(':')) return false;
        blanks();
        return true;
    }

    bool digits() {
        const char* first = at_;
        while (at_ != end_ && *at_ >= '0' && *at_ <= '9') ++at_;
        return at_ != first;
    }
    bool number(json& value) {
        const char* first = at_;
        const bool negative = take('-');
        const char* whole = at_;
        if (take('0')) {
        } else if (at_ == end_ || *at_ < '1' || *at_ > '9' || !digits()) {
            return false;
        }
        const char* whole_end = at_;
        const char* fraction = at_;
        if (take('.')) {
            fraction = at_;
            if (!digits()) return false;
        }
        const char* fraction_end = at_;
        const char* exponent = at_;
        if (at('e') || at('E')) {
            ++at_;
            if (!take('+')) take('-');
            exponent = at_;
            if (!digits()) return false;
        }
        if (fraction == fraction_end && exponent == fraction_end) {
            // An integer.
            if (whole_end - whole > 18) return false;
            const std::uint64_t n = decimal(whole, whole_end);
            if (negative) {
                value = -static_cast<std::int64_t>(n);
            } else {
                value = n;
            }
            return true;
        }
        // Few digits and a small power of ten: the digits as a whole number
        // and the power are both exact doubles, so their product or quotient,
        // rounded once, is the double nearest to the decimal number.
        const std::ptrdiff_t digit_count = (whole_end - whole) + (fraction_end - fraction);
        if (digit_count <= 15 && at_ - exponent <= 3) {
            int power = exponent == at_ ? 0 : static_cast<int>(decimal(exponent, at_));
            if (exponent != at_ && exponent[-1] == '-') power = -power;
            power -= static_cast<int>(fraction_end - fraction);
            if (power >= -22 && power <= 22) {
                const auto n = static_cast<double>(decimal(whole, whole_end) *
                                                       kPowersOfTen[fraction_end - fraction] +
                                                   decimal(fraction, fraction_end));
                const double d = power < 0 ? n / kTens[-power] : n * kTens[power];
                value = negative ? -d : d;
                return true;
            }
        }
        double d = 0.0;
        const std::from_chars_result read = std::from_chars(first, at_, d);
        if (read.ec != std::errc() || read.ptr != at_ || !std::isfinite(d)) return false;
        value = d;
        return true;
    }
    // The value of at most 19 decimal digits.
    static std::uint64_t decimal(const char* first, const char* last) {
        std::uint64_t n = 0;
        for (; first != last; ++first) n = n * 10 + static_cast<std::uint64_t>(*first - '0');
        return n;
    }
    // A string, number or literal.
    bool scalar(json& value) {
        if (at_ == end_) return false;
        switch (*at_) {
            case '"': {
                std::string_view text;
                if (!plain_string(text)) return false;
                value = json(text);
                return true;
            }
            case 't': value = true; return literal("true");
            case 'f': value = false; return literal("false");
            case 'n': value = nullptr; return literal("null");
            default: return number(value);
        }
    }

    // Any value, checked and passed over.
    bool pass_value() {
        char open[kDeepest];
        int depth = 0;
        json ignored;
        for (;;) {
            // At a value.
            if (take('{')) {
                blanks();
                if (!take('}')) {
                    if (depth == kDeepest) return false;
                    open[depth++] = '}';
                    std::string_view name;
                    if (!member_name(name)) return false;
                    continue;
                }
            } else if (take('[')) {
                blanks();
                if (!take(']')) {
                    if (depth == kDeepest) return false;
                    open[depth++] = ']';
                    continue;
                }
            } else if (!scalar(ignored)) {
                return false;
            }
            // After a value: close what ends here, then on to the next one.
            for (;;) {
                if (depth == 0) return true;
                blanks();
                if (take(',')) {
                    blanks();
                    if (open[depth - 1] == '}') {
                        std::string_view name;
                        if (!member_name(name)) return false;
                    }
                    break;
                }
                if (!take(open[depth - 1])) return false;
                --depth;
            }
        }
    }

    // The array of an "items" or "boxes" member; at_ is at its bracket.
    bool elements(std::vector<ObjectFields>& list, const Names& names) {
        // Room for the elements the rest of the text could hold at some 64
        // bytes each, up to a few thousand, so that the list seldom moves
        // while it grows.
        constexpr std::size_t kMostReserved = 4096;
        list.reserve(list.size() +
                     std::min(static_cast<std::size_t>(end_ - at_) / 64, kMostReserved));
        ++at_;
        blanks();
        if (take(']')) return true;
        for (;;) {
            check_stop();
            if (!take('{')) return false;
            ObjectFields& object = list.emplace_back();
            blanks();
            if (!take('}')) {
                for (;;) {
                    std::string_view name;
                    if (!member_name(name)) return false;
                    const int used = member_of(name, names);
                    if (used < 0) {
                        if (!pass_value()) return false;
                    } else {
                        if (!scalar(object.members[static_cast<std::size_t>(used)])) return false;
                        object.present |= static_cast<std::uint8_t>(1u << used);
                    }
                    blanks();
                    if (take('}')) break;
                    if (!take(',')) return false;
                    blanks();
                }
            }
            blanks();
            if (take(']')) return true;
            if (!take(',')) return false;
            blanks();
        }
    }

    static int member_of(std::string_view name, const Names& names) {
        for (std::size_t k = 0; k < names.size(); ++k) {
            const std::string_view candidate = names[k];
            if (candidate.size() == name.size() && candidate[0] == name[0] &&
                std::memcmp(candidate.data(), name.data(), name.size()) == 0) {
                return static_cast<int>(k);
            }
        }
        return -1;
    }

    const char* at_;
    const char* end_;
};

}  // namespace

std::optional<RequestFields> scan_plain_request(std::string_view text) {
    if (std::fegetround() != FE_TONEAREST) return std::nullopt;
    RequestFields fields;
    if (!PlainScanner(text).request(fields)) return std::nullopt;
    return fields;
}

}  // namespace stowvex
