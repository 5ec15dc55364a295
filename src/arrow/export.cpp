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

namespace tarnwick::arrow {

namespace {

// Pointer for the buffers of empty arrays: consumers may read the first
// offset of an empty string array, and some refuse null data pointers.
alignas(64) const std::int64_t zero_block[2] = {0, 0};

const void* or_zero(const void* pointer) {
    return pointer == nullptr ? zero_block : pointer;
}

// -- schema ----------------------------------------------------------------------

struct SchemaData {
    std::string format;
    std::string name;
    std::vector<ArrowSchema> children;
    std::vector<ArrowSchema*> child_pointers;
};

void release_schema(ArrowSchema* schema) {
    auto* data = static_cast<SchemaData*>(schema->private_data);
    // A consumer may have moved a child out, leaving its release null.
    for (ArrowSchema& child : data->children)
        release_if_live(child);
    delete data;
    schema->release = nullptr;
}

void fill_schema(ArrowSchema* out, std::unique_ptr<SchemaData> data, std::int64_t flags) {
    out->format = data->format.c_str();
    out->name = data->name.c_str();
    out->metadata = nullptr;
    out->flags = flags;
    out->n_children = static_cast<std::int64_t>(data->children.size());
    out->children = data->child_pointers.empty() ? nullptr : data->child_pointers.data();
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
    std::vector<ArrowArray> children;
    std::vector<ArrowArray*> child_pointers;
    const void* buffers[1] = {nullptr};
};

void release_batch_array(ArrowArray* array) {
    auto* data = static_cast<BatchArrayData*>(array->private_data);
    for (ArrowArray& child : data->children)
        release_if_live(child);
    delete data;
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

template <class T>
PodVector<T> gather(std::span<const T> source, std::span<const std::uint32_t> positions) {
    PodVector<T> result(positions.size());
    T* out = result.data();
    for (std::size_t i = 0; i < positions.size(); ++i)
        out[i] = source[positions[i]];
    return result;
}

constexpr std::size_t max_small_bytes = std::numeric_limits<std::int32_t>::max();

// The buffers of a stored column shown in storage order.
std::shared_ptr<ColumnBuffers> plain_buffers(const Shared<ColumnValues>& values) {
    auto out = std::make_shared<ColumnBuffers>();
    out->dtype = values->dtype();
    out->length = static_cast<std::int64_t>(values->size());
    out->shared = values;
    if (const std::uint8_t* present = values->presence()) {
        out->null_count =
            pack_validity(present, values->size(), [](std::size_t i) { return i; }, out->validity);
    }
    if (out->dtype == DType::str) {
        out->large = values->byte_size() > max_small_bytes;
        if (!out->large) {
            std::span<const std::uint64_t> wide = values->offsets();
            out->offsets32.resize_for_overwrite(wide.size());
            for (std::size_t i = 0; i < wide.size(); ++i)
                out->offsets32[i] = static_cast<std::int32_t>(wide[i]);
        }
    }
    out->settle();
    return out;
}

// The buffers of a stored column shown through a selection, gathered.
std::shared_ptr<ColumnBuffers> selected_buffers(const ColumnValues& values,
                                                std::span<const std::uint32_t> positions) {
    auto out = std::make_shared<ColumnBuffers>();
    out->dtype = values.dtype();
    out->length = static_cast<std::int64_t>(positions.size());
    if (const std::uint8_t* present = values.presence()) {
        out->null_count = pack_validity(
            present, positions.size(), [&](std::size_t i) { return positions[i]; }, out->validity);
    }
    switch (values.dtype()) {
        case DType::i64: out->ints = gather(values.ints(), positions); break;
        case DType::f64: out->floats = gather(values.floats(), positions); break;
        case DType::str: {
            const std::uint64_t* offsets = values.offsets().data();
            std::size_t total = 0;
            for (std::uint32_t p : positions)
                total += offsets[p + 1] - offsets[p];
            out->large = total > max_small_bytes;
            out->bytes.resize_for_overwrite(total);
            if (out->large) {
                out->offsets64.resize_for_overwrite(positions.size() + 1);
            } else {
                out->offsets32.resize_for_overwrite(positions.size() + 1);
            }
            char* bytes = out->bytes.data();
            std::size_t at = 0;
            for (std::size_t i = 0; i < positions.size(); ++i) {
                if (out->large) {
                    out->offsets64[i] = static_cast<std::int64_t>(at);
                } else {
                    out->offsets32[i] = static_cast<std::int32_t>(at);
                }
                std::size_t from = offsets[positions[i]];
                std::size_t size = offsets[positions[i] + 1] - from;
                if (size != 0) std::memcpy(bytes + at, values.bytes() + from, size);
                at += size;
            }
            if (out->large) {
                out->offsets64[positions.size()] = static_cast<std::int64_t>(at);
            } else {
                out->offsets32[positions.size()] = static_cast<std::int32_t>(at);
            }
            break;
        }
    }
    out->settle();
    return out;
}

void export_column(const ExportedColumn& column, ArrowArray* out) {
    auto owner = std::make_unique<std::shared_ptr<const ColumnBuffers>>(column.buffers);
    const ColumnBuffers& buffers = *column.buffers;
    out->length = buffers.length;
    out->null_count = buffers.null_count;
    out->offset = 0;
    out->n_buffers = buffers.dtype == DType::str ? 3 : 2;
    out->n_children = 0;
    out->buffers = const_cast<const void**>(buffers.buffers);
    out->children = nullptr;
    out->dictionary = nullptr;
    out->release = release_column_array;
    out->private_data = owner.release();
}

void export_batch(const ExportedTable& table, ArrowArray* out) {
    auto data = std::make_unique<BatchArrayData>();
    std::size_t width = table.columns.size();
    data->children.resize(width);
    data->child_pointers.resize(width);
    for (std::size_t i = 0; i < width; ++i) {
        data->children[i].release = nullptr;
        data->child_pointers[i] = &data->children[i];
    }
    // On a failure midway, the children made so far go with `data`.
    struct Undo {
        std::unique_ptr<BatchArrayData>& data;
        ~Undo() {
            if (data)
                for (ArrowArray& child : data->children)
                    release_if_live(child);
        }
    } undo{data};
    for (std::size_t i = 0; i < width; ++i)
        export_column(table.columns[i], &data->children[i]);
    out->length = static_cast<std::int64_t>(table.height);
    out->null_count = 0;
    out->offset = 0;
    out->n_buffers = 1;
    out->n_children = static_cast<std::int64_t>(width);
    out->buffers = data->buffers;
    out->children = width == 0 ? nullptr : data->child_pointers.data();
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
    switch (column.buffers->dtype) {
        case DType::i64: return "l";
        case DType::f64: return "g";
        case DType::str: return column.buffers->large ? "U" : "u";
    }
    return "";
}

void ColumnBuffers::widen() {
    if (dtype != DType::str || large) return;
    large = true;
    if (shared) {
        offsets32 = {};  // the stored 64-bit offsets serve as they are
    } else {
        offsets64.resize_for_overwrite(offsets32.size());
        for (std::size_t i = 0; i < offsets32.size(); ++i)
            offsets64[i] = offsets32[i];
        offsets32 = {};
    }
    settle();
}

void ColumnBuffers::settle() {
    buffers[0] = null_count == 0 ? nullptr : validity.data();
    const ColumnValues* stored = shared.get();
    switch (dtype) {
        case DType::i64: buffers[1] = or_zero(stored ? stored->ints().data() : ints.data()); break;
        case DType::f64:
            buffers[1] = or_zero(stored ? stored->floats().data() : floats.data());
            break;
        case DType::str:
            if (!large) {
                buffers[1] = or_zero(offsets32.data());
            } else {
                buffers[1] = or_zero(stored ? static_cast<const void*>(stored->offsets().data())
                                            : offsets64.data());
            }
            buffers[2] = or_zero(stored ? stored->bytes() : bytes.data());
            break;
    }
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
        large[i] = column.buffers->large;
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
    auto data = std::make_unique<SchemaData>();
    data->format = "+s";
    std::size_t width = table.columns.size();
    data->children.resize(width);
    data->child_pointers.resize(width);
    for (std::size_t i = 0; i < width; ++i) {
        data->children[i].release = nullptr;
        data->child_pointers[i] = &data->children[i];
    }
    struct Undo {
        std::unique_ptr<SchemaData>& data;
        ~Undo() {
            if (data)
                for (ArrowSchema& child : data->children)
                    release_if_live(child);
        }
    } undo{data};
    for (std::size_t i = 0; i < width; ++i) {
        auto child = std::make_unique<SchemaData>();
        child->format = column_format(table.columns[i]);
        child->name = table.columns[i].name;
        fill_schema(&data->children[i], std::move(child), flag_nullable);
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
