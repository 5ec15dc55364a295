// The first pass of the CSV reader: splits the text into records and fields
// and checks their shape. Field contents are not copied; each field is kept as
// a 12-byte span of offsets into the text.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/error.hpp"
#include "engine/pod_vector.hpp"

namespace tarnwick {

// One field of one record. Offsets are bytes into the text; a quoted field's
// span excludes its enclosing quotes, and `doubled` says that a doubled quote
// inside it stands for one quote character.
struct FieldSpan {
    std::uint32_t start;
    std::uint32_t end;
    bool quoted;
    bool doubled;

    bool is_empty_unquoted() const { return !quoted && start == end; }
};
static_assert(sizeof(FieldSpan) == 12);

// The spans of one column in record order. Stored in chunks that never move,
// so a growing column costs no copies, each chunk can be read as a plain
// array, and a chunk read for the last time can be freed at once. Chunks grow
// geometrically up to a few MiB, the size huge pages serve; reserve() skips
// the small sizes for a column expected to grow long.
class SpanColumn {
  public:
    SpanColumn() = default;
    SpanColumn(SpanColumn&&) noexcept = default;
    SpanColumn& operator=(SpanColumn&&) noexcept = default;

    void push_back(FieldSpan span) {
        if (next_ == limit_) add_chunk(next_chunk_spans());
        *next_++ = span;
    }
    // Expects `spans` more: makes the next chunk as large as that calls for.
    void reserve(std::size_t spans);
    std::size_t size() const { return full_size_ + last_chunk_size(); }
    std::size_t chunk_count() const { return chunks_.size(); }
    std::span<const FieldSpan> chunk(std::size_t i) const {
        const PodVector<FieldSpan>& c = chunks_[i];
        return {c.data(), i + 1 == chunks_.size() ? last_chunk_size() : c.size()};
    }
    // Frees a chunk that will not be read again.
    void release_chunk(std::size_t i);

  private:
    std::size_t last_chunk_size() const {
        return chunks_.empty() ? 0 : static_cast<std::size_t>(next_ - chunks_.back().data());
    }
    std::size_t next_chunk_spans() const;
    void add_chunk(std::size_t spans);

    std::vector<PodVector<FieldSpan>> chunks_;
    FieldSpan* next_ = nullptr;
    FieldSpan* limit_ = nullptr;
    std::size_t full_size_ = 0;  // spans in every chunk but the last
};

struct Tokens {
    PodVector<FieldSpan> header;
    // One per header field, each as long as `rows`.
    std::vector<SpanColumn> columns;
    std::uint64_t rows = 0;
};

// Splits `text` (the bytes after any byte-order mark, fewer than 2^32 of them)
// into the header and the column span lists. Fails with the first quote
// failure, else "no header line", else the first record whose field count
// differs from the header's.
Result<Tokens> tokenize(std::string_view text);

// A field's text: its bytes, with each doubled quote of a quoted field made one.
std::string field_text(std::string_view text, FieldSpan span);

// Writes a field's text at `out` (room for span.end - span.start bytes) and
// returns the number of bytes written.
std::size_t copy_field_text(char* out, std::string_view text, FieldSpan span);

}  // namespace tarnwick
