#include "RecState.h"

TRecState& Rec() {
    static TRecState state;
    return state;
}

std::vector<TRecCall> TRecState::CallsOf(const std::string& entry) const {
    std::vector<TRecCall> found;
    for (const TRecCall& call : calls) {
        if (call.entry == entry) found.push_back(call);
    }
    return found;
}

std::vector<std::array<uint32_t, 8>> TRecState::SentRequests() const {
    std::vector<std::array<uint32_t, 8>> found;
    for (const TRecCall& call : calls) {
        if (call.entry == "Send") found.push_back(call.request);
    }
    return found;
}
