#include "arrow/export.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <format>
#include <limits>
#include <memory>
#include <new>

#include "base/quoted.hpp"
#include "engine/column_view.hpp"

namespace tarnwick::arrow {

namespace {

// Pointer for the buffers of empty arrays: consumers may read the first
// offset of an empty string array, and some refuse null data pointers.
alignas(64) const std::int64_t zero_block[2] = {0, 0};

const void* or_zero(const void* pointer) {
    return pointer == nullptr ? zero_block : pointer;
}

// The children of a struct schema or array, filled one by one. Whatever is
// filled and not moved out by a consumer is released with them: by the
// parent's release, or, when filling fails midway, with the parent's data.
template <class T>
struct Children {
    std::vector<T> structs;
    std::vector<T*> pointers;

    explicit Children(std::size_t count) : structs(count), pointers(count) {
        for (std::size_t i = 0; i < count; ++i) {
            structs[i].release = nullptr;
            pointers[i] = &structs[i];
        }
    }
    Children(const Children&) = delete;
    Children& operator=(const Children&) = delete;
    ~Children() {
        for (T& child : structs)
            release_if_live(child);
    }
    std::int64_t count() const { return static_cast<std::int64_t>(structs.size()); }
    T** list() { return structs.empty() ? nullptr : pointers.data(); }
};

// -- schema ----------------------------------------------------------------------

struct SchemaData {
    SchemaData(std::string format_text, std::string name_text, std::size_t width)
        : format(std::move(format_text)), name(std::move(name_text)), children(width) {}

    std::string format;
    std::string name;
    Children<ArrowSchema> children;
};

void release_schema(ArrowSchema* schema) {
    delete static_cast<SchemaData*>(schema->private_data);
    schema->release = nullptr;
}

void fill_schema(ArrowSchema* out, std::unique_ptr<SchemaData> data, std::int64_t flags) {
    out->format = data->format.c_str();
    out->name = data->name.c_str();
    out->metadata = nullptr;
    out->flags = flags;
    out->n_children = data->children.count();
    out->children = data->children.list();
    out->dictionary = nullptr;
    out->release = release_schema;
    out->private_data = data.release();
}

// -- arrays ----------------------------------------------------------------------

void release_column_array(ArrowArray* array) {
    delete static_cast<std::shared_ptr<const ColumnBuffers>*>(array->private_data);
    array->release = nullptr;
}

struct BatchArrayData {
    explicit BatchArrayData(std::size_t width) : children(width) {}

