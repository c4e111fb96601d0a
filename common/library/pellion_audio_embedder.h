// The boundary to the closed embedder library libpellionaudioembedder.so.8.1.
//
// The virtual-table layout of every interface below is part of the binary
// contract with the library: a virtual destructor first, then the operations in
// declaration order. Do not reorder, insert or remove virtual functions.
#pragma once

#include <cstdint>

namespace Corvida {

// A log message of the library, handed to IEmbedderListener::OnMessage.
struct EmbedderMessage {
    int32_t level;     // 0 information, 1 warning, 2 error, anything else undefined
    int32_t code;      // the library's code for the message
    const char* text;  // NUL-terminated; may be null
};

// Implemented by the tools; called by the library, possibly from threads of its own.
class IEmbedderListener {
public:
    virtual ~IEmbedderListener() {}
    virtual void OnMessage(const EmbedderMessage& message) = 0;
    // Watermarked audio. `data` stays the library's, but the listener may rewrite it in
    // place during the call. `timestamp` is the pointer given to AddAudioBuffer with the
    // block, or null; the listener releases it.
    virtual void OnAudioBuffer(uint8_t* data, uint64_t size, uint64_t* timestamp) = 0;
};

class IEmbedderParameters {
public:
    virtual ~IEmbedderParameters() {}
    virtual int32_t SetBitsPerSample(int32_t bitsPerSample) = 0;
    virtual int32_t SetChannels(int32_t channels) = 0;
};

class IEmbedderChannels {
public:
    virtual ~IEmbedderChannels() {}
    // Number of entries of the channel list. The tools do not call it.
    virtual int32_t GetChannelCount(uint64_t* count) = 0;
    // The arrays stay the embedder's and live as long as it does.
    virtual int32_t GetChannelNameList(const char* const** names, const int64_t** ids,
                                       uint64_t* count) = 0;
    virtual int32_t SetChannelName(const char* name) = 0;
};

class IEmbedderTimecode {
public:
    virtual ~IEmbedderTimecode() {}
    // Result 81: the feature is not allowed for this embedder.
    virtual int32_t ResynchronizeTimecode() = 0;
};

class IEmbedderThreads {
public:
    virtual ~IEmbedderThreads() {}
    virtual int32_t SetThreadCPUAffinity(int64_t mask) = 0;
    virtual int32_t SetThreadPriority(int32_t policy, int32_t priority) = 0;
};

class IEmbedderJobReport {
public:
    virtual ~IEmbedderJobReport() {}
    // Directory where the embedder keeps a copy of each job report. Not called by the tools.
    virtual int32_t SetJobReportDirectory(const char* directory) = 0;
    // The report of the last finished job, owned by the embedder. Not called by the tools.
    virtual int32_t GetJobReport(const char** report) = 0;
    virtual int32_t SendJobReport(const char* report) = 0;
};

class IPellionAudioEmbedder : public IEmbedderChannels,
                              public IEmbedderTimecode,
                              public IEmbedderThreads,
                              public IEmbedderJobReport {
public:
    virtual ~IPellionAudioEmbedder() {}
    virtual int32_t Initialize() = 0;
    virtual int32_t Finalize() = 0;
    // `report` must be preset to null; the text stays the embedder's until it is destroyed.
    virtual int32_t FinalizeWithReport(const char** report) = 0;
    // 24-bit audio travels as 32-bit words holding the sample in their upper three bytes.
    virtual int32_t AddAudioBuffer(const uint8_t* data, uint64_t size, uint64_t* timestamp) = 0;
    virtual int32_t EnableRecord(const char* directory) = 0;
    virtual int32_t GetEmbedderParameters(IEmbedderParameters** parameters) = 0;
    virtual int32_t AddMetadata(const char* json) = 0;
};

// Version text, owned by the library.
const char* GetVersion();

// `text` is reserved; the embedder tool passes null.
int32_t CreatePellionAudioEmbedder(IEmbedderListener* listener, IPellionAudioEmbedder** embedder,
                                   const char* text);

int32_t CreateOnlinePellionAudioEmbedder(IEmbedderListener* listener,
                                         IPellionAudioEmbedder** embedder, const char* login,
                                         const char* password, int32_t port, const char* server);

// Destroys the embedder and sets the pointer to null.
int32_t DestroyPellionAudioEmbedder(IPellionAudioEmbedder*& embedder);

}  // namespace Corvida
