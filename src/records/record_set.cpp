#include "records/record_set.h"

#include "base/text.h"

namespace vantorel {

bool RecordSet::first() {
    if (!hasResult_)
        return false;
    cursor_ = 0;
    counted_ = true;
    return true;
}

bool RecordSet::next() {
    const std::size_t total = rowTotal();
    if (cursor_ < total) {
        ++cursor_;
        return true;
    }
    cursor_ = total + 1; // past the end: no current row
    return false;
}

std::string_view RecordSet::fieldView(std::size_t column) const {
    const std::size_t width = columns_.size();
    if (column == 0 || column > width || cursor_ == 0 || cursor_ > rowTotal())
        return {};
    const std::size_t cell = (cursor_ - 1) * width + (column - 1);
    const std::size_t begin = cell == 0 ? 0 : ends_[cell - 1];
    return std::string_view(cells_).substr(begin, ends_[cell] - begin);
}

std::string RecordSet::fieldText(std::size_t column) const {
    return std::string(fieldView(column));
}

std::string RecordSet::fieldText(std::string_view name) const {
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        if (equalsIgnoreCase(columns_[i], name))
            return fieldText(i + 1);
    }
    return {};
}

void RecordSet::close() {
    *this = RecordSet();
}

} // namespace vantorel
