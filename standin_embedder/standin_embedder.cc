// Placeholder; replaced by the stand-in library.
#include "pellion_audio_embedder.h"
namespace Corvida {
const char* GetVersion() { return "stand-in"; }
int32_t CreatePellionAudioEmbedder(IEmbedderListener*, IPellionAudioEmbedder**, const char*) { return 1; }
int32_t CreateOnlinePellionAudioEmbedder(IEmbedderListener*, IPellionAudioEmbedder**, const char*, const char*, int32_t, const char*) { return 1; }
int32_t DestroyPellionAudioEmbedder(IPellionAudioEmbedder*& e) { e = nullptr; return 0; }
}
