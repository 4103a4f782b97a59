#include "ConsoleLines.h"

namespace sim {

std::vector<ConsoleLine> ConsoleLines::Feed(std::string_view bytes) {
    std::vector<ConsoleLine> lines;
    // Only the new bytes are searched for the end of a line.
    while (!bytes.empty()) {
        const auto end = bytes.find('\n');
        const std::string_view piece = bytes.substr(0, end);
        if (!m_discarding) {
            if (m_pending.size() + piece.size() > kMaxConsoleLine) {
                lines.push_back({{}, true});
                m_pending.clear();
                m_discarding = true;
            } else {
                m_pending.append(piece);
            }
        }
        if (end == std::string_view::npos) {
            break;
        }
        if (!m_discarding) {
            lines.push_back({std::move(m_pending), false});
        }
        m_pending.clear();
        m_discarding = false;
        bytes.remove_prefix(end + 1);
    }
    return lines;
}

}  // namespace sim
