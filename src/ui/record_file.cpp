#include <QString>

#include "engine/core.h"
#include "ui/record_format.h"

namespace lt {

namespace {

RecordPort recordPort(const Channel& c, const std::string& data) {
    RecordPort p;
    p.Label = c.Comm->portName().recordLabel();
    p.Flags = c.flags();
    p.Data = data;
    return p;
}

}  // namespace

// "Запись": ticked opens a record file named after the present date and time in the record
// folder; cleared closes it. A file that cannot be created clears the box again.
void Core::Record_Click() {
    if (form.Check[12].Value != 1) {
        Recording = 0;
        records.Close();
        return;
    }
    const std::string path = recordFileName(recordFolder, host.currentDateTime(), Locale);
    Recording = 1;
    if (records.Open(path)) return;

    Recording = 0;
    host.showMessage("Не удалось создать файл записи:\n" +
                     QString::fromLocal8Bit(path.c_str()).toStdString());
    Set_Check(12, 0);
}

// One record: the stamp, both ports' lines with their present flags, and an empty line, handed
// to the file in one piece. A record the file refuses is dropped; the next one is tried again.
void Core::Record_Write(const std::string& data1, const std::string& data2) {
    if (!records.IsOpen()) return;
    const float seconds = secondsSinceMidnight(host.currentDateTime().time());
    const std::string text = recordText(recordStamp(seconds, Locale), recordPort(port1, data1),
                                        recordPort(port2, data2));
    (void)records.Append(text);
}

}  // namespace lt
