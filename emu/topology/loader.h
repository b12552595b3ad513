// Reading, checking and instantiating a topology: the JSON document
// {"scsi": {...}, "controllers": {...}} that says which devices exist. The
// launcher checks a file with it before starting anything; the preloaded
// library builds its models with it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "emu_api.h"

namespace qemu {

// The built-in topology: {"scsi": <default-scsi.json>, "controllers":
// <default-controllers.json>}, embedded at build time.
bool defaultTopology(nlohmann::json* topology, std::string* error);

// Limits of a topology file: far above any machine one describes, far below
// what would exhaust memory or the stack.
inline constexpr size_t kMaxTopologyBytes = 16u << 20;
inline constexpr size_t kMaxTopologyDepth = 64;

// False when brackets outside strings nest deeper than maxDepth.
bool jsonNestingWithin(const std::string& text, size_t maxDepth);

// Reads and parses a topology file: a regular file within the limits above.
// The error names the file and, for bad JSON, the byte where parsing stopped.
bool readTopologyFile(const std::string& path, nlohmann::json* topology, std::string* error);

// The overall shape: an object whose members are "scsi" and "controllers"
// (objects, both optional), "faults" (any JSON, for the models) and
// "description" (free text). Anything else is refused, so that a misspelt
// section does not silently give a machine without devices.
bool checkTopologyShape(const nlohmann::json& topology, std::string* error);

struct Models {
    std::unique_ptr<SgTopology> sg;
    std::unique_ptr<ControllerTopology> controllers;
};

// Builds both model sets from the whole topology document. A model that
// cannot honour its part throws; the message comes back in error.
bool buildModels(const nlohmann::json& topology, EmuServices& services, Models* models,
                 std::string* error);

}  // namespace qemu
