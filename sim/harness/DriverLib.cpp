#include "DriverLib.h"

#include <dlfcn.h>

namespace simharness {

namespace {

template <typename F>
void Resolve(void* library, const std::string& name, F& target) {
    target = reinterpret_cast<F>(::dlsym(library, name.c_str()));
}

}  // namespace

DriverLib::DriverLib(const std::string& directory, const std::string& prefix) : m_prefix(prefix) {
    m_library = ::dlopen((directory + "/lib" + prefix + ".so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_library == nullptr) {
        return;
    }
    Resolve(m_library, prefix + "_Version", version);
    Resolve(m_library, prefix + "_Init", initParam);
    Resolve(m_library, prefix + "_Init", initPlain);
    Resolve(m_library, prefix + "_Init", initBlock);
    Resolve(m_library, prefix + "_SetConfig", setConfig);
    Resolve(m_library, prefix + "_GetConfig", getConfig);
    Resolve(m_library, prefix + "_Send", send);
    Resolve(m_library, prefix + "_Done", done);
    Resolve(m_library, prefix + "_Error", error);
    Resolve(m_library, prefix + "_LateReply", lateReply);
}

DriverLib::~DriverLib() {
    if (m_library != nullptr) {
        ::dlclose(m_library);
    }
}

bool DriverLib::Loaded() const {
    return m_library != nullptr && version != nullptr && initParam != nullptr && setConfig != nullptr &&
           getConfig != nullptr && send != nullptr && done != nullptr && error != nullptr;
}

}  // namespace simharness
