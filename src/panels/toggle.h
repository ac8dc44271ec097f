#pragma once

namespace lt {

// A tick box as a panel shows it: ticked or not, and whether the user may change it.
struct Toggle {
    bool checked = false;
    bool enabled = false;
};

}  // namespace lt
