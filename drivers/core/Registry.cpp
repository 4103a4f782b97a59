#include "Registry.h"

namespace drv {

Registry& Registry::Instance() {
    static Registry registry;
    return registry;
}

std::uint32_t Registry::Add(std::shared_ptr<Link> link) {
    std::lock_guard lock(m_mutex);
    if (m_links.size() >= kMaxLinks) {
        return 0;
    }
    std::uint32_t handle = m_next++;
    while (handle == 0 || m_links.contains(handle)) {
        handle = m_next++;
    }
    m_links.emplace(handle, std::move(link));
    return handle;
}

std::shared_ptr<Link> Registry::Find(std::uint32_t handle) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_links.find(handle);
    return it == m_links.end() ? nullptr : it->second;
}

bool Registry::Remove(std::uint32_t handle) {
    std::lock_guard lock(m_mutex);
    return m_links.erase(handle) != 0;
}

}  // namespace drv
