#include "repr/frame_text.hpp"

namespace tarnwick {

std::string frame_text(const Frame& frame) {
    std::string text = "Frame(";
    text += std::to_string(frame.height());
    text += " rows: ";
    bool first = true;
    for (const Column& column : frame.columns()) {
        if (!first) text += ", ";
        first = false;
        text += column.name;
        text += ' ';
        text += dtype_name(column.dtype());
    }
    text += ')';
    return text;
}

}  // namespace tarnwick
