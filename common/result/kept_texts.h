// Texts the programs print exactly as they always have, oddities included: scripts and people
// match them, so none of them is to be "fixed". Each oddity is named beside it. (One more lives
// in wav/, which stands alone: the reader's "Warning: error reading WXav chunk".)
#pragma once

namespace kept_text {

// Command-line errors.
inline constexpr char kTooManyArguments[] = "Too much arguments (2 expected)";  // "much"
inline constexpr char kInvalidPriority[] = "Invalid thread policy/priority)";   // the lone ")"

// Result messages of general codes 13, 20 and 31.
inline constexpr char kNotInitialized[] = "Embedder has not already been initialized";  // "already"
inline constexpr char kSettingsMissing[] =
    " Some settings are not provided for embedder initialization";  // the leading blank
inline constexpr char kReportNotSent[] =
    "Unable to send final job reprort to online server";  // "reprort"

// Contexts that the two programs spell differently.
inline constexpr char kAddBufferFailed[] = "Add Audio Buffer failed";      // pellion-embed
inline constexpr char kAddBufferFailedOnline[] = "AddAudioBuffer failed";  // pellion-embed-online
inline constexpr char kCreateFailed[] = "Create Pellion AudioEmbedder failed";

}  // namespace kept_text
