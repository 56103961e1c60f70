// One description of each byte layout, driven by a writer or a bounded reader.
//
// A layout is written once as `Fields(Archive& a, Record& r)`: the write archive gets const records
// and appends their fields, the read archive gets mutable ones and fills them. `Io<A, T>` gives the
// record type with the constness the archive needs.
#pragma once

#include <bankgen/Bank.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

namespace bankgen {

inline std::string Hex(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
}

// Music records keep the ID, node block and children in their `music` part.
template <typename R> const auto& NodePart(const R& r) {
    if constexpr (requires { r.music; })
        return r.music;
    else
        return r;
}

template <typename A, typename T> using Io = std::conditional_t<A::kReading, T, const T>;

template <typename T> inline constexpr bool kFixedArray = false;
template <typename T, size_t N> inline constexpr bool kFixedArray<std::array<T, N>> = true;

// Appends fields with no padding. Authoring problems (counts too wide for their field, values the
// engine cannot read) go to the context's errors; chunk writers pass no context and check nothing.
class WriteArchive {
public:
    static constexpr bool kReading = false;

    WriteArchive(ByteWriter& w, EncodeContext* ctx, std::uint32_t owner = 0)
        : w_(w), ctx_(ctx), owner_(owner) {}

    bool ExtraOwner() const { return ctx_ && ctx_->extraOwner; }
    EncodeContext* Context() const { return ctx_; }
    std::uint32_t Owner() const { return owner_; }
    void Error(std::string what) {
        if (ctx_) ctx_->errors.push_back(std::move(what));
    }

    template <typename... T> void operator()(const T&... v) { (Put(v), ...); }

    // The list's element count in an N-wide field; `what` names the elements for an error when
    // the count does not fit in `limit`. `minBytes` serves only the reader.
    template <typename N, typename T>
    void Count(const std::vector<T>& v, size_t /*minBytes*/, const char* what = nullptr,
               size_t limit = std::numeric_limits<N>::max()) {
        if (what && v.size() > limit) Error("object " + Hex(owner_) + ": too many " + what);
        Put(static_cast<N>(v.size()));
    }
    // The list's size in bytes in a u32, each element `elementBytes` long.
    template <typename T> void ByteSize(const std::vector<T>& v, size_t elementBytes) {
        Put(static_cast<std::uint32_t>(v.size() * elementBytes));
    }
    // N-wide length followed by the bytes.
    template <typename N, typename C> void Blob(const C& bytes) {
        Put(static_cast<N>(bytes.size()));
        w_.Raw(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    }
    // A u8 presence flag.
    template <typename T> void Flag(const std::optional<T>& v) { Put(static_cast<std::uint8_t>(v ? 1 : 0)); }

private:
    template <typename T> void Put(const T& v) {
        if constexpr (std::is_same_v<T, std::uint8_t>)
            w_.U8(v);
        else if constexpr (std::is_same_v<T, std::uint16_t>)
            w_.U16(v);
        else if constexpr (std::is_same_v<T, std::uint32_t>)
            w_.U32(v);
        else if constexpr (std::is_same_v<T, std::int16_t>)
            w_.I16(v);
        else if constexpr (std::is_same_v<T, float>)
            w_.F32(v);
        else if constexpr (std::is_same_v<T, double>)
            w_.F64(v);
        else {
            static_assert(kFixedArray<T>, "no byte layout for this field type");
            for (const auto& x : v)
                Put(x);
        }
    }

    ByteWriter& w_;
    EncodeContext* ctx_;
    std::uint32_t owner_;
};

// Fills fields from a bounded reader. Every count and size is checked against what remains before
// anything is sized from it; a failed check fails the reader, so callers test Ok() once at the end.
// Authoring rules are checked only by the writer (layouts test `kReading`): a reader must take in
// any bank so that Validate can say what is wrong with it.
class ReadArchive {
public:
    static constexpr bool kReading = true;

    explicit ReadArchive(ByteReader& r, bool extraOwner = false) : r_(r), extraOwner_(extraOwner) {}

