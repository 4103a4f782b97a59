// The open connections of one driver library, behind opaque handles. Each
// library links its own copy, so the handles of two libraries never mix.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "Link.h"

namespace drv {

inline constexpr std::size_t kMaxLinks = 32;

class Registry {
  public:
    static Registry& Instance();

    // 0 when the table is full.
    std::uint32_t Add(std::shared_ptr<Link> link);
    // nullptr for a handle that is unknown, stale or closed.
    std::shared_ptr<Link> Find(std::uint32_t handle) const;
    bool Remove(std::uint32_t handle);

  private:
    mutable std::mutex m_mutex;
    std::map<std::uint32_t, std::shared_ptr<Link>> m_links;
    // Handles are never reused within a process, so a stale one stays
    // stale. The start is arbitrary; it keeps handles away from small
    // numbers that a caller might pass by mistake.
    std::uint32_t m_next = 0x3180001;
};

}  // namespace drv
