// Names for the embedder library's own result codes, shared by the programs and the stand-in
// library. The programs convert them into their general codes in one table (code_exception.cc);
// the stand-in answers with the code whose general meaning fits each failure.
#pragma once

#include <cstdint>

namespace library_code {

inline constexpr int32_t kOk = 0;
inline constexpr int32_t kError = 1;
inline constexpr int32_t kNullPointer = 2;
inline constexpr int32_t kEmptyParameter = 3;
inline constexpr int32_t kWrongObjectType = 4;
inline constexpr int32_t kOutOfMemory = 5;
// The operating system refused a thread setting.
inline constexpr int32_t kInternal = 6;
inline constexpr int32_t kThreadPolicyInvalid = 7;
inline constexpr int32_t kThreadPriorityInvalid = 8;
// The operation does not exist for this kind of embedder (local or online).
inline constexpr int32_t kNotAllowed = 10;
inline constexpr int32_t kNullListener = 20;
inline constexpr int32_t kNotInitialized = 21;
inline constexpr int32_t kAlreadyInitialized = 23;
inline constexpr int32_t kBitsPerSampleInvalid = 25;
inline constexpr int32_t kChannelsInvalid = 26;
inline constexpr int32_t kBufferSizeInvalid = 27;
inline constexpr int32_t kSettingsMissing = 28;
inline constexpr int32_t kJobReportMissing = 50;
inline constexpr int32_t kUnknownChannel = 80;
// ResynchronizeTimecode: the feature is not allowed for this embedder; no failure.
inline constexpr int32_t kResyncNotAllowed = 81;
inline constexpr int32_t kIoError = 100;
inline constexpr int32_t kTooManyMetadata = 115;
inline constexpr int32_t kMetadataMandatory = 116;
inline constexpr int32_t kMetadataParsing = 117;
inline constexpr int32_t kReportGeneration = 120;

}  // namespace library_code

// The stand-in's own name for them.
namespace standin {
namespace code = ::library_code;
}  // namespace standin
