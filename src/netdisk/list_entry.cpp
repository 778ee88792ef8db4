#include "netdisk/list_entry.h"

#include "base/text.h"

#include <cmath>

namespace vantorel {

std::string formatSizeText(std::int64_t bytes) {
    // The tolerance keeps exact powers of two on the larger unit even after
    // the division has lost a bit or two.
    constexpr double epsilon = 0.0000001;
    const double b = static_cast<double>(bytes);
    const double mb = b / 1048576.0;
    double value;
    char unit;
    if (mb - 1024.0 >= -epsilon) {
        value = b / 1073741824.0;
        unit = 'G';
    } else if (mb - 1.0 >= -epsilon) {
        value = mb;
        unit = 'M';
    } else {
        value = b / 1024.0;
        unit = 'K';
    }

    // One decimal, halves away from zero; the nudge stops 0.05 written as
    // 0.04999... from rounding down.
    const double magnitude = std::floor(std::fabs(value) * 10.0 + 0.5 + 0.000000000001) / 10.0;
    std::string text = formatG13(value < 0 && magnitude != 0 ? -magnitude : magnitude);
    if (text.find('.') == std::string::npos)
        text += ".0";
    text.push_back(unit);
    return text;
}

} // namespace vantorel
