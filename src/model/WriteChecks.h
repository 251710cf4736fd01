#pragma once

#include "model/CommonSettings.h"
#include "model/ImageLayout.h"

#include <QString>

#include <span>

namespace tarvil {

// One of the write's field checks: the field (whose control takes the focus
// when it refuses) and its message, both from the field's row of the image
// layout.
struct WriteCheck {
    const Field &field;
    QString text;
};

// The checks in the order the write runs them, as the rows of the common
// fields number them. Every common field whose value can fail to convert is
// among them.
std::span<const WriteCheck> writeChecks();
// The first check that `settings` fail; nothing when they would be written.
const WriteCheck *firstRefusedCheck(const CommonSettings &settings);

} // namespace tarvil
