// Fixed-capacity, zero-terminated single-byte text fields.
//
// The converter's records and settings keep their texts in fields of a fixed
// capacity (the capacity counts the terminator). FixedText never writes past
// its field: assign() reports whether the whole value fitted, and a value that
// did not fit is either refused (the field keeps its old content) or cut,
// as the caller chooses.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace tremcvt {

template <std::size_t Capacity>
class FixedText {
    static_assert(Capacity >= 1, "a field needs room for its terminator");

public:
    static constexpr std::size_t kCapacity = Capacity;
    static constexpr std::size_t kMaxLength = Capacity - 1;

    FixedText() { data_[0] = '\0'; }
    explicit FixedText(std::string_view value) { data_[0] = '\0'; cut(value); }

    // Replaces the content when the whole value fits; otherwise leaves the
    // field unchanged and returns false.
    bool assign(std::string_view value)
    {
        if (value.size() > kMaxLength) return false;
        store(value);
        return true;
    }

    // Stores as much of the value as fits; returns false when it was cut.
    bool cut(std::string_view value)
    {
        const bool fits = value.size() <= kMaxLength;
        store(fits ? value : value.substr(0, kMaxLength));
        return fits;
    }

    void clear() { data_[0] = '\0'; }
    bool empty() const { return data_[0] == '\0'; }
    std::size_t size() const { return std::strlen(data_); }
    const char* c_str() const { return data_; }
    std::string_view view() const { return std::string_view(data_, size()); }
    std::string str() const { return std::string(view()); }

    // Direct access for in-place edits (upper-casing, separator changes) that
    // never change the length.
    char* data() { return data_; }
    const char* data() const { return data_; }

    friend bool operator==(const FixedText& a, const FixedText& b) { return a.view() == b.view(); }
    friend bool operator==(const FixedText& a, std::string_view b) { return a.view() == b; }

private:
    void store(std::string_view value)
    {
        if (!value.empty()) std::memcpy(data_, value.data(), value.size());
        data_[value.size()] = '\0';
    }

    char data_[Capacity];
};

}  // namespace tremcvt
