#include "json_log_reporter.h"

#include <time.h>

#include <cstdio>

namespace {

// RFC 3339, UTC, with milliseconds: 2026-12-09T23:41:07.123Z.
std::string Now() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm utc{};
    gmtime_r(&now.tv_sec, &utc);
    char text[40];
    const size_t length = strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%03ldZ", now.tv_nsec / 1000000);
    return text;
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

// The length of the UTF-8 sequence that starts `text` at `i`, or 0 where none does.
size_t Utf8Length(const std::string& text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char first = byte(i);
    size_t length = first < 0x80                     ? 1
                    : first >= 0xC2 && first <= 0xDF ? 2
                    : first >= 0xE0 && first <= 0xEF ? 3
                    : first >= 0xF0 && first <= 0xF4 ? 4
                                                     : 0;
    if (length == 0 || i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    }
    // Overlong forms, surrogates and code points past U+10FFFF are no UTF-8 either.
    if ((first == 0xE0 && byte(i + 1) < 0xA0) || (first == 0xED && byte(i + 1) > 0x9F) ||
        (first == 0xF0 && byte(i + 1) < 0x90) || (first == 0xF4 && byte(i + 1) > 0x8F)) {
        return 0;
    }
    return length;
}

const char* LevelName(int32_t level) {
    switch (level) {
        case 0:
            return "info";
        case 1:
            return "warning";
        case 2:
            return "error";
        default:
            return "undefined";
    }
}

}  // namespace

std::string JsonString(const std::string& text) {
    std::string json = "\"";
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t length = Utf8Length(text, i);
        if (length == 0) {
            json += "\\ufffd";
            ++i;
            continue;
        }
        if (c == '"' || c == '\\') {
            json += '\\';
            json += static_cast<char>(c);
        } else if (c == '\n') {
            json += "\\n";
        } else if (c == '\r') {
            json += "\\r";
        } else if (c == '\t') {
            json += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            json += escaped;
        } else {
            json.append(text, i, length);
        }
        i += length;
    }
    return json + "\"";
}

void JsonLogReporter::Started(const RunStart& start) {
    const std::lock_guard<std::mutex> lock(mutex_);
    start_ = start;
    started_ = true;
}

void JsonLogReporter::InputOpened(const std::string&, const WavPcmFormat& format) {
    const std::lock_guard<std::mutex> lock(mutex_);
    EmitStart(&format);
}

void JsonLogReporter::EmitStart(const WavPcmFormat* format) {
    if (startEmitted_ || !started_) return;
    startEmitted_ = true;
    std::string fields = ",\"programVersion\":" + JsonString(start_.programVersion) +
                         ",\"libraryVersion\":" + JsonString(start_.libraryVersion) +
                         ",\"input\":" + JsonString(start_.input) +
                         ",\"output\":" + JsonString(start_.output);
    if (format != nullptr) {
        fields += ",\"format\":{\"sampleRate\":" + std::to_string(format->samplingRate) +
                  ",\"channels\":" + std::to_string(format->nbChannels) +
                  ",\"bitsPerSample\":" + std::to_string(format->bitsPerSample) + "}";
    }
    fields += ",\"options\":{";
    for (size_t i = 0; i < start_.options.size(); ++i) {
        fields += (i == 0 ? "" : ",") + JsonString(start_.options[i].first) + ":" +
                  JsonString(start_.options[i].second);
    }
    Emit("start", fields + "}");
}

void JsonLogReporter::Channels(const std::vector<ReportedChannel>& channels) {
    std::string list;
    for (const ReportedChannel& channel : channels) {
        list += (list.empty() ? "" : ",") + std::string("{\"name\":") + JsonString(channel.name) +
                ",\"id\":" + std::to_string(channel.id) + "}";
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    Emit("channels", ",\"channels\":[" + list + "]");
}

void JsonLogReporter::LibraryMessage(int32_t level, int32_t code, const char* text) {
    const std::string fields = ",\"level\":\"" + std::string(LevelName(level)) +
                               "\",\"code\":" + std::to_string(code) +
                               ",\"text\":" + (text != nullptr ? JsonString(text) : "null");
    const std::lock_guard<std::mutex> lock(mutex_);
    Emit("message", fields);
}

void JsonLogReporter::Progress(const RunProgress& progress) {
    const auto now = std::chrono::steady_clock::now();
    const std::lock_guard<std::mutex> lock(mutex_);
    if (now - lastProgress_ < std::chrono::seconds(1)) return;
    lastProgress_ = now;
    std::string fields = ",\"framesRead\":" + std::to_string(progress.framesRead) +
                         ",\"framesWritten\":" + std::to_string(progress.framesWritten) +
                         ",\"audioSeconds\":" + Number(progress.framesRead / 48000.0);
    if (progress.latenessMs) fields += ",\"latenessMs\":" + Number(*progress.latenessMs);
    Emit("progress", fields);
}

void JsonLogReporter::InputStalled(double seconds, bool resumed) {
    const std::lock_guard<std::mutex> lock(mutex_);
    Emit("stall", std::string(",\"state\":") + (resumed ? "\"resumed\"" : "\"stalled\"") +
                      ",\"seconds\":" + Number(seconds));
}

void JsonLogReporter::Warning(const std::string& text) {
    const std::lock_guard<std::mutex> lock(mutex_);
    Emit("warning", ",\"text\":" + JsonString(text));
}

void JsonLogReporter::Note(const std::string& text) {
    const std::lock_guard<std::mutex> lock(mutex_);
    Emit("note", ",\"text\":" + JsonString(text));
}

void JsonLogReporter::Ended(const RunEnd& end) {
    const char* const text = CorvidaUtils::ResultText(end.result.code());
    const std::string fields =
        ",\"code\":" + std::to_string(end.result.code()) +
        ",\"text\":" + JsonString(text != nullptr ? text : "undocumented") +
        ",\"context\":" + JsonString(end.result.context()) +
        ",\"cause\":" + (end.result.cause().empty() ? "null" : JsonString(end.result.cause())) +
        ",\"exitStatus\":" + std::to_string(end.exitStatus) +
        ",\"framesWritten\":" + std::to_string(end.framesWritten) +
        ",\"interrupted\":" + (end.interrupted ? "true" : "false") +
        ",\"signal\":" + (end.signalNumber != 0 ? JsonString(end.signalName) : "null");
    const std::lock_guard<std::mutex> lock(mutex_);
    EmitStart(nullptr);
    Emit("result", fields);
}

void JsonLogReporter::Emit(const char* event, const std::string& fields) {
    out_ << "{\"time\":\"" + Now() + "\",\"program\":" + JsonString(program_) + ",\"event\":\"" +
                event + "\"" + fields + "}\n";
    out_.flush();
}
