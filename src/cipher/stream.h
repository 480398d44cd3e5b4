// Minimal byte streams that the engine and the text codec move
// data through. `read` returns the number of bytes actually delivered, which
// may be fewer than asked for at the end of the data.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace morvantile {

class EStreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TStream {
public:
    virtual ~TStream() = default;

    virtual std::uint32_t read(void* buffer, std::uint32_t count) = 0;
    // Writes all `count` bytes or throws EStreamError.
    virtual void write(const void* buffer, std::uint32_t count) = 0;

    virtual std::int64_t position() const = 0;
    virtual void set_position(std::int64_t pos) = 0;
    virtual std::int64_t size() const = 0;

    void write(const std::string& bytes);

    // The whole size as the 32-bit count the cipher's stream operations
    // take; throws EStreamError for a stream of 4 GiB or more.
    std::uint32_t whole_size() const;
};

// A growable in-memory buffer. It usually holds plaintext or key-derived
// data, so its contents are wiped on every reallocation and at destruction.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(const std::string& initial);
    ~TMemoryStream() override;
    TMemoryStream(const TMemoryStream&) = delete;
    TMemoryStream& operator=(const TMemoryStream&) = delete;

    std::uint32_t read(void* buffer, std::uint32_t count) override;
    void write(const void* buffer, std::uint32_t count) override;
    using TStream::write;
    std::int64_t position() const override { return pos_; }
    void set_position(std::int64_t pos) override;
    std::int64_t size() const override { return static_cast<std::int64_t>(data_.size()); }

    // Shrinks or grows to `n` bytes (new bytes are zero); position is kept
    // but limited to the new size.
    void set_size(std::int64_t n);
    void clear();

    const std::string& data() const { return data_; }
    // Hands the contents to the caller and leaves the stream empty.
    std::string take();

private:
    void reserve_for(std::size_t needed);

    std::string data_;
    std::int64_t pos_ = 0;
};

// A stream over a caller-owned byte string; writes change that string.
class TStringStream : public TStream {
public:
    explicit TStringStream(std::string& target) : s_(target) {}

    std::uint32_t read(void* buffer, std::uint32_t count) override;
    void write(const void* buffer, std::uint32_t count) override;
    using TStream::write;
    std::int64_t position() const override { return pos_; }
    void set_position(std::int64_t pos) override;
    std::int64_t size() const override { return static_cast<std::int64_t>(s_.size()); }

private:
    std::string& s_;
    std::int64_t pos_ = 0;
};

// A read-only stream over bytes the caller keeps alive, so that encoding or
// decrypting a string needs no copy of it (and no copy to wipe).
class TViewStream : public TStream {
public:
    explicit TViewStream(std::string_view bytes) : v_(bytes) {}

    std::uint32_t read(void* buffer, std::uint32_t count) override;
    void write(const void* buffer, std::uint32_t count) override;
    using TStream::write;
    std::int64_t position() const override { return pos_; }
    void set_position(std::int64_t pos) override;
    std::int64_t size() const override { return static_cast<std::int64_t>(v_.size()); }

private:
    std::string_view v_;
    std::int64_t pos_ = 0;
};

}  // namespace morvantile
