#include "csv/tokenizer.hpp"

#include <bit>
#include <cstring>
#include <format>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarnwick {

namespace {

bool ends_unquoted_field(char c) {
    return c == ',' || c == '\n' || c == '\r';
}

std::uint64_t separators(const char* p) {
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

}  // namespace

RecordBlock::RecordBlock(std::size_t width, std::size_t capacity)
    : spans_(width * capacity), width_(width), capacity_(capacity) {}

// Inlined where fields are read: it runs once per field.
[[gnu::always_inline]] inline const char* Tokenizer::SeparatorWindow::next(const char* p) {
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

void Tokenizer::SeparatorWindow::load(const char* p) {
    start_ = p;
    bits_ = end_ - p >= 64 ? separators(p) : tail_separators(p);
}

// Apart, so that the padded copy costs nothing on the way of the rest.
[[gnu::noinline]] std::uint64_t Tokenizer::SeparatorWindow::tail_separators(const char* p) const {
    // Zero bytes stand beyond the text and are no separators.
    char tail[64] = {};
    std::memcpy(tail, p, static_cast<std::size_t>(end_ - p));
    return separators(tail);
}

Tokenizer::Tokenizer(std::string_view text)
    : base_(text.data()), end_(text.data() + text.size()), p_(base_) {}

std::optional<std::string> Tokenizer::read_header() {
    while (p_ != end_) {
        std::uint64_t record_line = line_;
        if (std::optional<std::string> failure = read_record(record_line)) return failure;
        ++line_;
        if (fields_ == 1 && header_[0].is_empty_unquoted()) continue;  // a blank line
        have_header_ = true;
        width_ = header_.size();
        return std::nullopt;
    }
    return "no header line";
}

std::optional<std::string> Tokenizer::read_block(RecordBlock& block) {
    block.rows_ = 0;
    while (p_ != end_ && block.rows_ < block.capacity_) {
        std::uint64_t record_line = line_;
        record_out_ = block.spans_.data() + block.rows_ * width_;
        if (std::optional<std::string> failure = read_record(record_line)) return failure;
        ++line_;
        if (blank_) continue;
        if (fields_ != width_) {
            // Left out: the next record overwrites what this one wrote.
            if (!pending_) {
                pending_ = std::format("line {}: {} fields; the header has {}", record_line,
                                       fields_, width_);
            }
            continue;
        }
        ++block.rows_;
    }
    return std::nullopt;
}

// Reads one record and moves past its line end: the header's fields into the
// header, a data record's into the block (those beyond the header's count are
// only counted, so a long line cannot make anything grow). Returns the message
// of a quote failure.
[[gnu::always_inline]] inline std::optional<std::string> Tokenizer::read_record(
    std::uint64_t record_line) {
    fields_ = 0;
    if (have_header_ && (*p_ == '\n' || *p_ == '\r')) {
        // A blank line: one empty field, skipped.
        blank_ = true;
        if (*p_++ == '\r' && p_ != end_ && *p_ == '\n') ++p_;
        return std::nullopt;
    }
    blank_ = false;
    if (!have_header_) header_.clear();
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
std::optional<std::string> Tokenizer::read_quoted_field(std::uint64_t record_line) {
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

[[gnu::always_inline]] inline void Tokenizer::add_field(FieldSpan span) {
    if (!have_header_) {
        header_.push_back(span);
    } else if (fields_ < width_) {
        record_out_[fields_] = span;
    }
    ++fields_;
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
