#include "code_exception.h"

#include <array>

#include "kept_texts.h"
#include "result_codes.h"

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

}  // namespace

const char* CodeException::what() const noexcept {
    return message.c_str();
}

int32_t CodeException::ConvertCode(int32_t componentCode) const {
    return componentCode;
}

void CodeException::Check(bool condition, int32_t componentCode, const std::string& context) {
    if (!condition) Raise(componentCode, context);
}

void CodeException::CheckResult(int32_t result, const std::string& context) {
    if (result != successCode) Raise(result, context);
}

void CodeException::Raise(int32_t componentCode, const std::string& context) {
    code = ConvertCode(componentCode);
    message = context;
    // Always thrown as exactly CodeException, whatever the checker's class.
    throw CodeException(*this);
}

int32_t ExceptionSdk::ConvertCode(int32_t componentCode) const {
    if (componentCode < 0 || componentCode >= static_cast<int32_t>(kLibraryTable.size())) {
        return kUndefinedError;
    }
    return kLibraryTable[static_cast<size_t>(componentCode)];
}

int32_t ExceptionWavParser::ConvertCode(int32_t componentCode) const {
    switch (componentCode) {
        case -4:
            return kUnsupportedWav;
        case -3:
            return kIoError;
        case -2:
            return kGenericError;
        case -1:
            return kNullPointer;
        case 0:
            return kSuccess;
        default:
            return kUndefinedError;
    }
}

int32_t ExceptionWavMuxer::ConvertCode(int32_t componentCode) const {
    switch (componentCode) {
        case 0:
            return kSuccess;
        case 1:
            return kNullPointer;
        case 2:
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

void buildResultMessages(std::map<int32_t, std::string>& messages) {
    messages[0] = "Success code. No error returned";
    messages[1] = "An error occurred";
    messages[2] = "A NULL pointer has been provided";
    messages[3] = "An empty parameter has been provided";
    messages[4] = "The object pointer provided is not of the correct type";
    messages[5] = "Memory Allocation error - System cannot allocate memory";
    messages[6] = "An internal error occurred";
    messages[7] = "Thread policy is invalid";
    messages[8] = "Thread priority is invalid";
    messages[9] =
        "Call to a SDK method that is not allowed for the given product - technology - "
        "online/offline combination";
    messages[10] =
        "Online embedding is not available for this platform, use Create...AudioEmbedder "
        "function instead";
    messages[11] = "Call to set embedder parameter that is not supported for online implementation";
    messages[12] = "Listener provided is a NULL pointer";
    messages[13] = kept_text::kNotInitialized;
    messages[14] = "Embedder has already been initialized";
    messages[15] = "Embedder parameters have not been initialized";
    messages[16] =
        "Bit per sample value provided is invalid - bit per sample value shall be either 16, 24 "
        "or 32";
    messages[17] = "Number of audio channels provided is invalid - This shall be greater than 0";
    messages[18] = "The audio sample rate shall be only 48000Hz";
    messages[19] = "A buffer whose size is not a factor of sample size has been provided";
    messages[20] = kept_text::kSettingsMissing;
    messages[21] = "File duration is invalid";
    messages[22] = "File offset duration is invalid";
    messages[23] = "Watermark duration is invalid";
    messages[24] = "Invalid string encoding. UTF8 required";
    messages[31] = kept_text::kReportNotSent;
    messages[32] = "Missing json string for sending job report to online server";
    messages[33] = "Invalid report json format";
    messages[34] = "Timecode looped while embedding";
    messages[35] = "The channel name provided is not one of the embedder's channels";
    messages[36] = "The time resynchronization feature is not allowed";
    messages[37] = "All Ids for this channel name are already locked";
    messages[38] =
        "Do not use SetMetadataFilePath along with SetUniqueContentId, SetChannelName, "
        "SetFileOffset or SetMetadataList";
    messages[39] = "Error on metadata file";
    messages[40] = "Maximum 7 metadata can be added";
    messages[41] = "Metadata(json) string is mandatory for online SDK";
    messages[42] = "Metadata (json) string parsing error";
    messages[43] = "Error on command line";
    messages[44] = "An I/O error occurred";
    messages[45] = "Unsupported WAV file opened";
    messages[46] = "Invalid technology";
    messages[47] = "The payload size is invalid";
    messages[48] = "Invalid payload id (check payload bit size)";
    messages[49] = "Invalid timecode (check first time code and timecode bit size)";
    messages[50] = "Report generation failed. Check record output path";
    messages[51] = "An undefined error occurred";
}

}  // namespace CorvidaUtils
