// The first step of the CSV reader: splits the text into records and fields
// and checks their shape. Field contents are not copied; each field is kept as
// a 12-byte span of offsets into the text. Data records are handed out a block
// at a time, so that the reader can type a block's fields while their text is
// still in the caches.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

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

// The fields of consecutive data records, record after record: one output
// stream for the tokenizer however wide the records are. Reused from block to
// block.
class RecordBlock {
  public:
    // Room for `capacity` records of `width` fields (both at least 1).
    RecordBlock(std::size_t width, std::size_t capacity);

    std::size_t width() const { return width_; }
    std::size_t capacity() const { return capacity_; }
    // Records in the block.
    std::size_t rows() const { return rows_; }
    // Field `column` of record `row`.
    FieldSpan at(std::size_t row, std::size_t column) const {
        return spans_[row * width_ + column];
    }
    // Field `column` of the first record; that of record r is width() * r spans on.
    const FieldSpan* column_start(std::size_t column) const { return spans_.data() + column; }

  private:
    friend class Tokenizer;

    PodVector<FieldSpan> spans_;
    std::size_t width_;
    std::size_t capacity_;
    std::size_t rows_ = 0;
};

// Reads a text (the bytes after any byte-order mark, fewer than 2^32 of them)
// record by record: first the header, then the data records a block at a
// time.
class Tokenizer {
  public:
    explicit Tokenizer(std::string_view text);

    // Reads up to and including the header, the first record that is not
    // blank. Fails with a quote failure, or with "no header line" when the text
    // holds no such record.
    std::optional<std::string> read_header();
    std::span<const FieldSpan> header() const { return header_.span(); }

    // Fills `block` (as wide as the header) with the next data records: as many
    // as it holds, fewer where the text ends. A record whose field count differs
    // from the header's is left out, and the first such record's message is
    // kept (pending()). Fails with a quote failure.
    std::optional<std::string> read_block(RecordBlock& block);

    bool at_end() const { return p_ == end_; }
    // Bytes of the text read so far.
    std::size_t position() const { return static_cast<std::size_t>(p_ - base_); }
    // The message of the first record whose field count is wrong, if any.
    const std::optional<std::string>& pending() const { return pending_; }

  private:
    // Finds the commas, LFs and CRs of the text 64 bytes at a time: one bit per
    // byte, so that the end of each field costs a few bit operations instead of
    // a scan of its own.
    class SeparatorWindow {
      public:
        explicit SeparatorWindow(const char* end) : end_(end) {}
        // The first comma, LF or CR at or after `p`, or the end of the text.
        const char* next(const char* p);

      private:
        void load(const char* p);
        std::uint64_t tail_separators(const char* p) const;

        const char* end_;
        const char* start_ = nullptr;
        std::uint64_t bits_ = 0;
    };

    std::uint32_t offset(const char* p) const { return static_cast<std::uint32_t>(p - base_); }
    std::optional<std::string> read_record(std::uint64_t record_line);
    std::optional<std::string> read_quoted_field(std::uint64_t record_line);
    void add_field(FieldSpan span);

    const char* base_;
    const char* end_;
    const char* p_;
    std::uint64_t line_ = 1;
    SeparatorWindow window_{end_};
    PodVector<FieldSpan> header_;
    bool have_header_ = false;
    // The record being read: its fields so far, and where a data record's go.
    std::size_t fields_ = 0;
    FieldSpan* record_out_ = nullptr;
    std::size_t width_ = 0;
    bool blank_ = false;
    std::optional<std::string> pending_;
};

// A field's text: its bytes, with each doubled quote of a quoted field made one.
std::string field_text(std::string_view text, FieldSpan span);

// Writes a field's text at `out` (room for span.end - span.start bytes) and
// returns the number of bytes written.
std::size_t copy_field_text(char* out, std::string_view text, FieldSpan span);

}  // namespace tarnwick
