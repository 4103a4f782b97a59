#include "Face.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "Bridge.h"
#include "Driver318Abi.h"
#include "Registry.h"

namespace drv::face {

namespace {

template <typename F>
std::uint32_t Guarded(F&& body) noexcept {
    try {
        return Code(body());
    } catch (const std::bad_alloc&) {
        return Code(Result::OutOfMemory);
    } catch (...) {
        return Code(Result::InternalError);
    }
}

Result Register(std::uint32_t* handle, std::shared_ptr<Link> link) {
    const std::uint32_t h = Registry::Instance().Add(std::move(link));
    if (h == 0) {
        return Result::TooManyLinks;
    }
    *handle = h;
    return Result::Ok;
}

// Writes the Init line and hands the tracer to the new connection, if any.
void TraceInit(std::unique_ptr<Tracer> tracer, const std::shared_ptr<Link>& link, const std::uint32_t* handle,
               const std::string& arguments, Result result, Clock::time_point start) {
    tracer->Init(result == Result::Ok ? *handle : 0, arguments, result,
                 std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start));
    if (result == Result::Ok) {
        link->SetTrace(std::move(tracer));
    }
}

// An IP text longer than this is not an address; the bound keeps a missing
// terminator from running away.
constexpr std::size_t kMaxHostText = 255;

}  // namespace

std::uint32_t Version() noexcept { return kVersion; }

std::uint32_t InitSerial(const SerialFace& face, std::uint32_t* handle, std::uint32_t param) noexcept {
    if (!bridge::DriverDirectory().empty()) {
        return bridge::Init(face.library,
                            face.parameter != nullptr ? drvhost::Op::InitParam : drvhost::Op::InitPlain,
                            handle, param, nullptr);
    }
    return Guarded([&] {
        const auto start = Clock::now();
        auto tracer = Tracer::FromEnvironment(face.library);
        std::string device;
        std::shared_ptr<Link> link;
        const Result result = [&] {
            if (handle == nullptr) {
                return Result::BadParameter;
            }
            *handle = 0;
            const Device found = face.find(param);
            device = found.path;
            if (found.result != Result::Ok) {
                return found.result;
            }
            Opened opened = OpenSerial(found.path);
            if (opened.result != Result::Ok) {
                return opened.result;
            }
            link = std::make_shared<Link>(std::move(opened.transport), false, 0);
            return Register(handle, link);
        }();
        if (tracer) {
            char parameter[32] = "";
            if (face.parameter != nullptr) {
                std::snprintf(parameter, sizeof parameter, face.hexParameter ? "%s 0x%X " : "%s %u ",
                              face.parameter, static_cast<unsigned>(param));
            }
            TraceInit(std::move(tracer), link, handle,
                      parameter + std::string("device ") + (device.empty() ? "-" : device), result, start);
        }
        return result;
    });
}

std::uint32_t InitUdp(const char* library, std::uint32_t* handle, const std::uintptr_t* params) noexcept {
    if (!bridge::DriverDirectory().empty()) {
        return bridge::Init(library, drvhost::Op::InitBlock, handle, 0, params);
    }
    return Guarded([&] {
        const auto start = Clock::now();
        auto tracer = Tracer::FromEnvironment(library);
        std::string host = "-";
        std::shared_ptr<Link> link;
        const Result result = [&] {
            if (handle == nullptr || params == nullptr) {
                return Result::BadParameter;
            }
            *handle = 0;
            const auto* text = reinterpret_cast<const char*>(params[0]);
            if (text == nullptr) {
                return Result::BadIpAddress;
            }
            const std::size_t length = ::strnlen(text, kMaxHostText + 1);
            if (length == 0 || length > kMaxHostText) {
                return Result::BadIpAddress;
            }
            host.assign(text, length);
            if (params[1] == 0 || params[1] > 0xFFFF) {
                return Result::BadUdpPort;
            }
            if (params[2] > kMaxUdpTimeoutMs) {
                return Result::BadTimeout;
            }
            const auto timeoutMs = static_cast<std::uint32_t>(params[2]);
            Opened opened = OpenUdp(host, static_cast<std::uint16_t>(params[1]), ResolveWait(timeoutMs));
            if (opened.result != Result::Ok) {
                return opened.result;
            }
            link = std::make_shared<Link>(std::move(opened.transport), true, timeoutMs);
            return Register(handle, link);
        }();
        if (tracer) {
            std::string arguments = "host " + host;
            if (params != nullptr) {
                arguments += " port " + std::to_string(params[1]) + " timeout " + std::to_string(params[2]);
            }
            TraceInit(std::move(tracer), link, handle, arguments, result, start);
        }
        return result;
    });
}

