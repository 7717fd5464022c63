#pragma once

#include "core/results/results_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <type_traits>
#include <utility>

namespace vantrel {

namespace detail {

// Values of a trivially copyable T in one malloc'd block. Unlike a vector it sets no
// value before it is written, and it grows and shrinks with realloc, which moves a large
// block's pages instead of copying its bytes.
template <class T> class RawBuffer {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    RawBuffer() = default;
    RawBuffer(const RawBuffer&) = delete;
    RawBuffer& operator=(const RawBuffer&) = delete;
    RawBuffer(RawBuffer&& other) noexcept
        : m_data(std::exchange(other.m_data, nullptr))
        , m_size(std::exchange(other.m_size, 0))
        , m_capacity(std::exchange(other.m_capacity, 0))
    {
    }
    RawBuffer& operator=(RawBuffer&& other) noexcept
    {
        if (this != &other) {
            std::free(m_data);
            m_data = std::exchange(other.m_data, nullptr);
            m_size = std::exchange(other.m_size, 0);
            m_capacity = std::exchange(other.m_capacity, 0);
        }
        return *this;
    }
    ~RawBuffer() { std::free(m_data); }

    T* data() { return m_data; }
    const T* data() const { return m_data; }
    std::size_t size() const { return m_size; }
    std::size_t capacity() const { return m_capacity; }
    const T& operator[](std::size_t i) const { return m_data[i]; }
    const T& back() const { return m_data[m_size - 1]; }

    // Room for exactly `capacity` values, never fewer than held; false when memory is short
    // (nothing changes then).
    bool setCapacity(std::size_t capacity)
    {
        if (capacity < m_size)
            capacity = m_size;
        if (capacity == m_capacity)
            return true;
        if (capacity == 0) {
            release();
            return true;
        }
        if (capacity > SIZE_MAX / sizeof(T))
            return false;
        void* grown = std::realloc(m_data, capacity * sizeof(T));
        if (!grown)
            return false;
        m_data = static_cast<T*>(grown);
        m_capacity = capacity;
        return true;
    }
    // Within the capacity; values past the old size are whatever was written there.
    void resize(std::size_t size) { m_size = size; }
    // Within the capacity.
    void push(T value) { m_data[m_size++] = value; }
    void release()
    {
        std::free(m_data);
        m_data = nullptr;
        m_size = m_capacity = 0;
    }

private:
    T* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
};

} // namespace detail

// The records of the results file's local copy, kept as the file's own bytes plus where
// each record starts (8 bytes a record): a list of a million results costs little more
// than the file itself. A record's texts are decoded when it is asked for. The copy only
// grows at its end, so a later read adds what was appended and indexes on from the last
// whole record: a record cut short by the end of one read may be whole in the next.
class ResultsTable {
public:
    ResultsTable() = default;
    // Every complete record of bytes, in file order; stops where DecodeResultRecords
    // stops (a record cut short, a negative length, one reaching past the end).
    explicit ResultsTable(std::string_view bytes);

    std::size_t size() const { return m_index.size() == 0 ? 0 : m_index.size() - 1; }
    bool empty() const { return size() == 0; }

    // Record row (0-based), texts in UTF-8; empty past the last row.
    ResultRecord record(std::size_t row) const;
    // The bytes of record row: from its start to where the next begins; empty past the last row.
    std::string_view recordBytes(std::size_t row) const;

    // Bytes held: every whole record, then the start of one cut short, if any.
    std::size_t byteCount() const { return m_bytes.size(); }
    // Where the last whole record ends.
    std::size_t indexedBytes() const
    {
        return m_index.size() == 0 ? 0 : static_cast<std::size_t>(m_index.back());
    }
    // Memory held, for accounting.
    std::size_t byteSize() const { return m_bytes.capacity() + m_index.capacity() * sizeof(std::uint64_t); }

    // Adds bytes after those held and indexes the records they complete. False when
    // memory is short; the table is as it was then.
    bool append(std::string_view bytes);

    // Reads the file open at fd from byteCount() to its end and indexes the records that
    // completes; an empty table reads it from its first byte. False (errno set) when it
    // can't be read or memory is short; the table is as it was then.
    bool readMore(int fd);
    // True when the file open at fd is the one the bytes were read from (not another put
    // in its place), holds at least as many bytes, and still has the same ones where the
    // last read ended: readMore then only adds what was appended.
    bool continuedBy(int fd) const;

    // Forgets every record; keeps the memory for the next read.
    void clear();
    // Forgets every record and hands the memory back.
    void release();

private:
    // Room in the index for every record byteCount bytes could hold.
    bool reserveIndex(std::size_t byteCount);
    // Indexes the records that lie whole in the bytes held, from the last one indexed on.
    void indexWholeRecords();

    detail::RawBuffer<char> m_bytes;
    // Row i is the bytes from entry i to entry i + 1: the entry after the last row is
    // where the last whole record ends, so the last row reads between two entries too.
    // Empty while nothing is held.
    detail::RawBuffer<std::uint64_t> m_index;
    // The file the bytes came from, to tell it from one renamed over it.
    bool m_fromFile = false;
    std::uint64_t m_device = 0;
    std::uint64_t m_inode = 0;
};

} // namespace vantrel
