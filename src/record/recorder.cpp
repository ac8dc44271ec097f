#include "record/recorder.h"

#include <QString>

namespace lt {

bool Recorder::start(const std::string& folder) {
    path_ = recordFileName(folder, host_.currentDateTime(), locale_);
    recording_ = sink_.open(path_);
    if (!recording_)
        host_.showMessage("Не удалось создать файл записи:\n" +
                          QString::fromLocal8Bit(path_.c_str()).toStdString());
    return recording_;
}

void Recorder::stop() {
    recording_ = false;
    sink_.close();
}

void Recorder::write(const RecordPort& port1, const RecordPort& port2) {
    if (!recording_ || !sink_.isOpen()) return;
    const float seconds = secondsSinceMidnight(host_.currentDateTime().time());
    (void)sink_.append(recordText(recordStamp(seconds, locale_), port1, port2));
}

}  // namespace lt
