#pragma once
// Writing a whole file so that nobody ever sees half of it, and only where it was meant to go.
// Plain POSIX, like posix_io.h.
#include <cstddef>
#include <string>

// Replaces the file named target by data: written to a temporary file in the same folder,
// synced, then renamed over target, so a crash or a full disk leaves the old file whole. The
// name itself is replaced: a link at target is replaced, never followed. A file that was there
// keeps its mode (and its owner where this process may set it); a new one gets 0666 less the
// umask. False, with nothing changed, when any step fails.
bool replaceFileAtomically(const std::string& target, const void* data, std::size_t size);

// What a save to path would meet. A link that another user owns (planted in a shared folder
// under the name the user chose) must not decide where the user's text goes.
enum class SaveTarget {
    Plain,       // no file there, or a file that is not a link
    OwnLink,     // a link this user made: the text goes where it points
    ForeignLink, // a link another user owns: refused
};
SaveTarget examineSaveTarget(const std::string& path);