std::uint32_t SetConfig(std::uint32_t handle, std::uint32_t speed, std::uint32_t value,
                        std::uint32_t mode) noexcept {
    if (bridge::Owns(handle)) {
        return bridge::SetConfig(handle, speed, value, mode);
    }
    return Guarded([&] {
        const auto link = Registry::Instance().Find(handle);
        if (!link) {
            return Result::BadHandle;
        }
        return link->Configure({speed, value, mode});
    });
}

std::uint32_t GetConfig(std::uint32_t handle, std::uint32_t* speed, std::uint32_t* value,
                        std::uint32_t* mode) noexcept {
    if (bridge::Owns(handle)) {
        return bridge::GetConfig(handle, speed, value, mode);
    }
    return Guarded([&] {
        const auto link = Registry::Instance().Find(handle);
        if (!link) {
            return Result::BadHandle;
        }
        const LineConfig config = link->Config();
        if (speed != nullptr) {
            *speed = config.speed;
        }
        if (value != nullptr) {
            *value = config.allowanceMs;
        }
        if (mode != nullptr) {
            *mode = config.mode;
        }
        return Result::Ok;
    });
}

std::uint32_t Send(std::uint32_t handle, const std::uint32_t* request, std::uint32_t* reply,
                   std::uint32_t* out, std::uint32_t* status) noexcept {
    if (bridge::Owns(handle)) {
        return bridge::Send(handle, request, reply, out, status);
    }
    const std::uint32_t code = Guarded([&] {
        if (request == nullptr || reply == nullptr || out == nullptr || status == nullptr) {
            return Result::BadParameter;
        }
        const auto link = Registry::Instance().Find(handle);
        if (!link) {
            return Result::BadHandle;
        }
        RequestCells cells{};
        std::memcpy(cells.data(), request, sizeof cells);
        const Answer answer = link->Transact(cells);
        *out = answer.data[0];
        for (std::size_t i = 1; i < wire::kDataCount; ++i) {
            reply[i - 1] = answer.data[i];
        }
        return answer.result;
    });
    if (status != nullptr) {
        *status = code;
    }
    return code;
}

std::uint32_t LateReply(std::uint32_t handle, std::uint32_t* address) noexcept {
    if (bridge::Owns(handle)) {
        // The maker's libraries have no such entry.
        return static_cast<std::uint32_t>(Result::Timeout);
    }
    return Guarded([&] {
        if (address == nullptr) {
            return Result::BadParameter;
        }
        const auto link = Registry::Instance().Find(handle);
        if (!link) {
            return Result::BadHandle;
        }
        const auto late = link->LateReply();
        if (!late) {
            return Result::Timeout;
        }
        *address = *late;
        return Result::Ok;
    });
}

std::uint32_t Done(std::uint32_t* handle) noexcept {
    if (handle != nullptr && bridge::Owns(*handle)) {
        return bridge::Done(handle);
    }
    return Guarded([&] {
        if (handle == nullptr) {
            return Result::BadParameter;
        }
        const auto link = Registry::Instance().Find(*handle);
        if (!link || !Registry::Instance().Remove(*handle)) {
            return Result::BadHandle;
        }
        *handle = 0;
        link->Closed();
        return Result::Ok;
    });
}

std::uint32_t Error(std::uint32_t code, std::uint32_t* text) noexcept {
    // A code of the maker's library gets that library's own text.
    if (std::uint32_t result = 0; bridge::Error(code, text, result)) {
        return result;
    }
    return Guarded([&] {
        if (text == nullptr) {
            return Result::BadParameter;
        }
        const char* message = ResultText(code);
        std::size_t n = 0;
        // The last cell stays for the terminator, whatever the text's length.
        for (; message[n] != '\0' && n + 1 < abi318::kCellCount; ++n) {
            text[n] = static_cast<unsigned char>(message[n]);
        }
        text[n] = 0;
        return code < 100 ? Result::Ok : Result::BadParameter;
    });
}

}  // namespace drv::face
