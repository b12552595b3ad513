// A small SCSI generic client for the emulator tests, run under quarlen-emu.
// Each subcommand prints plain "key value" lines that the tests compare.
//
//   sgclient list                   listing of /sys/class/scsi_generic via opendir
//   sgclient fslist                 the same via std::filesystem
//   sgclient probe N                open /dev/sgN, fstat, SG_GET_VERSION_NUM, SG_GET_SCSI_ID
//   sgclient cdb N DIR LEN HEX...   one SG_IO (DIR: none, from, to); prints status and data
//   sgclient checks N               the driver's refusals of malformed requests
//   sgclient stale N                descriptors closed behind the emulator's back
//   sgclient sleep SECONDS KIND     nanosleep | usleep | sleep | clock; prints elapsed
//   sgclient env NAME               value of an environment variable
//   sgclient files PATH...          open/stat/lstat/fstat/read/list of ordinary paths
#include <dirent.h>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

double monotonicSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::string hex(const unsigned char* bytes, size_t length) {
    std::string text;
    char byte[4];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(byte, sizeof byte, i == 0 ? "%02x" : " %02x", bytes[i]);
        text += byte;
    }
    return text;
}

std::string nodePath(const char* number) {
    return std::string("/dev/sg") + number;
}

int list() {
    DIR* dir = opendir("/sys/class/scsi_generic");
    if (dir == nullptr) {
        std::printf("opendir errno %d\n", errno);
        return 1;
    }
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        std::printf("entry %s\n", entry->d_name);
    }
    closedir(dir);
    struct stat st {};
    const int rc = stat("/sys/class/scsi_generic", &st);
    std::printf("stat %d dir %d\n", rc, rc == 0 && S_ISDIR(st.st_mode) ? 1 : 0);
    return 0;
}

int fslist() {
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator("/sys/class/scsi_generic", error)) {
        std::printf("entry %s\n", entry.path().filename().c_str());
    }
    if (error)
        std::printf("error %d\n", error.value());
    std::printf("is_directory %d\n",
                std::filesystem::is_directory("/sys/class/scsi_generic", error) ? 1 : 0);
    return 0;
}

int probe(const char* number) {
    const std::string path = nodePath(number);
    struct stat byPath {};
    std::printf("stat %d\n", stat(path.c_str(), &byPath));
    const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK);
    if (fd < 0) {
        std::printf("open errno %d\n", errno);
        return 1;
    }
    struct stat st {};
    fstat(fd, &st);
    std::printf("chr %d major %u minor %u\n", S_ISCHR(st.st_mode) ? 1 : 0, major(st.st_rdev),
                minor(st.st_rdev));
    int version = 0;
    const int versionRc = ioctl(fd, SG_GET_VERSION_NUM, &version);
    std::printf("version %d %d\n", versionRc, version);
    sg_scsi_id id{};
    const int rc = ioctl(fd, SG_GET_SCSI_ID, &id);
    std::printf("scsi_id %d type %d host %d channel %d id %d lun %d\n", rc, id.scsi_type,
                id.host_no, id.channel, id.scsi_id, id.lun);
    std::printf("close %d\n", close(fd));
    return 0;
}

int cdb(int argc, char** argv) {
    // argv: number dir length hex...
    const std::string path = nodePath(argv[0]);
    const std::string dir = argv[1];
    const size_t length = std::strtoul(argv[2], nullptr, 0);
    std::vector<unsigned char> command;
    for (int i = 3; i < argc; ++i) {
        command.push_back(static_cast<unsigned char>(std::strtoul(argv[i], nullptr, 16)));
    }
    std::vector<unsigned char> data(length, 0);
    if (dir == "to") {
        for (size_t i = 0; i < length; ++i)
            data[i] = static_cast<unsigned char>(i * 7 + 1);
    }
    const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK);
    if (fd < 0) {
        std::printf("open errno %d\n", errno);
        return 1;
    }
    unsigned char sense[32] = {};
    sg_io_hdr_t header{};
    header.interface_id = 'S';
    header.dxfer_direction = dir == "from" ? SG_DXFER_FROM_DEV
                             : dir == "to" ? SG_DXFER_TO_DEV
                                           : SG_DXFER_NONE;
    header.cmd_len = static_cast<unsigned char>(command.size());
    header.cmdp = command.data();
    header.mx_sb_len = sizeof sense;
    header.sbp = sense;
    header.dxfer_len = static_cast<unsigned>(length);
    header.dxferp = data.data();
    header.timeout = 600000;
    const int rc = ioctl(fd, SG_IO, &header);
    std::printf("ioctl %d errno %d\n", rc, rc == 0 ? 0 : errno);
    std::printf(
        "status 0x%02x masked 0x%02x sb_len_wr %d host 0x%x driver 0x%x info 0x%x resid %d\n",
        header.status, header.masked_status, header.sb_len_wr, header.host_status,
        header.driver_status, header.info, header.resid);
    std::printf("sense %s\n", hex(sense, header.sb_len_wr).c_str());
    if (dir == "from")
        std::printf("data %s\n", hex(data.data(), length - header.resid).c_str());
    close(fd);
    return 0;
}

