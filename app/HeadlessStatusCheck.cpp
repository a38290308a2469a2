#include "app/HeadlessStatusCheck.hpp"

#include "core/ProcessResourceSampler.hpp"
#include "platform/DecimalText.hpp"

namespace brindleaf::HeadlessStatusCheck {

std::string markIncomplete(AgentStatusSnapshot& snapshot) {
    namespace Sampler = ProcessResourceSampler;
    std::string text;
    const std::string bound = DecimalText::fixed(Sampler::stuckReadBound, 0) + " s";
    for (const auto& stuck : Sampler::stuckReads()) {
        if (stuck.pid == 0)
            text += "brindleaf: the list of processes did not answer within " + bound + "\n";
        else
            text += "brindleaf: left out process " + std::to_string(stuck.pid) + ": its " + stuck.read +
                    " read did not answer within " + bound + "\n";
    }
    bool incomplete = false;
    if (Sampler::incompleteFreshSamplings() > 0) {
        text += "brindleaf: the process table could not be read whole; the status is unknown\n";
        incomplete = true;
    }
    for (const auto& provider : snapshot.providerSnapshots) {
        if (!provider.timedOut) continue;
        text += "brindleaf: " + provider.providerName + " did not answer in time; the status is unknown\n";
        incomplete = true;
    }
    if (incomplete) snapshot.state = AgentRunState::unknown;
    return text;
}

} // namespace brindleaf::HeadlessStatusCheck
