#include "process_reporter.h"

#include <unistd.h>

#include <iostream>

#include "json_log_reporter.h"

std::unique_ptr<RunReporter> MakeProcessReporter(ReporterSettings settings) {
    std::ostream& console = settings.outputIsStandardOutput ? std::cerr : std::cout;
    settings.style.terminal =
        isatty(settings.outputIsStandardOutput ? STDERR_FILENO : STDOUT_FILENO) == 1;
    if (!settings.jsonLog) {
        return std::make_unique<ConsoleReporter>(&console, &std::cerr, std::move(settings.style));
    }
    // Standard error carries the log and nothing else; standard output what it always did.
    const std::string program = settings.style.program;
    auto lines = std::make_unique<ConsoleReporter>(
        settings.outputIsStandardOutput ? nullptr : &std::cout, nullptr, std::move(settings.style));
    return std::make_unique<ReporterPair>(std::move(lines),
                                          std::make_unique<JsonLogReporter>(std::cerr, program));
}

const char* ProgramVersion() {
    return PELLION_VERSION;
}

void PrintUsageText(const std::function<void(std::ostream&)>& printUsage) {
    printUsage(std::cout);
}

void PrintProgramVersion(const std::string& program,
                         const std::optional<std::string>& libraryVersion) {
    std::cout << program << " " << ProgramVersion() << std::endl;
    if (libraryVersion)
        std::cout << "Pellion Embedding SDK version:" << *libraryVersion << std::endl;
}