int checks(const char* number) {
    const int fd = open(nodePath(number).c_str(), O_RDWR | O_NONBLOCK);
    if (fd < 0) {
        std::printf("open errno %d\n", errno);
        return 1;
    }
    unsigned char inquiry[6] = {0x12, 0, 0, 0, 36, 0};
    unsigned char data[36];
    sg_io_hdr_t header{};
    header.interface_id = 'Q';
    header.dxfer_direction = SG_DXFER_FROM_DEV;
    header.cmd_len = 6;
    header.cmdp = inquiry;
    header.dxfer_len = sizeof data;
    header.dxferp = data;
    int rc = ioctl(fd, SG_IO, &header);
    std::printf("bad_interface %d errno %d\n", rc, errno);
    header.interface_id = 'S';
    header.cmd_len = 5;
    rc = ioctl(fd, SG_IO, &header);
    std::printf("short_cdb %d errno %d\n", rc, errno);
    header.cmd_len = 253;
    rc = ioctl(fd, SG_IO, &header);
    std::printf("long_cdb %d errno %d\n", rc, errno);
    int value = 0;
    rc = ioctl(fd, 0x2299, &value);
    std::printf("unknown_ioctl %d errno %d\n", rc, errno);
    errno = 1234;
    header.cmd_len = 6;
    rc = ioctl(fd, SG_IO, &header);
    std::printf("good %d errno %d\n", rc, errno);
    close(fd);
    // A closed emulated descriptor is an ordinary bad descriptor again.
    rc = ioctl(fd, SG_GET_VERSION_NUM, &value);
    std::printf("after_close %d errno %d\n", rc, errno);
    return 0;
}

// Emulated descriptors closed behind the emulator's back (dup2 over them,
// fclose) must not keep answering as sg nodes once the number is reused.
int stale(const char* number) {
    const std::string path = nodePath(number);
    int version = 0;
    const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK);
    const int null = open("/dev/null", O_RDWR);
    if (fd < 0 || null < 0)
        return 1;
    dup2(null, fd);
    int rc = ioctl(fd, SG_GET_VERSION_NUM, &version);
    std::printf("dup2 %d errno %d\n", rc, rc == 0 ? 0 : errno);
    close(fd);
    close(null);

    const int again = open(path.c_str(), O_RDWR | O_NONBLOCK);
    FILE* stream = fdopen(again, "r");
    if (stream == nullptr)
        return 1;
    std::fclose(stream);
    const int plain = open("/dev/null", O_RDONLY);
    rc = ioctl(plain, SG_GET_VERSION_NUM, &version);
    std::printf("fclose same %d rc %d errno %d\n", plain == again ? 1 : 0, rc, rc == 0 ? 0 : errno);
    close(plain);
    return 0;
}

