#include "engine/core.h"

namespace lt {

void Core::Start_Capture() {}
void Core::Stop_Capture() {}
void Core::Apply_Interval() {}
void Core::Mode_Click() {}
void Core::Set_Text2(const std::string& text) {
    form.Text2.Text = text;
    Text2_Change();
}
void Core::Text2_Change() {}

}  // namespace lt
