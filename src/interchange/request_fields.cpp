// Collecting the fields of a request in one pass, through the JSON library's
// event interface: its parser checks the text exactly as when it builds the
// value, and hands over the same numbers and strings.
#include "interchange/request_fields.hpp"

#include <cstring>
#include <utility>

#include "engine/packing_control.hpp"

namespace stowvex {

namespace {

using nlohmann::json;

class FieldCollector {
public:
    RequestFields take() { return std::move(fields_); }

    bool null() { return scalar(json(nullptr)); }
    bool boolean(bool value) { return scalar(json(value)); }
    bool number_integer(json::number_integer_t value) { return scalar(json(value)); }
    bool number_unsigned(json::number_unsigned_t value) { return scalar(json(value)); }
    bool number_float(json::number_float_t value, const std::string&) {
        return scalar(json(value));
    }
    bool string(std::string& value) { return scalar(json(std::move(value))); }
    bool binary(json::binary_t&) { return false; }

    bool start_object(std::size_t) {
        if (skipping_ > 0) return ++skipping_, true;
        switch (place_) {
            case Place::kTop: place_ = Place::kRequest; return true;
            case Place::kElements:
                check_stop();
                list_->emplace_back();
                place_ = Place::kElement;
                return true;
            case Place::kRequestMember:
                if (list_ != nullptr) return false;  // a list given as an object
                ++skipping_;
                return true;
            case Place::kElementMember:
                if (member_ >= 0) return false;  // a used member that is no scalar
                ++skipping_;
                return true;
            default: return false;
        }
    }
    bool end_object() {
        if (skipping_ > 0) return end_skipped();
        if (place_ == Place::kElement) {
            place_ = Place::kElements;
            return true;
        }
        return place_ == Place::kRequest;
    }
    bool start_array(std::size_t) {
        if (skipping_ > 0) return ++skipping_, true;
        if (place_ == Place::kRequestMember && list_ != nullptr) {
            place_ = Place::kElements;
            return true;
        }
        if ((place_ == Place::kRequestMember || place_ == Place::kElementMember) && member_ < 0) {
            ++skipping_;
            return true;
        }
        return false;
    }
    bool end_array() {
        if (skipping_ > 0) return end_skipped();
        if (place_ != Place::kElements) return false;
        place_ = Place::kRequest;
        list_ = nullptr;
        return true;
    }
    bool key(std::string& name) {
        if (skipping_ > 0) return true;
        if (place_ == Place::kRequest) {
            list_ = nullptr;
            if (name == "items" || name == "boxes") {
                bool& seen = name == "items" ? items_seen_ : boxes_seen_;
                if (seen) return false;  // the last of them would count
                seen = true;
                list_ = name == "items" ? &fields_.items : &fields_.boxes;
            }
            member_ = -1;
            place_ = Place::kRequestMember;
            return true;
        }
        if (place_ == Place::kElement) {
            const auto& names = list_ == &fields_.items ? kItemMembers : kBoxMembers;
            member_ = -1;
            for (std::size_t k = 0; k < names.size(); ++k) {
                if (std::strcmp(names[k], name.c_str()) == 0 &&
                    name.size() == std::strlen(names[k])) {
                    member_ = static_cast<int>(k);
                }
            }
            place_ = Place::kElementMember;
            return true;
        }
        return false;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
        return false;
    }

private:
    enum class Place { kTop, kRequest, kRequestMember, kElements, kElement, kElementMember };

    bool scalar(json value) {
        if (skipping_ > 0) return true;
        switch (place_) {
            case Place::kRequestMember:
                place_ = Place::kRequest;
                // null in place of a list gives no elements; other scalars are
                // read as elements, which the readers refuse.
                if (list_ != nullptr && !value.is_null()) return false;
                list_ = nullptr;
                return true;
            case Place::kElementMember: {
                place_ = Place::kElement;
                if (member_ < 0) return true;
                ObjectFields& object = list_->back();
                // A repeated member: the last one counts, as in the value.
                object.members[static_cast<std::size_t>(member_)] = std::move(value);
                object.present |= static_cast<std::uint8_t>(1u << member_);
                return true;
            }
            default: return false;  // a request, list or element that is no object
        }
    }
    bool end_skipped() {
        if (--skipping_ == 0) {
            place_ = place_ == Place::kRequestMember ? Place::kRequest : Place::kElement;
        }
        return true;
    }

    RequestFields fields_;
    Place place_ = Place::kTop;
    std::vector<ObjectFields>* list_ = nullptr;  // the list being filled, or named
    int member_ = -1;                            // the used member being read, or -1
    int skipping_ = 0;                           // depth within a value passed over
    bool items_seen_ = false;
    bool boxes_seen_ = false;
};

}  // namespace

std::optional<RequestFields> collect_request_fields(const std::string& text) {
    FieldCollector collector;
    if (!json::sax_parse(text, &collector, json::input_format_t::json, /*strict=*/true,
                         /*ignore_comments=*/false)) {
        return std::nullopt;
    }
    return collector.take();
}

}  // namespace stowvex