int sleepFor(double seconds, const std::string& kind) {
    const double start = monotonicSeconds();
    int rc = 0;
    if (kind == "nanosleep") {
        timespec request{static_cast<time_t>(seconds),
                         static_cast<long>((seconds - static_cast<time_t>(seconds)) * 1e9)};
        rc = nanosleep(&request, nullptr);
    } else if (kind == "clock") {
        timespec request{static_cast<time_t>(seconds),
                         static_cast<long>((seconds - static_cast<time_t>(seconds)) * 1e9)};
        rc = clock_nanosleep(CLOCK_MONOTONIC, 0, &request, nullptr);
    } else if (kind == "usleep") {
        // usleep takes at most a second at a time on some systems.
        for (double left = seconds; left > 0 && rc == 0; left -= 0.5) {
            rc = usleep(static_cast<useconds_t>((left < 0.5 ? left : 0.5) * 1e6));
        }
    } else {
        rc = static_cast<int>(sleep(static_cast<unsigned>(seconds)));
    }
    std::printf("rc %d elapsed %.3f\n", rc, monotonicSeconds() - start);
    return 0;
}

void fileReport(const char* path) {
    struct stat st {};
    int rc = stat(path, &st);
    std::printf("%s stat %d errno %d mode %o size %lld\n", path, rc, rc == 0 ? 0 : errno,
                rc == 0 ? st.st_mode : 0, rc == 0 ? static_cast<long long>(st.st_size) : -1);
    rc = lstat(path, &st);
    std::printf("%s lstat %d errno %d mode %o\n", path, rc, rc == 0 ? 0 : errno,
                rc == 0 ? st.st_mode : 0);
    const int fd = open(path, O_RDONLY);
    std::printf("%s open %d errno %d\n", path, fd >= 0 ? 0 : -1, fd >= 0 ? 0 : errno);
    if (fd < 0)
        return;
    struct stat byFd {};
    fstat(fd, &byFd);
    std::printf("%s fstat ino-match %d\n", path, byFd.st_ino == st.st_ino ? 1 : 0);
    if (S_ISDIR(byFd.st_mode)) {
        std::vector<std::string> names;
        DIR* dir = fdopendir(fd);
        while (const dirent* entry = dir != nullptr ? readdir(dir) : nullptr) {
            names.emplace_back(entry->d_name);
        }
        if (dir != nullptr)
            closedir(dir);
        std::sort(names.begin(), names.end());
        for (const auto& name : names)
            std::printf("%s entry %s\n", path, name.c_str());
        return;
    }
    char buf[64] = {};
    const ssize_t n = read(fd, buf, sizeof buf - 1);
    std::printf(
        "%s read %zd %s\n", path, n,
        n > 0 ? hex(reinterpret_cast<unsigned char*>(buf), static_cast<size_t>(n)).c_str() : "");
    errno = 0;
    const int closed = close(fd);
    std::printf("%s close %d errno %d\n", path, closed, errno);
}

// The kernel's device list through stdio and the stat family.
int procScsi() {
    const char* const path = "/proc/scsi/scsi";
    FILE* file = fopen(path, "re");
    std::printf("fopen %d errno %d\n", file != nullptr ? 0 : -1, file != nullptr ? 0 : errno);
    if (file != nullptr) {
        char line[256];
        while (std::fgets(line, sizeof line, file) != nullptr)
            std::printf("line %s", line);
        std::fclose(file);
    }
    struct stat st {};
    for (const bool follow : {true, false}) {
        errno = 0;
        const int rc = follow ? stat(path, &st) : lstat(path, &st);
        std::printf("%s %d errno %d %s\n", follow ? "stat" : "lstat", rc, rc == 0 ? 0 : errno,
                    rc != 0               ? "-"
                    : S_ISLNK(st.st_mode) ? "link"
                    : S_ISREG(st.st_mode) ? "file"
                                          : "other");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    const std::string what = argv[1];
    if (what == "list")
        return list();
    if (what == "fslist")
        return fslist();
    if (what == "probe" && argc == 3)
        return probe(argv[2]);
    if (what == "cdb" && argc >= 6)
        return cdb(argc - 2, argv + 2);
    if (what == "checks" && argc == 3)
        return checks(argv[2]);
    if (what == "stale" && argc == 3)
        return stale(argv[2]);
    if (what == "sleep" && argc == 4)
        return sleepFor(std::atof(argv[2]), argv[3]);
    if (what == "env" && argc == 3) {
        const char* value = std::getenv(argv[2]);
        std::printf("%s\n", value != nullptr ? value : "(unset)");
        return 0;
    }
    if (what == "procscsi")
        return procScsi();
    if (what == "files") {
        for (int i = 2; i < argc; ++i)
            fileReport(argv[i]);
        return 0;
    }
    return 2;
}
