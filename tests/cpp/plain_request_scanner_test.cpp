// The plain-request scanner against the library-driven field collector: on
// generated requests and on mutations of them, whatever the scanner accepts
// the library accepts too, with the same fields bit for bit.
#include "interchange/plain_request_scanner.hpp"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "interchange/request_fields.hpp"
#include "request_fields_checks.hpp"

namespace stowvex {
namespace {

using nlohmann::json;

// Checks one text; true if the scanner accepted it.
bool scanned_as_the_library_reads(const std::string& text) {
    const std::optional<RequestFields> fast = scan_plain_request(text);
    if (!fast) return false;
    EXPECT_EQ(text.find('\0'), std::string::npos) << text;
    json parsed;
    EXPECT_NO_THROW(parsed = json::parse(text, nullptr, true, false)) << text;
    const std::optional<RequestFields> collected = collect_request_fields(text);
    EXPECT_TRUE(collected.has_value()) << text;
    if (collected) {
        EXPECT_TRUE(testing::same_fields(*fast, *collected)) << text;
    }
    return true;
}

// Random request texts of every shape the scanner meets, mostly plain.
class RequestTexts {
public:
    explicit RequestTexts(std::uint64_t seed) : random_(seed) {}

    std::string request() {
        std::string out = blank() + "{";
        const int members = below(5);
        for (int m = 0; m < members; ++m) {
            if (m > 0) out += "," + blank();
            const int kind = below(10);
            const char* name = kind < 4 ? "items" : kind < 8 ? "boxes" : "note";
            out += blank() + "\"" + name + "\"" + blank() + ":" + blank();
            if (kind < 8 && below(12) != 0) {
                out += list(kind < 4 ? kItemMembers : kBoxMembers);
            } else {
                out += value(3);
            }
        }
        return out + blank() + "}" + blank();
    }

    std::string number() {
        std::string out = below(4) == 0 ? "-" : "";
        const int whole = below(6) == 0 ? 1 + below(24) : 1 + below(4);
        out += below(8) == 0 ? "0" : digits(whole, true);
        if (below(2) == 0) out += "." + digits(below(5) == 0 ? 1 + below(25) : 1 + below(3), false);
        if (below(5) == 0) {
            out += below(2) == 0 ? "e" : "E";
            out += below(3) == 0 ? "-" : below(2) == 0 ? "+" : "";
            out += std::to_string(below(3) == 0 ? below(400) : below(30));
        }
        return out;
    }

    std::string mutated(std::string text) {
        static const char kBytes[] = "{}[],:\"\\0123456789.eE-+ \n\ttfnu\x01\x7f\xc3\xa4\xff";
        const int edits = 1 + below(3);
        for (int e = 0; e < edits && !text.empty(); ++e) {
            const auto at = static_cast<std::size_t>(below(static_cast<int>(text.size())));
            switch (below(5)) {
                case 0: text[at] = kBytes[below(sizeof kBytes - 1)]; break;
                case 1: text.erase(at, 1); break;
                case 2: text.insert(at, 1, kBytes[below(sizeof kBytes - 1)]); break;
                case 3: text.resize(at); break;
                default: text.insert(at, 1, '\0'); break;
            }
        }
        return text;
    }

    int below(int n) { return static_cast<int>(random_() % static_cast<std::uint64_t>(n)); }

private:
    std::string blank() {
        static const char* const kBlanks[] = {"", "", "", " ", "\n  ", "\t", "\r\n"};
        return kBlanks[below(7)];
    }
    std::string digits(int n, bool leading) {
        std::string out;
        for (int k = 0; k < n; ++k) {
            out += static_cast<char>('0' + (k == 0 && leading ? 1 + below(9) : below(10)));
        }
        return out;
    }
    std::string text() {
        static const char* const kTexts[] = {"A-1",       "",       "BestFit", "KeepFlat",
                                             "box 7",     "x\\\"y", "\\u0041", "caf\xc3\xa9",
                                             "tab\there", "Width"};
        return "\"" + std::string(kTexts[below(10)]) + "\"";
    }
    std::string value(int depth) {
        switch (below(depth > 0 ? 9 : 6)) {
            case 0:
            case 1: return number();
            case 2: return text();
            case 3: return "true";
            case 4: return "false";
            case 5: return "null";
            case 6:
            case 7: {
                std::string out = "[";
                const int n = below(4);
                for (int k = 0; k < n; ++k) out += (k > 0 ? "," : "") + blank() + value(depth - 1);
                return out + blank() + "]";
            }
            default: {
                std::string out = "{";
                const int n = below(4);
                for (int k = 0; k < n; ++k) {
                    out += (k > 0 ? "," : "") + blank() + text() + ":" + blank() + value(depth - 1);
                }
                return out + blank() + "}";
            }
        }
    }
    std::string list(const std::array<const char*, 8>& names) {
        std::string out = "[";
        const int n = below(6);
        for (int k = 0; k < n; ++k) {
            if (k > 0) out += "," + blank();
            if (below(40) == 0) {
                out += value(1);
                continue;
            }
            out += "{";
            const int members = below(10);
            for (int m = 0; m < members; ++m) {
                if (m > 0) out += "," + blank();
                const bool used = below(5) != 0;
                out += "\"" + std::string(used ? names[below(8)] : "Colour") + "\":" + blank();
                out += used && below(30) != 0 ? scalar() : value(2);
            }
            out += blank() + "}";
        }
        return out + blank() + "]";
    }
    std::string scalar() {
        switch (below(8)) {
            case 0: return text();
            case 1: return below(2) == 0 ? "true" : "null";
            default: return number();
        }
    }

