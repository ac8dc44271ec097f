#include "serial/linux/port_discovery.h"

#include <QSerialPortInfo>
#include <algorithm>

namespace lt {

std::vector<std::string> availableSerialDevices() {
    std::vector<std::string> out;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const std::string path = info.systemLocation().toStdString();
        if (!path.empty()) out.push_back(path);
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

}  // namespace lt
