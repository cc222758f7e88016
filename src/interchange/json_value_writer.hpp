// A writer the result forms are described to (result_writer.cpp) that builds
// a JSON value: what to_dict hands to Python.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace stowvex {

// Builds a JSON value from the calls of a form.
class JsonValueWriter {
public:
    static constexpr bool kRepeats = false;

    nlohmann::json take() { return std::move(root_); }

    void begin_object() { open(nlohmann::json::object()); }
    void begin_array() { open(nlohmann::json::array()); }
    void end() { open_.pop_back(); }
    void key(const char* name) { key_ = name; }
    void text(const std::string& value) { put(nlohmann::json(value)); }
    void number(double value) { put(nlohmann::json(value)); }
    void count(std::size_t value) { put(nlohmann::json(static_cast<std::uint64_t>(value))); }
    void boolean(bool value) { put(nlohmann::json(value)); }
    void null() { put(nlohmann::json(nullptr)); }
    void value(const nlohmann::json& value) { put(value); }

private:
    nlohmann::json& put(nlohmann::json value) {
        if (open_.empty()) {
            root_ = std::move(value);
            return root_;
        }
        nlohmann::json& parent = *open_.back();
        if (parent.is_object()) return parent[key_] = std::move(value);
        parent.push_back(std::move(value));
        return parent.back();
    }
    void open(nlohmann::json value) { open_.push_back(&put(std::move(value))); }

    nlohmann::json root_;
    std::vector<nlohmann::json*> open_;  // the objects and arrays being filled
    const char* key_ = "";
};

}  // namespace stowvex
