#include "status.h"

#include <array>

#include "kept_texts.h"

namespace CorvidaUtils {
namespace {

// Library code -> general result code, for library codes 0 to 120.
constexpr std::array<int8_t, 121> BuildLibraryTable() {
    std::array<int8_t, 121> table{};
    for (auto& entry : table) entry = kUndefinedError;
    const int8_t pairs[][2] = {
        {0, 0},    {1, 1},    {2, 2},    {3, 3},    {4, 4},    {5, 5},    {6, 6},   {7, 7},
        {8, 8},    {10, 9},   {11, 1},   {12, 1},   {13, 10},  {14, 11},  {20, 12}, {21, 13},
        {22, 1},   {23, 14},  {24, 15},  {25, 16},  {26, 17},  {27, 19},  {28, 20}, {29, 46},
        {30, 21},  {31, 24},  {49, 31},  {50, 32},  {51, 33},  {60, 47},  {61, 48}, {62, 49},
        {64, 34},  {80, 35},  {81, 36},  {82, 37},  {100, 44}, {110, 38}, {111, 1}, {112, 22},
        {113, 23}, {114, 39}, {115, 40}, {116, 41}, {117, 42}, {120, 50},
    };
    for (const auto& pair : pairs) table[static_cast<size_t>(pair[0])] = pair[1];
    return table;
}

constexpr std::array<int8_t, 121> kLibraryTable = BuildLibraryTable();

// The texts of the general codes; codes 25 to 30 have none.
constexpr std::array<const char*, 52> kResultTexts = {
    "Success code. No error returned",
    "An error occurred",
    "A NULL pointer has been provided",
    "An empty parameter has been provided",
    "The object pointer provided is not of the correct type",
    "Memory Allocation error - System cannot allocate memory",
    "An internal error occurred",
    "Thread policy is invalid",
    "Thread priority is invalid",
    "Call to a SDK method that is not allowed for the given product - technology - "
    "online/offline combination",
    "Online embedding is not available for this platform, use Create...AudioEmbedder "
    "function instead",
    "Call to set embedder parameter that is not supported for online implementation",
    "Listener provided is a NULL pointer",
    kept_text::kNotInitialized,
    "Embedder has already been initialized",
    "Embedder parameters have not been initialized",
    "Bit per sample value provided is invalid - bit per sample value shall be either 16, 24 "
    "or 32",
    "Number of audio channels provided is invalid - This shall be greater than 0",
    "The audio sample rate shall be only 48000Hz",
    "A buffer whose size is not a factor of sample size has been provided",
    kept_text::kSettingsMissing,
    "File duration is invalid",
    "File offset duration is invalid",
    "Watermark duration is invalid",
    "Invalid string encoding. UTF8 required",
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    kept_text::kReportNotSent,
    "Missing json string for sending job report to online server",
    "Invalid report json format",
    "Timecode looped while embedding",
    "The channel name provided is not one of the embedder's channels",
    "The time resynchronization feature is not allowed",
    "All Ids for this channel name are already locked",
    "Do not use SetMetadataFilePath along with SetUniqueContentId, SetChannelName, "
    "SetFileOffset or SetMetadataList",
    "Error on metadata file",
    "Maximum 7 metadata can be added",
    "Metadata(json) string is mandatory for online SDK",
    "Metadata (json) string parsing error",
    "Error on command line",
    "An I/O error occurred",
    "Unsupported WAV file opened",
    "Invalid technology",
    "The payload size is invalid",
    "Invalid payload id (check payload bit size)",
    "Invalid timecode (check first time code and timecode bit size)",
    "Report generation failed. Check record output path",
    "An undefined error occurred",
};

}  // namespace

Status Status::FromLibrary(int32_t libraryCode, std::string context) {
    return Status(LibraryCodeToGeneral(libraryCode), std::move(context));
}

Status Status::FromReader(int32_t readerCode, std::string context) {
    return Status(ReaderCodeToGeneral(readerCode), std::move(context));
}

Status Status::FromWriter(int32_t writerCode, std::string context) {
    return Status(WriterCodeToGeneral(writerCode), std::move(context));
}

int32_t LibraryCodeToGeneral(int32_t libraryCode) {
    if (libraryCode < 0 || libraryCode >= static_cast<int32_t>(kLibraryTable.size())) {
        return kUndefinedError;
    }
    return kLibraryTable[static_cast<size_t>(libraryCode)];
}

int32_t ReaderCodeToGeneral(int32_t readerCode) {
    switch (readerCode) {
        case -4:  // not a WAV file the reader takes
            return kUnsupportedWav;
        case -3:  // input/output failure
            return kIoError;
        case -2:  // a call the reader cannot take
            return kGenericError;
        case -1:  // no path
            return kNullPointer;
        case 0:
            return kSuccess;
        default:
            return kUndefinedError;
    }
}

int32_t WriterCodeToGeneral(int32_t writerCode) {
    switch (writerCode) {
        case 0:
            return kSuccess;
        case 1:  // no path, or no file open
            return kNullPointer;
        case 2:  // a call the writer cannot take
            return kGenericError;
        case 3:  // input/output failure
        case 4:  // the output is in use by another run
            return kIoError;
        case 5:  // memory could not be had
            return kMemoryError;
        default:
            return kUndefinedError;
    }
}

const char* ResultText(int32_t code) {
    if (code < 0 || code >= static_cast<int32_t>(kResultTexts.size())) return nullptr;
    return kResultTexts[static_cast<size_t>(code)];
}

int ExitStatusFor(int32_t code) {
    return code >= 0 && code <= 255 ? code : kUndefinedError;
}

}  // namespace CorvidaUtils
