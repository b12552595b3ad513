#include "shell/node_access.h"

#include <cerrno>
#include <cstdio>

#include "shell/logger.h"

namespace {

char g_deniedNode[256];
bool g_denied = false;
bool g_warned = false;

}  // namespace

void noteNodeOpenFailure(const char* path, int error) {
    if (g_denied || path == nullptr || (error != EACCES && error != EPERM))
        return;
    std::snprintf(g_deniedNode, sizeof g_deniedNode, "%s", path);
    g_denied = true;
}

void warnPermissionDenied() {
    if (!g_denied || g_warned)
        return;
    g_warned = true;
    logWarn("Permission denied opening '%s'; run as root.", g_deniedNode);
}

void resetNodeAccess() {
    g_deniedNode[0] = '\0';
    g_denied = false;
    g_warned = false;
}
