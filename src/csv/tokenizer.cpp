#include "csv/tokenizer.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <format>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarnwick {

namespace {

// Chunks start small, so that a header of many columns with few rows stays
// cheap, and grow eightfold up to the largest size, which huge pages serve:
// first touches of ordinary pages are what reading a large text costs most,
// so little of a long column should live in small chunks.
constexpr std::size_t first_chunk_spans = 4;
constexpr std::size_t chunk_growth = 8;
constexpr std::size_t largest_chunk_spans = (std::size_t{6} << 20) / sizeof(FieldSpan);
// After this many rows the bytes per row so far tell how long the columns
// will grow; a column the rest of the text will make long skips the middle
// sizes and takes the largest chunks at once.
constexpr std::uint64_t sample_rows = 1024;

bool ends_unquoted_field(char c) {
    return c == ',' || c == '\n' || c == '\r';
}

// Finds the commas, LFs and CRs of the text 64 bytes at a time: one bit per
// byte, so that the end of each field costs a few bit operations instead of a
// scan of its own.
class SeparatorWindow {
  public:
    explicit SeparatorWindow(const char* end) : end_(end) {}

    // The first comma, LF or CR at or after `p`, or `end`.
    const char* next(const char* p) {
        while (true) {
            // Negative offsets (p before the window) wrap to large ones.
            auto offset = static_cast<std::size_t>(p - start_);
            if (offset < 64) {
                std::uint64_t ahead = bits_ >> offset;
                if (ahead != 0) return p + std::countr_zero(ahead);
                p = start_ + 64;
            }
            if (p >= end_) return end_;
            load(p);
        }
    }

  private:
    void load(const char* p) {
        start_ = p;
        bits_ = end_ - p >= 64 ? separators(p) : tail_separators(p);
    }

    // Apart, so that the padded copy costs nothing on the way of the rest.
    [[gnu::noinline]] std::uint64_t tail_separators(const char* p) const {
        // Zero bytes stand beyond the text and are no separators.
        char tail[64] = {};
        std::memcpy(tail, p, static_cast<std::size_t>(end_ - p));
        return separators(tail);
    }

    static std::uint64_t separators(const char* p) {
#if defined(__SSE2__)
        const __m128i comma = _mm_set1_epi8(',');
        const __m128i lf = _mm_set1_epi8('\n');
        const __m128i cr = _mm_set1_epi8('\r');
        std::uint64_t bits = 0;
        for (int i = 0; i < 4; ++i) {
            __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
            __m128i hits =
                _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, comma), _mm_cmpeq_epi8(block, lf)),
                             _mm_cmpeq_epi8(block, cr));
            bits |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(hits)))
                    << (16 * i);
        }
        return bits;
#else
        std::uint64_t bits = 0;
        for (int i = 0; i < 64; ++i)
            bits |= static_cast<std::uint64_t>(ends_unquoted_field(p[i])) << i;
        return bits;
#endif
    }

    const char* end_;
    const char* start_ = nullptr;
    std::uint64_t bits_ = 0;
};

// The first double quote at or after `p`, or `end`; adds the LF bytes passed
// over to `line`.
const char* find_quote(const char* p, const char* end, std::uint64_t& line) {
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i lf = _mm_set1_epi8('\n');
    while (end - p >= 16) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        unsigned quotes = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, quote)));
        unsigned lfs = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, lf)));
        if (quotes != 0) {
            unsigned before = (1u << std::countr_zero(quotes)) - 1;
            line += static_cast<unsigned>(std::popcount(lfs & before));
            return p + std::countr_zero(quotes);
        }
        line += static_cast<unsigned>(std::popcount(lfs));
        p += 16;
    }
#endif
    for (; p != end && *p != '"'; ++p)
        line += *p == '\n';
    return p;
}

class Tokenizer {
  public:
    explicit Tokenizer(std::string_view text)
        : base_(text.data()), end_(text.data() + text.size()), p_(base_) {}

    Result<Tokens> run() {
        while (p_ != end_) {
            std::uint64_t record_line = line_;
            if (std::optional<std::string> failure = read_record(record_line)) {
                return frame_error(std::move(*failure));
            }
            ++line_;
            take_record(record_line);
        }
        if (!have_header_) return frame_error("no header line");
        if (pending_) return frame_error(std::move(*pending_));
        return std::move(tokens_);
    }

  private:
    std::uint32_t offset(const char* p) const { return static_cast<std::uint32_t>(p - base_); }

    // Reads one record and moves past its line end: the header's fields into
    // the record buffer, a data record's straight into their columns (a record
    // whose field count is wrong fails the read, so what it left in the
    // columns is never read). Returns the message of a quote failure.
    std::optional<std::string> read_record(std::uint64_t record_line) {
        record_.clear();
        fields_ = 0;
        if (have_header_ && (*p_ == '\n' || *p_ == '\r')) {
            // A blank line: one empty field, skipped.
            blank_ = true;
            if (*p_++ == '\r' && p_ != end_ && *p_ == '\n') ++p_;
            return std::nullopt;
        }
        blank_ = false;
        while (true) {
            if (p_ == end_) {
                add_field({offset(p_), offset(p_), false, false});
                return std::nullopt;
            }
            if (*p_ != '"') {
                const char* stop = window_.next(p_);
                add_field({offset(p_), offset(stop), false, false});
                p_ = stop;
            } else if (std::optional<std::string> failure = read_quoted_field(record_line)) {
                return failure;
            }
            if (p_ == end_) return std::nullopt;
            char ender = *p_++;
            if (ender == ',') continue;
            if (ender == '\r' && p_ != end_ && *p_ == '\n') ++p_;
            return std::nullopt;
        }
    }