    bool ExtraOwner() const { return extraOwner_; }

    template <typename... T> void operator()(T&... v) { (Get(v), ...); }

    template <typename N, typename T>
    void Count(std::vector<T>& v, size_t minBytes, const char* = nullptr, size_t = 0) {
        N n{};
        Get(n);
        v.clear();
        if (Fits(n, minBytes)) v.resize(n);
    }
    template <typename T> void ByteSize(std::vector<T>& v, size_t elementBytes) {
        std::uint32_t bytes = 0;
        Get(bytes);
        v.clear();
        if (bytes % elementBytes != 0 || !Fits(bytes, 1))
            r_.Fail();
        else
            v.resize(bytes / elementBytes);
    }
    template <typename N, typename C> void Blob(C& bytes) {
        N n{};
        Get(n);
        auto part = r_.Take(n);
        bytes.assign(part.begin(), part.end());
    }
    template <typename T> void Flag(std::optional<T>& v) {
        std::uint8_t present = 0;
        Get(present);
        if (present)
            v.emplace();
        else
            v.reset();
    }

    // Stops the reading for a reason other than running out of bytes; the first reason stays.
    void Refuse(std::string why) {
        if (r_.Ok()) refusal_ = std::move(why);
        r_.Fail();
    }
    const std::string& Refusal() const { return refusal_; }

private:
    // A count whose smallest possible encoding would not fit in what remains fails the reader.
    bool Fits(std::uint64_t count, size_t minBytes) {
        if (count * minBytes > r_.Remaining()) {
            r_.Fail();
            return false;
        }
        return true;
    }
    template <typename T> void Get(T& v) {
        if constexpr (std::is_same_v<T, std::uint8_t>)
            v = r_.U8();
        else if constexpr (std::is_same_v<T, std::uint16_t>)
            v = r_.U16();
        else if constexpr (std::is_same_v<T, std::uint32_t>)
            v = r_.U32();
        else if constexpr (std::is_same_v<T, std::int16_t>)
            v = r_.I16();
        else if constexpr (std::is_same_v<T, float>)
            v = r_.F32();
        else if constexpr (std::is_same_v<T, double>)
            v = r_.F64();
        else {
            static_assert(kFixedArray<T>, "no byte layout for this field type");
            for (auto& x : v)
                Get(x);
        }
    }

    ByteReader& r_;
    bool extraOwner_;
    std::string refusal_;
};

template <typename A> void Fields(A& a, Io<A, CurvePoint>& p) {
    a(p.x, p.y, p.shape);
}

template <typename A> void Fields(A& a, Io<A, Settings>& s) {
    a(s.volumeThresholdDb, s.maxVoices);
    a.template Count<std::uint32_t>(s.stateGroups, 12);
    for (auto& g : s.stateGroups) {
        a(g.group, g.defaultTransitionMs);
        a.template Count<std::uint32_t>(g.transitions, 12);
        for (auto& t : g.transitions)
            a(t.from, t.to, t.ms);
    }
    a.template Count<std::uint32_t>(s.switchBindings, 13);
    for (auto& b : s.switchBindings) {
        a(b.switchGroup, b.gameParameter, b.drivingType);
        a.template Count<std::uint32_t>(b.points, 12);
        for (auto& p : b.points)
            a(p.value, p.switchId, p.shape);
    }
    a.template Count<std::uint32_t>(s.gameParameters, 21);
    for (auto& p : s.gameParameters)
        a(p.id, p.defaultValue, p.rampKind, p.rampUp, p.rampDown, p.builtIn);
}

template <typename A> void Fields(A& a, Io<A, Environment>& e) {
    for (auto& c : e.curves) {
        a(c.enabled, c.scaling);
        a.template Count<std::uint16_t>(c.points, 12);
        for (auto& p : c.points)
            Fields(a, p);
    }
}

template <typename A> void Fields(A& a, Io<A, BankName>& n) {
    a(n.bankId);
    a.template Blob<std::uint8_t>(n.name);
}

} // namespace bankgen
