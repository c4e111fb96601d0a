// The library's exported functions. Everything else is built with hidden visibility, so
// nothing of the stand-in's inner working can clash with its users.
#include <memory>
#include <new>

#include "hooks.h"
#include "pellion_audio_embedder.h"
#include "library_result_codes.h"
#include "standin_embedder.h"

#define STANDIN_EXPORT __attribute__((visibility("default")))

namespace Corvida {
namespace {

using standin::Op;
using standin::StandinEmbedder;
using standin::TraceArg;
namespace code = standin::code;
namespace hooks = standin::hooks;

constexpr const char* kVersion = "8.1.0 (stand-in embedder, not a watermark)";

int32_t Create(StandinEmbedder::Kind kind, IEmbedderListener* listener,
               IPellionAudioEmbedder** embedder) {
    if (listener == nullptr) return code::kNullListener;
    if (embedder == nullptr) return code::kNullPointer;
    try {
        auto created =
            std::make_unique<StandinEmbedder>(kind, listener, hooks::SetupForNewEmbedder());
        *embedder = created.release();
        return code::kOk;
    } catch (const std::bad_alloc&) {
        return code::kOutOfMemory;
    } catch (...) {
        return code::kInternal;  // the worker thread could not be started
    }
}

}  // namespace

STANDIN_EXPORT const char* GetVersion() {
    // A faulted GetVersion has no code to return; it hands back no text instead.
    if (hooks::Enter(Op::kGetVersion, nullptr)) return nullptr;
    return kVersion;
}

STANDIN_EXPORT int32_t CreatePellionAudioEmbedder(IEmbedderListener* listener,
                                                  IPellionAudioEmbedder** embedder,
                                                  const char* text) {
    hooks::Reload();
    if (const auto fault = hooks::Enter(Op::kCreatePellionAudioEmbedder, listener,
                                        {TraceArg::OptionalText(text)})) {
        return *fault;
    }
    return Create(StandinEmbedder::Kind::kLocal, listener, embedder);
}

STANDIN_EXPORT int32_t CreateOnlinePellionAudioEmbedder(IEmbedderListener* listener,
                                                        IPellionAudioEmbedder** embedder,
                                                        const char* login, const char* password,
                                                        int32_t port, const char* server) {
    hooks::Reload();
    if (const auto fault = hooks::Enter(
            Op::kCreateOnlinePellionAudioEmbedder, listener,
            {TraceArg::Text(login), TraceArg::Text(password), port, TraceArg::Text(server)})) {
        return *fault;
    }
    if (listener == nullptr) return code::kNullListener;
    if (login == nullptr || password == nullptr || server == nullptr) return code::kNullPointer;
    // No account can have an empty login; password and endpoint are not checked offline.
    if (*login == '\0') return code::kEmptyParameter;
    return Create(StandinEmbedder::Kind::kOnline, listener, embedder);
}

STANDIN_EXPORT int32_t DestroyPellionAudioEmbedder(IPellionAudioEmbedder*& embedder) {
    auto* ours = dynamic_cast<StandinEmbedder*>(embedder);
    // A fault changes only the result: the embedder is destroyed, and its held-back audio
    // delivered, all the same.
    const auto fault = hooks::Enter(Op::kDestroyPellionAudioEmbedder,
                                    ours != nullptr ? ours->Listener() : nullptr);
    if (embedder == nullptr) return fault.value_or(code::kNullPointer);
    if (ours == nullptr) return fault.value_or(code::kWrongObjectType);
    delete ours;  // Create handed it out as a raw pointer
    embedder = nullptr;
    return fault.value_or(code::kOk);
}

}  // namespace Corvida
