#include "engine/select.hpp"

#include "base/quoted.hpp"

namespace tarnwick {

Result<Frame> select(const Frame& frame, std::span<const std::string> names) {
    std::vector<Column> chosen;
    chosen.reserve(names.size());
    for (const std::string& name : names) {
        for (const Column& column : chosen) {
            if (column.name == name)
                return frame_error("column " + quoted(name) + " selected twice");
        }
        TARNWICK_ASSIGN_OR_RETURN(const Column* found, find_column(frame, name));
        chosen.push_back(*found);
    }
    return Frame(std::move(chosen), frame.shared_selection(), frame.height());
}

}  // namespace tarnwick
