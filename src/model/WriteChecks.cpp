#include "model/WriteChecks.h"

#include "model/ConfigImage.h"

#include <array>
#include <vector>

namespace tarvil {

std::span<const WriteCheck> writeChecks()
{
    static const std::vector<WriteCheck> checks = [] {
        std::vector<WriteCheck> out;
        for (const Field *field : commonFieldsBy(&Field::check))
            out.push_back(WriteCheck{*field, refusalText(*field)});
        return out;
    }();
    return checks;
}

const WriteCheck *firstRefusedCheck(const CommonSettings &settings)
{
    std::array<std::uint8_t, kCommonSize> scratch{};
    for (const WriteCheck &check : writeChecks()) {
        if (!encodeField(check.field, settings, scratch.data()))
            return &check;
    }
    return nullptr;
}

} // namespace tarvil
