// Fuzzes the CSV reader on arbitrary bytes. Whatever the input, reading must
// end with a frame or one of the reader's messages, the same however many
// records it types at a time; a frame it reads must be sound, and writing it
// and reading that text back must give the same columns with exactly the
// exceptions the writer documents.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <regex>
#include <string>
#include <unordered_set>
#include <variant>
#include <vector>

#include "csv/reader.hpp"
#include "csv/writer.hpp"
#include "repr/frame_text.hpp"
#include "repr/number_text.hpp"

namespace {

using namespace tarnwick;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "read_csv_fuzz: %s\n", what.c_str());
    std::abort();
}

void check(bool condition, const std::string& what) {
    if (!condition) fail(what);
}

bool is_reader_message(const std::string& message) {
    static const std::regex known(
        "no header line|the text is over 4 GB|line [1-9][0-9]*: (a quoted field is never closed|"
        "text after a closing quote|[1-9][0-9]* fields; the header has [1-9][0-9]*)|"
        "the frame has a column \".*\" already");
    return std::regex_match(message, known);
}

// One entry as the round trip should keep it: missing, or the value's bits.
using Entry = std::optional<std::variant<std::int64_t, std::uint64_t, std::string>>;

struct ColumnImage {
    std::string name;
    DType dtype;
    std::vector<Entry> entries;
    bool operator==(const ColumnImage&) const = default;
};

Entry entry_of(const ColumnValues& values, std::size_t position) {
    if (!values.is_present(position)) return std::nullopt;
    switch (values.dtype()) {
        case DType::i64: return values.ints()[position];
        case DType::f64: return std::bit_cast<std::uint64_t>(values.floats()[position]);
        case DType::str: return std::string(values.string(position));
    }
    return std::nullopt;
}

std::vector<ColumnImage> image_of(const Frame& frame) {
    std::vector<ColumnImage> image;
    for (const Column& column : frame.columns()) {
        ColumnImage c{column.name, column.dtype(), {}};
        frame.for_each_position([&](std::size_t, std::size_t position) {
            c.entries.push_back(entry_of(*column.values, position));
        });
        image.push_back(std::move(c));
    }
    return image;
}

// What reading the written text gives: a one-column frame loses its rows with
// a missing value (they are blank lines); a column with no present value comes
// back i64; an f64 column holding a NaN or positive infinity comes back str,
// each value as its text.
std::vector<ColumnImage> expected_back(const Frame& frame) {
    std::vector<ColumnImage> image = image_of(frame);
    if (image.size() == 1) std::erase(image[0].entries, Entry{});
    for (ColumnImage& column : image) {
        bool any_present = false;
        bool unreadable = false;
        for (const Entry& entry : column.entries) {
            if (!entry) continue;
            any_present = true;
            if (column.dtype == DType::f64) {
                double value = std::bit_cast<double>(std::get<std::uint64_t>(*entry));
                unreadable |= std::isnan(value) || value == INFINITY;
            }
        }
        if (!any_present) {
            column.dtype = DType::i64;
        } else if (unreadable) {
            column.dtype = DType::str;
            for (Entry& entry : column.entries) {
                if (!entry) continue;
                entry = format_f64(std::bit_cast<double>(std::get<std::uint64_t>(*entry)));
            }
        }
    }
    return image;
}

void check_sound(const Frame& frame) {
    check(frame.selection() == nullptr, "a read frame has no selection");
    check(frame.width() > 0, "a read frame has a column");
    std::unordered_set<std::string_view> names;
    for (const Column& column : frame.columns()) {
        check(names.insert(column.name).second, "names are unique");
        check(column.values->size() == frame.height(), "every column is as long as the frame");
        if (column.dtype() == DType::str) {
            std::span<const std::uint64_t> offsets = column.values->offsets();
            check(offsets.back() == column.values->byte_size(), "string offsets end at the bytes");
        }
    }
}

}  // namespace

// Reading in blocks of a few records gives what reading in the usual blocks
// gives: the same frame, or the same message.
void check_blocks_agree(std::string_view text, const Result<Frame>& frame) {
    Result<Frame> blocks = read_csv(text, 1 + text.size() % 3);
    check(blocks.has_value() == frame.has_value(), "blocks of a few records read alike");
    if (frame) {
        check(image_of(*blocks) == image_of(*frame), "blocks of a few records give the frame");
        return;
    }
    const auto* expected = std::get_if<FrameError>(&frame.error());
    const auto* got = std::get_if<FrameError>(&blocks.error());
    check(expected != nullptr && got != nullptr && got->message == expected->message,
          "blocks of a few records fail alike");
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    Result<Frame> frame = read_csv(text);
    check_blocks_agree(text, frame);
    if (!frame) {
        const auto* error = std::get_if<FrameError>(&frame.error());
        check(error != nullptr, "the reader fails only with its own messages");
        check(is_reader_message(error->message), "unknown message: " + error->message);
        return 0;
    }
    check_sound(*frame);
    (void)frame_text(*frame);
    PodVector<char> written = to_csv(*frame);
    Result<Frame> back = read_csv(std::string_view(written.data(), written.size()));
    if (!back) fail("written text is refused: " + std::get<FrameError>(back.error()).message);
    check_sound(*back);
    check(image_of(*back) == expected_back(*frame), "the round trip changed the frame");
    return 0;
}