    std::mt19937_64 random_;
};

TEST(PlainRequestScanner, GeneratedRequestsReadAsTheLibraryReadsThem) {
    RequestTexts texts(20261209);
    int accepted = 0;
    for (int k = 0; k < 6000; ++k) {
        if (scanned_as_the_library_reads(texts.request())) ++accepted;
    }
    // Many generated texts are plain; the scanner must take them.
    EXPECT_GT(accepted, 1800);
}

TEST(PlainRequestScanner, MutatedRequestsReadAsTheLibraryReadsThemOrNotAtAll) {
    RequestTexts texts(77);
    int accepted = 0;
    for (int k = 0; k < 20000; ++k) {
        if (scanned_as_the_library_reads(texts.mutated(texts.request()))) ++accepted;
    }
    EXPECT_GT(accepted, 500);
}

TEST(PlainRequestScanner, NumbersConvertAsTheLibraryConvertsThem) {
    RequestTexts texts(5);
    std::vector<std::string> numbers = {"0",
                                        "-0",
                                        "-0.0",
                                        "0e0",
                                        "1E+2",
                                        "123456789012345678",
                                        "-123456789012345678",
                                        "1234567890123456789",
                                        "18446744073709551615",
                                        "18446744073709551616",
                                        "-9223372036854775808",
                                        "9007199254740993",
                                        "9007199254740993.0",
                                        "0.1",
                                        "0.30000000000000004",
                                        "2.2250738585072011e-308",
                                        "2.2250738585072014e-308",
                                        "4.9e-324",
                                        "2e-324",
                                        "1e-400",
                                        "1.7976931348623157e308",
                                        "1.7976931348623159e308",
                                        "1e400",
                                        "-1e400",
                                        "0.500000000000000166533453693773481063544750213623046875",
                                        "12.5",
                                        "99.99",
                                        "1e23",
                                        "8.41e21",
                                        "5e-1"};
    for (int k = 0; k < 20000; ++k) numbers.push_back(texts.number());
    int accepted = 0;
    for (const std::string& number : numbers) {
        const std::string text = "{\"items\":[{\"Width\":" + number + "}]}";
        if (scanned_as_the_library_reads(text)) ++accepted;
    }
    EXPECT_GT(accepted, 18000);
    // Integers keep their kind; what the scanner leaves alone the library still reads.
    const auto width = [](const std::string& number) {
        return scan_plain_request("{\"items\":[{\"Width\":" + number + "}]}");
    };
    EXPECT_TRUE(width("7")->items[0].members[5].is_number_unsigned());
    EXPECT_TRUE(width("-7")->items[0].members[5].is_number_integer());
    EXPECT_TRUE(width("-0")->items[0].members[5].is_number_integer());
    EXPECT_TRUE(width("7.0")->items[0].members[5].is_number_float());
    EXPECT_FALSE(width("1e400").has_value());
    EXPECT_FALSE(width("1234567890123456789").has_value());
}

TEST(PlainRequestScanner, LeavesEveryOtherTextToTheLibrary) {
    const std::vector<std::string> texts = {"",
                                            "[]",
                                            "null",
                                            "\xEF\xBB\xBF{}",
                                            "{} x",
                                            "{},",
                                            "{/**/}",
                                            std::string("{}") + '\0',
                                            "{\"items\":{}}",
                                            "{\"items\":1}",
                                            "{\"items\":[],\"items\":[]}",
                                            "{\"items\":[1]}",
                                            "{\"items\":[{\"Width\":[1]}]}",
                                            "{\"items\":[{\"Width\":{}}]}",
                                            "{\"boxes\":[{\"Reference\":\"\\u0041\"}]}",
                                            "{\"items\":[{\"ItemCode\":\"\xC3\xA4\"}]}"};
    for (const std::string& text : texts)
        EXPECT_FALSE(scan_plain_request(text).has_value()) << text;
    const std::vector<std::string> values = {
        "01",      "1.",         ".5",
        "+1",      "-",          "1e",
        "tru",     "nul",        "[1,]",
        "{\"a\"}", "{\"a\":1,}", "[1 2]",
        "\"\t\"",  "\"\\n\"",    "\"\x7f\"",
        "1e400",   "\"open",     std::string(40, '[') + std::string(40, ']')};
    for (const std::string& value : values) {
        EXPECT_FALSE(scan_plain_request("{\"note\":" + value + "}").has_value()) << value;
        EXPECT_FALSE(scan_plain_request("{\"items\":[{\"Width\":" + value + "}]}").has_value())
            << value;
    }
    const auto fields = scan_plain_request(
        " {\"boxes\":null, \"items\": [{\"ItemCode\":\"a\",\"Width\":1,\"Width\":2.5,"
        "\"More\":{\"x\":[true,{}]}} , {}]}\n");
    ASSERT_TRUE(fields.has_value());
    ASSERT_EQ(fields->items.size(), 2u);
    EXPECT_TRUE(fields->boxes.empty());
    EXPECT_EQ(fields->items[0].present, 0b100001);
    EXPECT_EQ(fields->items[0].members[5], 2.5);
    EXPECT_EQ(fields->items[1].present, 0);
}

}  // namespace
}  // namespace stowvex
