#pragma once

#include "model/CommonSettings.h"
#include "model/ImageLayout.h"

#include <QString>

#include <span>

namespace tarvil {

// One of the write's field checks: the field, the control that takes the
// focus when it refuses, and its message. All three come from the field's
// row of the image layout.
struct WriteCheck {
    const Field &field;
    const char *control;
    QString text;
};

// The checks in the order the write runs them, as the rows of the common
// fields number them. Every common field whose value can fail to convert is
// among them.
std::span<const WriteCheck> writeChecks();
// The first check that `settings` fail; nothing when they would be written.
const WriteCheck *firstRefusedCheck(const CommonSettings &settings);

} // namespace tarvil
