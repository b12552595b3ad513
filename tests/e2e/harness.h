// Runs the real quarlencli (optionally under quarlen-emu) with arguments and
// standard input, and captures its standard output and exit status.
#pragma once

#include <string>
#include <vector>

struct CliRun {
    std::string out;  // everything written to standard output
    std::string err;  // standard error (the product writes nothing there)
    int status = -1;  // exit status, or 128 + signal
};

struct CliOptions {
    std::vector<std::string> args;     // arguments after the program name
    std::string input;                 // standard input (closed after it)
    bool emulated = false;             // run under build/bin/quarlen-emu
    std::string topology;              // --topology FILE (empty: built-in default)
    std::string stateDir;              // --state DIR (empty: a fresh temporary one)
    std::vector<std::string> emuArgs;  // further launcher options
    std::string workDir;               // working directory (empty: inherited)
};

CliRun runCli(const CliOptions& options);
// Shorthand for the plain product without the emulator.
CliRun runPlain(std::vector<std::string> args, const std::string& input = "");

// Runs argv[0] (an absolute path) with the rest as arguments.
CliRun runCommand(const std::vector<std::string>& argv, const std::string& input,
                  const std::string& workDir);

// Runs any command line under the emulator (for sg3_utils and helpers).
CliRun runUnderEmu(const std::vector<std::string>& command, const std::string& input = "",
                   const std::string& topology = "", const std::string& stateDir = "");

// A fresh directory under this process's temporary parent, removed with it at exit.
std::string makeTempDir();
std::string writeTempFile(const std::string& name, const std::string& contents);

// Build-tree locations.
std::string cliPath();
std::string emuPath();

// The banner the product prints at the start of every mode but --help.
extern const char* const kBanner;
