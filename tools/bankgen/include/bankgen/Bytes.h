// Little-endian byte writing and bounded reading for the bank tools.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

namespace bankgen {

using Bytes = std::vector<std::uint8_t>;

// Appends fields with no padding: bank streams are packed byte by byte.
class ByteWriter {
public:
    explicit ByteWriter(Bytes& out) : out_(out) {}

    void U8(std::uint8_t v) { out_.push_back(v); }
    void U16(std::uint16_t v) { Le(v, 2); }
    void U32(std::uint32_t v) { Le(v, 4); }
    void I16(std::int16_t v) { U16(static_cast<std::uint16_t>(v)); }
    void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
    void F32(float v) {
        std::uint32_t bits;
        std::memcpy(&bits, &v, 4);
        U32(bits);
    }
    void F64(double v) {
        std::uint64_t bits;
        std::memcpy(&bits, &v, 8);
        Le(bits, 8);
    }
    // Always four bytes: a shorter tag is padded with spaces, a longer one cut.
    void Tag(std::string_view tag) {
        for (size_t i = 0; i < 4; ++i)
            out_.push_back(static_cast<std::uint8_t>(i < tag.size() ? tag[i] : ' '));
    }
    void Raw(std::span<const std::uint8_t> bytes) { out_.insert(out_.end(), bytes.begin(), bytes.end()); }
    size_t Size() const { return out_.size(); }
    // Overwrites a u32 written earlier (sizes known only once the payload is complete).
    void PatchU32(size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out_[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }

private:
    void Le(std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i)
            out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    Bytes& out_;
};

// Reads fields from a span; a read past the end sets the failure flag and yields zeros, so a
// parser checks Ok() once per structure instead of after every field.
class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> data) : data_(data) {}

    std::uint8_t U8() { return static_cast<std::uint8_t>(Le(1)); }
    std::uint16_t U16() { return static_cast<std::uint16_t>(Le(2)); }
    std::uint32_t U32() { return static_cast<std::uint32_t>(Le(4)); }
    std::int16_t I16() { return static_cast<std::int16_t>(U16()); }
    float F32() {
        const std::uint32_t bits = U32();
        float v;
        std::memcpy(&v, &bits, 4);
        return v;
    }
    double F64() {
        const std::uint64_t bits = Le(8);
        double v;
        std::memcpy(&v, &bits, 8);
        return v;
    }
    std::span<const std::uint8_t> Take(size_t n) {
        if (!Has(n)) {
            Fail();
            return {};
        }
        auto part = data_.subspan(pos_, n);
        pos_ += n;
        return part;
    }
    bool Has(size_t n) const { return ok_ && data_.size() - pos_ >= n; }
    size_t Remaining() const { return ok_ ? data_.size() - pos_ : 0; }
    size_t Position() const { return pos_; }
    bool Ok() const { return ok_; }
    void Fail() { ok_ = false; }

private:
    std::uint64_t Le(int n) {
        if (!Has(static_cast<size_t>(n))) {
            Fail();
            return 0;
        }
        std::uint64_t v = 0;
        for (int i = 0; i < n; ++i)
            v |= static_cast<std::uint64_t>(data_[pos_ + i]) << (8 * i);
        pos_ += static_cast<size_t>(n);
        return v;
    }
    std::span<const std::uint8_t> data_;
    size_t pos_ = 0;
    bool ok_ = true;
};

} // namespace bankgen