    Children<ArrowArray> children;
    const void* buffers[1] = {nullptr};
};

void release_batch_array(ArrowArray* array) {
    delete static_cast<BatchArrayData*>(array->private_data);
    array->release = nullptr;
}

// Packs presence bytes (0 or 1), entry i being present[at(i)], into an Arrow
// validity bitmap, least significant bit first; returns the number missing.
template <class At>
std::int64_t pack_validity(const std::uint8_t* present, std::size_t size, At at,
                           PodVector<std::uint8_t>& bitmap) {
    std::size_t bytes = (size + 7) / 8;
    bitmap.resize_for_overwrite(bytes);
    std::size_t set = 0;
    for (std::size_t b = 0; b < bytes; ++b) {
        std::size_t end = std::min(size, b * 8 + 8);
        unsigned bits = 0;
        for (std::size_t i = b * 8; i < end; ++i)
            bits |= (present[at(i)] != 0 ? 1u : 0u) << (i % 8);
        bitmap[b] = static_cast<std::uint8_t>(bits);
        set += static_cast<std::size_t>(std::popcount(bits));
    }
    return static_cast<std::int64_t>(size - set);
}

constexpr std::size_t max_small_bytes = std::numeric_limits<std::int32_t>::max();

// The format of a column of each kind.
const char* format_of(IntView) {
    return "l";
}
const char* format_of(FloatView) {
    return "g";
}

// The buffers of a stored column shown in storage order.
std::shared_ptr<ColumnBuffers> plain_buffers(const Shared<ColumnValues>& values) {
    auto out = std::make_shared<ColumnBuffers>();
    out->length = static_cast<std::int64_t>(values->size());
    out->shared = values;
    if (const std::uint8_t* present = values->presence()) {
        out->null_count =
            pack_validity(present, values->size(), [](std::size_t i) { return i; }, out->validity);
    }
    visit(*values, Overloaded{
                       [&](auto view) {
                           out->format = format_of(view);
                           out->buffers[1] = or_zero(view.values);
                       },
                       [&](TextView view) {
                           out->n_buffers = 3;
                           out->buffers[2] = or_zero(view.bytes);
                           if (values->byte_size() > max_small_bytes) {
                               // The stored 64-bit offsets serve as they are.
                               out->format = "U";
                               out->buffers[1] = or_zero(view.offsets);
                               return;
                           }
                           out->format = "u";
                           std::size_t count = values->size() + 1;
                           out->offsets32.resize_for_overwrite(count);
                           for (std::size_t i = 0; i < count; ++i)
                               out->offsets32[i] = static_cast<std::int32_t>(view.offsets[i]);
                           out->buffers[1] = or_zero(out->offsets32.data());
                       },
                   });
    out->buffers[0] = out->null_count == 0 ? nullptr : out->validity.data();
    return out;
}

template <class O>
void gather_texts(TextView view, std::span<const std::uint32_t> positions, PodVector<O>& offsets,
                  PodVector<char>& bytes) {
    offsets.resize_for_overwrite(positions.size() + 1);
    char* to = bytes.data();
    std::size_t at = 0;
    for (std::size_t i = 0; i < positions.size(); ++i) {
        offsets[i] = static_cast<O>(at);
        std::string_view text = view[positions[i]];
        if (!text.empty()) std::memcpy(to + at, text.data(), text.size());
        at += text.size();
    }
    offsets[positions.size()] = static_cast<O>(at);
}

// The buffers of a stored column shown through a selection, gathered.
std::shared_ptr<ColumnBuffers> selected_buffers(const ColumnValues& values,
                                                std::span<const std::uint32_t> positions) {
    auto out = std::make_shared<ColumnBuffers>();
    out->length = static_cast<std::int64_t>(positions.size());
    if (const std::uint8_t* present = values.presence()) {
        out->null_count = pack_validity(
            present, positions.size(), [&](std::size_t i) { return positions[i]; }, out->validity);
    }
    visit(values, Overloaded{
                      [&](IntView view) {
                          out->ints = gather_values(view.values, positions);
                          out->buffers[1] = or_zero(out->ints.data());
                      },
                      [&](FloatView view) {
                          out->format = "g";
                          out->floats = gather_values(view.values, positions);
                          out->buffers[1] = or_zero(out->floats.data());
                      },
                      [&](TextView view) {
                          std::size_t total = 0;
                          for (std::uint32_t p : positions)
                              total += view.length(p);
                          out->n_buffers = 3;
                          out->bytes.resize_for_overwrite(total);
                          out->buffers[2] = or_zero(out->bytes.data());
                          if (total > max_small_bytes) {
                              out->format = "U";
                              gather_texts(view, positions, out->offsets64, out->bytes);
                              out->buffers[1] = or_zero(out->offsets64.data());
                          } else {
                              out->format = "u";
                              gather_texts(view, positions, out->offsets32, out->bytes);
                              out->buffers[1] = or_zero(out->offsets32.data());
                          }
                      },
                  });
    out->buffers[0] = out->null_count == 0 ? nullptr : out->validity.data();
    return out;
}

void export_column(const ExportedColumn& column, ArrowArray* out) {
    auto owner = std::make_unique<std::shared_ptr<const ColumnBuffers>>(column.buffers);
    const ColumnBuffers& buffers = *column.buffers;
    out->length = buffers.length;
    out->null_count = buffers.null_count;
    out->offset = 0;
    out->n_buffers = buffers.n_buffers;
    out->n_children = 0;
    out->buffers = const_cast<const void**>(buffers.buffers);
    out->children = nullptr;
    out->dictionary = nullptr;
    out->release = release_column_array;
    out->private_data = owner.release();
}

void export_batch(const ExportedTable& table, ArrowArray* out) {
    std::size_t width = table.columns.size();
    auto data = std::make_unique<BatchArrayData>(width);
    for (std::size_t i = 0; i < width; ++i)
        export_column(table.columns[i], &data->children.structs[i]);
    out->length = static_cast<std::int64_t>(table.height);
    out->null_count = 0;
    out->offset = 0;
    out->n_buffers = 1;
    out->n_children = data->children.count();
    out->buffers = data->buffers;
    out->children = data->children.list();
    out->dictionary = nullptr;
    out->release = release_batch_array;
    out->private_data = data.release();
}

// -- stream ----------------------------------------------------------------------

struct StreamData {
    ExportedTable table;
    bool done = false;
    std::string last_error;
};

// Runs a step of the stream, turning a failure to allocate into an errno
// code: no C++ exception may reach the consumer.
template <class Step>
int stream_step(ArrowArrayStream* stream, Step&& step) noexcept {
    auto* data = static_cast<StreamData*>(stream->private_data);
    try {
        step(*data);
        return 0;
    } catch (const std::bad_alloc&) {
        data->last_error = "out of memory";
        return ENOMEM;
    } catch (...) {
        data->last_error = "export failed";
        return EIO;
    }
}

int stream_get_schema(ArrowArrayStream* stream, ArrowSchema* out) {
    return stream_step(stream, [&](StreamData& data) { export_schema(data.table, out); });
}

int stream_get_next(ArrowArrayStream* stream, ArrowArray* out) {
    return stream_step(stream, [&](StreamData& data) {
        if (data.done) {
            out->release = nullptr;  // the end of the stream
            return;
        }
        export_batch(data.table, out);
        data.done = true;
    });
}

const char* stream_get_last_error(ArrowArrayStream* stream) {
    auto* data = static_cast<StreamData*>(stream->private_data);
    return data->last_error.empty() ? nullptr : data->last_error.c_str();
}

void stream_release(ArrowArrayStream* stream) {
    delete static_cast<StreamData*>(stream->private_data);
    stream->release = nullptr;
}

}  // namespace

const char* column_format(const ExportedColumn& column) {
    return column.buffers->format;
}

void ColumnBuffers::widen() {
    if (format[0] != 'u') return;
    format = "U";
    if (shared) {
        buffers[1] = or_zero(shared->offsets().data());  // the stored 64-bit offsets
    } else {
        offsets64.resize_for_overwrite(offsets32.size());
        for (std::size_t i = 0; i < offsets32.size(); ++i)
            offsets64[i] = offsets32[i];
        buffers[1] = or_zero(offsets64.data());
    }
    offsets32 = {};
}

Result<ExportedTable> export_table(const Frame& frame) {
    ExportedTable table;
    table.height = frame.height();
    table.columns.reserve(frame.width());
    for (const Column& column : frame.columns()) {
        if (column.name.find('\0') != std::string::npos) {
            return frame_error(
                std::format("column {} has a NUL character, which an Arrow field name cannot hold",
                            quoted(column.name)));
        }
    }
    for (const Column& column : frame.columns()) {
        ExportedColumn exported;
        exported.name = column.name;
        if (const RowSelection* selection = frame.selection()) {
            exported.buffers = selected_buffers(*column.values, selection->span());
        } else {
            exported.buffers = plain_buffers(column.values);
        }
        table.columns.push_back(std::move(exported));
    }
    return table;
}

Result<void> apply_requested_schema(ExportedTable& table, const ArrowSchema& requested) {
    if (requested.format == nullptr || std::strcmp(requested.format, "+s") != 0) {
        return frame_error(
            std::format("the requested schema is not a struct (format \"{}\"); the frame is one",
                        requested.format == nullptr ? "" : requested.format));
    }
    if (requested.n_children != static_cast<std::int64_t>(table.columns.size())) {
        return frame_error(
            std::format("the requested schema has {} fields; the frame has {} columns",
                        requested.n_children, table.columns.size()));
    }
    std::vector<bool> large(table.columns.size());
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
        const ExportedColumn& column = table.columns[i];
        const ArrowSchema* field = requested.children == nullptr ? nullptr : requested.children[i];
        if (field == nullptr) return frame_error("the requested schema lacks a field");
        std::string_view name = field->name == nullptr ? "" : field->name;
        if (name != column.name) {
            return frame_error(
                std::format("the requested schema has field {} where the frame has "
                            "column {}",
                            quoted(name), quoted(column.name)));
        }
        std::string_view format = field->format == nullptr ? "" : field->format;
        std::string_view own = column_format(column);
        large[i] = column.buffers->is_large();
        if (format == own && field->dictionary == nullptr) continue;
        if (format == "U" && own == "u" && field->dictionary == nullptr) {
            large[i] = true;  // widened: the stored 64-bit offsets serve as they are
            continue;
        }
        return frame_error(std::format(
            "the requested schema asks for column {} as format \"{}\"; it can only be \"{}\"{}",
            quoted(column.name), format, own, own == "u" ? " or \"U\"" : ""));
    }
    for (std::size_t i = 0; i < table.columns.size(); ++i)
        if (large[i]) table.columns[i].buffers->widen();
    return {};
}

void export_schema(const ExportedTable& table, ArrowSchema* out) {
    std::size_t width = table.columns.size();
    auto data = std::make_unique<SchemaData>("+s", "", width);
    for (std::size_t i = 0; i < width; ++i) {
        auto child =
            std::make_unique<SchemaData>(column_format(table.columns[i]), table.columns[i].name, 0);
        fill_schema(&data->children.structs[i], std::move(child), ARROW_FLAG_NULLABLE);
    }
    fill_schema(out, std::move(data), 0);
}

void export_stream(ExportedTable table, ArrowArrayStream* out) {
    auto data = std::make_unique<StreamData>();
    data->table = std::move(table);
    out->get_schema = stream_get_schema;
    out->get_next = stream_get_next;
    out->get_last_error = stream_get_last_error;
    out->release = stream_release;
    out->private_data = data.release();
}

}  // namespace tarnwick::arrow
