#include "driver/Watch.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <thread>

#include "driver/Diagnostics.h"
#include "driver/Pragmas.h"
#include "driver/SourceRun.h"

namespace ferrow {

namespace {

constexpr std::chrono::milliseconds kPollInterval{200};

std::string timeOfDay() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    if (std::strftime(text, sizeof text, "%H:%M:%S", &local) == 0) return "??:??:??";
    return text;
}

void runOnce(const std::string& path, const std::vector<std::string>& scriptArgs) {
    bool ok = false;
    const std::string source = readSourceFile(path, ok);
    if (!ok) return;
    std::cout << "\n---- run at " << timeOfDay() << " ----\n";
    if (checkPragmas(scanPragmas(source), path)) {
        // The status is of no use here: errors are already reported and
        // watching goes on. A script's exit ends only this run, as an
        // error would, and says nothing.
        if (useTreeWalker) {
            runOnFreshTree(source, path, scriptArgs);
        } else {
            runOnVM(source, path, scriptArgs);
        }
    }
    std::cout.flush();
    std::cerr.flush();
}

}  // namespace

void watchFile(const std::string& path, const std::vector<std::string>& scriptArgs) {
    std::cout << "ferrow: watching " << path << " -- save to re-run, Ctrl-C to stop\n";
    std::cout.flush();
    bool first = true;
    std::filesystem::file_time_type lastTime{};
    while (true) {
        std::error_code ec;
        const auto time = std::filesystem::last_write_time(path, ec);
        // Any change counts, also to an earlier time. The time is recorded
        // before reading, so an unreadable file waits for its next change.
        if (!ec && (first || time != lastTime)) {
            first = false;
            lastTime = time;
            runOnce(path, scriptArgs);
        }
        std::this_thread::sleep_for(kPollInterval);
    }
}

}  // namespace ferrow
