// The merge of the two note databases (synchronize, mirror, add-missing, conflict resolution) is
// built in analysis.cpp. Until it is, these operations change nothing and report
// kAnalysisNotBuilt, and the sync run then writes nothing to either side.
#pragma once

namespace sx::conduit {
inline constexpr long kAnalysisNotBuilt = 0x7A000001;
}  // namespace sx::conduit
