// How much audio a WAV file's header says it holds, for the progress display and the summary:
// read from the format and data chunks (and the ds64 chunk of an RF64 file) without taking
// the audio, and capped at what the file really holds.
#pragma once

#include <optional>
#include <string>

// Seconds of audio, or nothing for a file that is no WAV file this can read.
std::optional<double> AudioSecondsOf(const std::string& path);
