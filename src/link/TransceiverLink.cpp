#include "link/TransceiverLink.h"

namespace tarvil {

TransceiverLink::TransceiverLink(LinkView &view, const LinkConfig &config, QObject *parent)
    : QObject(parent), view_(view), config_(config)
{
}

TransceiverLink::~TransceiverLink() = default;

void TransceiverLink::formShow()
{
    packets_.clear();
    image_.clearRecords();
    vars_.StopFlag = false;
}

void TransceiverLink::stopTimersForExit() {}

void TransceiverLink::shutdown()
{
    vars_.StopFlag = true;
    packets_.clear();
}

void TransceiverLink::USB1Click() {}
void TransceiverLink::LanClick() {}
void TransceiverLink::WrBtnClick(const SaveTarget *) {}
void TransceiverLink::ItemReadClick() {}

} // namespace tarvil
