#include "serial/line_settings.h"

#include <cctype>
#include <charconv>
#include <vector>

namespace lt {

namespace {

std::optional<long> wholeNumber(const std::string& field) {
    long v = 0;
    const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), v);
    if (field.empty() || ec != std::errc() || end != field.data() + field.size())
        return std::nullopt;
    return v;
}

}  // namespace

std::string LineSettings::text() const {
    return std::to_string(Baud) + "," + Parity + "," + std::to_string(DataBits) + "," +
           std::to_string(StopBits);
}

std::optional<LineSettings> parseLineSettings(const std::string& text) {
    std::vector<std::string> fields(1);
    for (char c : text) {
        if (c == ',')
            fields.emplace_back();
        else if (c != ' ')
            fields.back() += c;
    }
    if (fields.size() != 4) return std::nullopt;
    const auto baud = wholeNumber(fields[0]);
    const auto data = wholeNumber(fields[2]);
    const auto stop = wholeNumber(fields[3]);
    if (!baud || *baud <= 0 || *baud > 4'000'000) return std::nullopt;
    if (fields[1].size() != 1) return std::nullopt;
    const char parity = static_cast<char>(std::tolower(static_cast<unsigned char>(fields[1][0])));
    if (std::string("neosm").find(parity) == std::string::npos) return std::nullopt;
    if (!data || *data < 5 || *data > 8) return std::nullopt;
    if (!stop || (*stop != 1 && *stop != 2)) return std::nullopt;
    return LineSettings{static_cast<int>(*baud), parity, static_cast<int>(*data),
                        static_cast<int>(*stop)};
}

}  // namespace lt
