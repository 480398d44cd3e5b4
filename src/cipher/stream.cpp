#include "stream.h"

#include <algorithm>
#include <cstring>

#include "wipe.h"

namespace morvantile {

std::uint32_t TStream::whole_size() const {
    const std::int64_t n = size();
    if (n > static_cast<std::int64_t>(UINT32_MAX)) throw EStreamError("stream too large");
    return static_cast<std::uint32_t>(n);
}

void TStream::write(const std::string& bytes) {
    if (bytes.size() > UINT32_MAX) throw EStreamError("write too large");
    write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

namespace {
std::int64_t checked_position(std::int64_t pos) {
    if (pos < 0) throw EStreamError("negative stream position");
    return pos;
}

// Reads from a string at *pos, advancing it.
std::uint32_t read_from(std::string_view s, std::int64_t& pos, void* buffer, std::uint32_t count) {
    const auto size = static_cast<std::int64_t>(s.size());
    if (pos >= size || count == 0) return 0;
    const auto n = static_cast<std::uint32_t>(std::min<std::int64_t>(count, size - pos));
    std::memcpy(buffer, s.data() + pos, n);
    pos += n;
    return n;
}
}  // namespace

// ---- TMemoryStream

TMemoryStream::TMemoryStream(const std::string& initial) {
    reserve_for(initial.size());
    data_ = initial;
}

TMemoryStream::~TMemoryStream() { wipe_string(data_); }

void TMemoryStream::reserve_for(std::size_t needed) {
    if (needed <= data_.capacity()) return;
    // Grow geometrically, copying by hand so the old block can be wiped.
    std::string bigger;
    bigger.reserve(std::max(needed, data_.capacity() * 2));
    bigger.assign(data_);
    wipe_string(data_);
    data_.swap(bigger);
}

std::uint32_t TMemoryStream::read(void* buffer, std::uint32_t count) {
    return read_from(data_, pos_, buffer, count);
}

void TMemoryStream::write(const void* buffer, std::uint32_t count) {
    if (count == 0) return;
    const auto end = static_cast<std::size_t>(pos_) + count;
    const char* src = static_cast<const char*>(buffer);
    if (end > data_.capacity() && src >= data_.data() && src < data_.data() + data_.capacity()) {
        // The source lies in our own buffer, which growing would free.
        std::string copy(src, count);
        write(copy.data(), count);
        wipe_string(copy);
        return;
    }
    reserve_for(end);
    if (end > data_.size()) data_.resize(end);
    std::memmove(data_.data() + pos_, src, count);
    pos_ = static_cast<std::int64_t>(end);
}

void TMemoryStream::set_position(std::int64_t pos) { pos_ = checked_position(pos); }

void TMemoryStream::set_size(std::int64_t n) {
    n = checked_position(n);
    const auto un = static_cast<std::size_t>(n);
    if (un < data_.size()) {
        secure_zero(data_.data() + un, data_.size() - un);
    } else {
        reserve_for(un);
    }
    data_.resize(un);
    pos_ = std::min(pos_, n);
}

void TMemoryStream::clear() {
    wipe_string(data_);
    pos_ = 0;
}

std::string TMemoryStream::take() {
    std::string out;
    out.swap(data_);
    pos_ = 0;
    return out;
}

// ---- TStringStream

std::uint32_t TStringStream::read(void* buffer, std::uint32_t count) {
    return read_from(s_, pos_, buffer, count);
}

void TStringStream::write(const void* buffer, std::uint32_t count) {
    if (count == 0) return;
    const auto end = static_cast<std::size_t>(pos_) + count;
    if (end > s_.size()) s_.resize(end);
    std::memcpy(s_.data() + pos_, buffer, count);
    pos_ = static_cast<std::int64_t>(end);
}

void TStringStream::set_position(std::int64_t pos) { pos_ = checked_position(pos); }

// ---- TViewStream

std::uint32_t TViewStream::read(void* buffer, std::uint32_t count) { return read_from(v_, pos_, buffer, count); }

void TViewStream::write(const void*, std::uint32_t) { throw EStreamError("write to a read-only stream"); }

void TViewStream::set_position(std::int64_t pos) { pos_ = checked_position(pos); }

}  // namespace morvantile
