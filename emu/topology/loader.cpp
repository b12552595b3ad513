#include "topology/loader.h"

#include <exception>
#include <fstream>
#include <sstream>

namespace qemu {

// Generated from the JSON files in emu/topology/ at build time.
extern const char kDefaultScsiTopology[];
extern const char kDefaultControllerTopology[];

namespace {

bool parseSection(const char* text, const char* name, nlohmann::json* section, std::string* error) {
    std::string source(text);
    if (source.find_first_not_of(" \t\r\n") == std::string::npos)
        source = "{}";
    try {
        *section = nlohmann::json::parse(source);
    } catch (const nlohmann::json::exception& e) {
        *error = std::string("built-in topology (") + name + "): " + e.what();
        return false;
    }
    return true;
}

}  // namespace

bool defaultTopology(nlohmann::json* topology, std::string* error) {
    nlohmann::json scsi, controllers;
    if (!parseSection(kDefaultScsiTopology, "default-scsi.json", &scsi, error) ||
        !parseSection(kDefaultControllerTopology, "default-controllers.json", &controllers,
                      error)) {
        return false;
    }
    *topology = nlohmann::json::object();
    (*topology)["scsi"] = std::move(scsi);
    (*topology)["controllers"] = std::move(controllers);
    return true;
}

bool readTopologyFile(const std::string& path, nlohmann::json* topology, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *error = "topology " + path + ": cannot be read";
        return false;
    }
    std::stringstream contents;
    contents << file.rdbuf();
    try {
        *topology = nlohmann::json::parse(contents.str());
    } catch (const nlohmann::json::exception& e) {
        *error = "topology " + path + ": " + e.what();
        return false;
    }
    return true;
}

bool checkTopologyShape(const nlohmann::json& topology, std::string* error) {
    if (!topology.is_object()) {
        *error = "the topology must be a JSON object with \"scsi\" and \"controllers\" members";
        return false;
    }
    for (const auto& [key, value] : topology.items()) {
        if (key == "scsi" || key == "controllers") {
            if (!value.is_object()) {
                *error = "topology member \"" + key + "\" must be an object";
                return false;
            }
        } else if (key == "description") {
            if (!value.is_string()) {
                *error = "topology member \"description\" must be a string";
                return false;
            }
        } else if (key != "faults") {
            *error = "unknown topology member \"" + key +
                     "\" (expected \"scsi\", \"controllers\", \"faults\", \"description\")";
            return false;
        }
    }
    return true;
}

bool buildModels(const nlohmann::json& topology, EmuServices& services, Models* models,
                 std::string* error) {
    try {
        models->sg = makeSgTopology(topology, services);
        models->controllers = makeControllerTopology(topology, services);
    } catch (const std::exception& e) {
        *error = std::string("topology: ") + e.what();
        models->sg.reset();
        models->controllers.reset();
        return false;
    }
    return true;
}

}  // namespace qemu