    // At an opening quote: reads up to the closing quote and leaves p_ after it.
    std::optional<std::string> read_quoted_field(std::uint64_t record_line) {
        const char* content = p_ + 1;
        const char* search = content;
        bool doubled = false;
        while (true) {
            const char* quote = find_quote(search, end_, line_);
            if (quote == end_) {
                return std::format("line {}: a quoted field is never closed", record_line);
            }
            const char* after = quote + 1;
            if (after != end_ && *after == '"') {
                doubled = true;
                search = after + 1;
                continue;
            }
            if (after != end_ && !ends_unquoted_field(*after)) {
                return std::format("line {}: text after a closing quote", line_);
            }
            add_field({offset(content), offset(quote), true, doubled});
            p_ = after;
            return std::nullopt;
        }
    }

    // A data record with more fields than the header is dropped, so its
    // fields beyond the header's count are only counted: a long line cannot
    // make anything grow past the header.
    void add_field(FieldSpan span) {
        if (!have_header_) {
            record_.push_back(span);
        } else if (fields_ < width_) {
            columns_[fields_].push_back(span);
        }
        ++fields_;
    }

    void take_record(std::uint64_t record_line) {
        if (!have_header_) {
            if (fields_ == 1 && record_[0].is_empty_unquoted()) return;  // a blank line
            have_header_ = true;
            tokens_.header = record_.clone();
            tokens_.columns.resize(record_.size());
            columns_ = tokens_.columns.data();
            width_ = record_.size();
            rows_start_ = p_;
            return;
        }
        if (blank_) return;
        if (fields_ != width_) {
            if (!pending_) {
                pending_ = std::format("line {}: {} fields; the header has {}", record_line,
                                       fields_, width_);
            }
            return;
        }
        if (++tokens_.rows == sample_rows) reserve_for_the_rest();
    }

    void reserve_for_the_rest() {
        auto rows = static_cast<double>(tokens_.rows);
        double bytes_per_row = static_cast<double>(p_ - rows_start_) / rows;
        auto remaining = static_cast<std::size_t>(end_ - p_);
        auto expected =
            static_cast<std::size_t>(static_cast<double>(remaining) / bytes_per_row * 1.1) + 16;
        // A row takes at least one byte per field, so no more can come.
        std::size_t possible = remaining / tokens_.columns.size() + 1;
        for (SpanColumn& column : tokens_.columns)
            column.reserve(std::min(expected, possible));
    }

    const char* base_;
    const char* end_;
    const char* p_;
    const char* rows_start_ = nullptr;  // where the line after the header starts
    std::uint64_t line_ = 1;
    SeparatorWindow window_{end_};
    PodVector<FieldSpan> record_;  // the header's fields
    std::size_t fields_ = 0;       // of the record being read
    bool blank_ = false;           // the record being read is a blank line
    Tokens tokens_;
    SpanColumn* columns_ = nullptr;  // tokens_.columns, once the header is known
    std::size_t width_ = 0;
    bool have_header_ = false;
    std::optional<std::string> pending_;
};

}  // namespace

std::size_t SpanColumn::next_chunk_spans() const {
    std::size_t last = chunks_.empty() ? 0 : chunks_.back().size();
    return std::clamp(last * chunk_growth, first_chunk_spans, largest_chunk_spans);
}

void SpanColumn::add_chunk(std::size_t spans) {
    if (!chunks_.empty()) {
        // The chunk closes at what it holds; its unused end is never read.
        std::size_t held = last_chunk_size();
        chunks_.back().resize_for_overwrite(held);
        full_size_ += held;
    }
    chunks_.reserve(chunks_.size() + 1);
    PodVector<FieldSpan> chunk(spans);
    next_ = chunk.data();
    limit_ = next_ + spans;
    chunks_.push_back(std::move(chunk));
}

void SpanColumn::reserve(std::size_t spans) {
    auto room = static_cast<std::size_t>(limit_ - next_);
    // Nothing to do when the room left and the next chunk of the usual size
    // hold them.
    if (spans <= room + next_chunk_spans()) return;
    add_chunk(std::min(spans, largest_chunk_spans));
}

void SpanColumn::release_chunk(std::size_t i) {
    if (i + 1 == chunks_.size()) {
        next_ = limit_ = nullptr;
    } else {
        full_size_ -= chunks_[i].size();
    }
    chunks_[i] = PodVector<FieldSpan>();
}

Result<Tokens> tokenize(std::string_view text) {
    return Tokenizer(text).run();
}

std::size_t copy_field_text(char* out, std::string_view text, FieldSpan span) {
    const char* from = text.data() + span.start;
    std::size_t size = span.end - span.start;
    if (!span.doubled) {
        if (size != 0) std::memcpy(out, from, size);
        return size;
    }
    // Inside a quoted field every quote is one of a doubled pair.
    char* start = out;
    for (std::size_t i = 0; i < size; ++i) {
        *out++ = from[i];
        if (from[i] == '"') ++i;
    }
    return static_cast<std::size_t>(out - start);
}

std::string field_text(std::string_view text, FieldSpan span) {
    std::string result(span.end - span.start, '\0');
    result.resize(copy_field_text(result.data(), text, span));
    return result;
}

}  // namespace tarnwick
