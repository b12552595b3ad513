// Remembers the first device node that could not be opened for lack of
// permission, so that a discovery that finds nothing can say why instead of
// only reporting an empty machine to a user who is not root.
#pragma once

// Called after a failed open of a device or control node with its errno;
// only EACCES and EPERM are kept, and only the first.
void noteNodeOpenFailure(const char* path, int error);

// Prints "WARN!! Permission denied opening '<node>'; run as root." once per
// process, when a node was refused; nothing otherwise.
void warnPermissionDenied();

// Forgets the node and the warning (tests).
void resetNodeAccess();
