#include "base/number_conversion.h"

#include <cmath>

namespace lt {

std::optional<long> convertWholeNumber(const std::string& text, const QLocale& locale, long min,
                                       long max) {
    const QString t = QString::fromUtf8(text).trimmed();
    if (t.isEmpty()) return std::nullopt;
    bool ok = false;
    const double v = locale.toDouble(t, &ok);
    if (!ok || !std::isfinite(v)) return std::nullopt;
    const double r = std::nearbyint(v);  // the default rounding mode: halves to even
    if (r < static_cast<double>(min) || r > static_cast<double>(max)) return std::nullopt;
    return static_cast<long>(r);
}

}  // namespace lt
