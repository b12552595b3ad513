#include "topology/loader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>

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

namespace {

// Closes the descriptor on every path.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

// Reads a whole regular file of at most kMaxTopologyBytes. A FIFO, a device
// or a directory is refused before any read, so /dev/zero cannot grow the
// buffer and a FIFO cannot block; the size is checked on the bytes read, not
// only on what fstat said.
bool readBoundedFile(const std::string& path, std::string* contents, std::string* error) {
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0) {
        *error = std::string("cannot be read: ") + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = "not a regular file";
        return false;
    }
    if (static_cast<uint64_t>(st.st_size) > kMaxTopologyBytes) {
        *error = "larger than " + std::to_string(kMaxTopologyBytes) + " bytes";
        return false;
    }
    contents->clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *error = std::string("cannot be read: ") + std::strerror(errno);
            return false;
        }
        if (n == 0)
            return true;
        if (contents->size() + static_cast<size_t>(n) > kMaxTopologyBytes) {
            *error = "larger than " + std::to_string(kMaxTopologyBytes) + " bytes";
            return false;
        }
        contents->append(buffer, static_cast<size_t>(n));
    }
}

}  // namespace

bool jsonNestingWithin(const std::string& text, size_t maxDepth) {
    size_t depth = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > maxDepth)
                return false;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return true;
}

bool readTopologyFile(const std::string& path, nlohmann::json* topology, std::string* error) {
    std::string contents;
    if (!readBoundedFile(path, &contents, error)) {
        *error = "topology " + path + ": " + *error;
        return false;
    }
    // The document is copied and destroyed recursively later: refuse a
    // nesting that would exhaust the stack before parsing it.
    if (!jsonNestingWithin(contents, kMaxTopologyDepth)) {
        *error = "topology " + path + ": nested more than " + std::to_string(kMaxTopologyDepth) +
                 " levels deep";
        return false;
    }
    try {
        *topology = nlohmann::json::parse(contents);
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
