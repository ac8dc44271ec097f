// libFuzzer target: the settings-file reader over arbitrary bytes. Whatever the file holds, the
// reader stays inside it, gives texts that fit a record, and what it read writes back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "settings/settings_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const lt::StoredSettings s = lt::parseSettings(bytes);
    if (s.recordFolder.size() > lt::kSettingsMaxText || s.product.size() > lt::kSettingsMaxText ||
        s.version.size() > lt::kSettingsMaxText)
        std::abort();
    const auto written = lt::serializeSettings(s);
    if (!written || written->size() != lt::kSettingsFileSize) std::abort();
    if (!(lt::parseSettings(*written) == s)) std::abort();
    return 0;
}
