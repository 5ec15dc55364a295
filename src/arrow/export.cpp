#include "arrow/export.hpp"

#include <bit>
#include <cerrno>
#include <cstring>
#include <format>
#include <limits>
#include <memory>
#include <new>

#include "repr/quoted.hpp"

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

struct ColumnArrayData {
    Shared<ColumnValues> values;
    PodVector<std::uint8_t> validity;
    PodVector<std::int32_t> offsets;
    const void* buffers[3] = {nullptr, nullptr, nullptr};
};

void release_column_array(ArrowArray* array) {
    delete static_cast<ColumnArrayData*>(array->private_data);
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

// Packs the presence bytes (0 or 1) into an Arrow validity bitmap, least
// significant bit first; returns the number of missing entries.
std::int64_t pack_validity(const std::uint8_t* present, std::size_t size,
                           PodVector<std::uint8_t>& bitmap) {
    std::size_t bytes = (size + 7) / 8;
    bitmap.resize_for_overwrite(bytes);
    std::size_t set = 0;
    std::size_t whole = size / 8;
    for (std::size_t b = 0; b < whole; ++b) {
        const std::uint8_t* p = present + b * 8;
        std::uint8_t bits = 0;
        for (unsigned k = 0; k < 8; ++k)
            bits = static_cast<std::uint8_t>(bits | ((p[k] != 0 ? 1u : 0u) << k));
        bitmap[b] = bits;
        set += static_cast<std::size_t>(std::popcount(bits));
    }
    if (whole < bytes) {
        std::uint8_t bits = 0;
        for (std::size_t i = whole * 8; i < size; ++i)
            bits = static_cast<std::uint8_t>(bits | ((present[i] != 0 ? 1u : 0u) << (i % 8)));
        bitmap[whole] = bits;
        set += static_cast<std::size_t>(std::popcount(bits));
    }
    return static_cast<std::int64_t>(size - set);
}

void export_column(const ExportedColumn& column, ArrowArray* out) {
    auto data = std::make_unique<ColumnArrayData>();
    const ColumnValues& values = *column.values;
    std::size_t size = values.size();
    std::int64_t null_count = 0;
    if (const std::uint8_t* present = values.presence()) {
        null_count = pack_validity(present, size, data->validity);
        if (null_count == 0) data->validity = {};
    }
    data->buffers[0] = null_count == 0 ? nullptr : data->validity.data();
    switch (values.dtype()) {
        case DType::i64: data->buffers[1] = or_zero(values.ints().data()); break;
        case DType::f64: data->buffers[1] = or_zero(values.floats().data()); break;
        case DType::str:
            if (column.large) {
                data->buffers[1] = values.offsets().data();
            } else {
                std::span<const std::uint64_t> wide = values.offsets();
                data->offsets.resize_for_overwrite(wide.size());
                for (std::size_t i = 0; i < wide.size(); ++i)
                    data->offsets[i] = static_cast<std::int32_t>(wide[i]);
                data->buffers[1] = data->offsets.data();
            }
            data->buffers[2] = or_zero(values.bytes());
            break;
    }
    data->values = column.values;
    out->length = static_cast<std::int64_t>(size);
    out->null_count = null_count;
    out->offset = 0;
    out->n_buffers = values.dtype() == DType::str ? 3 : 2;
    out->n_children = 0;
    out->buffers = data->buffers;
    out->children = nullptr;
    out->dictionary = nullptr;
    out->release = release_column_array;
    out->private_data = data.release();
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
    switch (column.values->dtype()) {
        case DType::i64: return "l";
        case DType::f64: return "g";
        case DType::str: return column.large ? "U" : "u";
    }
    return "";
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
        ExportedColumn exported;
        exported.name = column.name;
        if (const RowSelection* selection = frame.selection()) {
            exported.values = Shared<ColumnValues>::make(column.values->gather(selection->span()));
        } else {
            exported.values = column.values;
        }
        exported.large = exported.values->dtype() == DType::str &&
                         exported.values->byte_size() >
                             static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
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
        const ArrowSchema* field = requested.children[i];
        std::string_view name = field->name == nullptr ? "" : field->name;
        if (name != column.name) {
            return frame_error(
                std::format("the requested schema has field {} where the frame has "
                            "column {}",
                            quoted(name), quoted(column.name)));
        }
        std::string_view format = field->format == nullptr ? "" : field->format;
        std::string_view own = column_format(column);
        large[i] = column.large;
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
        table.columns[i].large = large[i];
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
