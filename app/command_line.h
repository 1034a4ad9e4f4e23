#pragma once
// The options stbmate answers itself before any window system is touched, so `stbmate
// --version` works over ssh and in scripts. Everything else on the command line is left to
// Qt (-platform, -display, -style, ...).
#include <string>
#include <vector>

enum class EarlyCommand { None, Version, Help };

// The first of --version / --help / -h among args (args[0] is the program); None when there
// is neither, or when it appears only after "--".
EarlyCommand findEarlyCommand(const std::vector<std::string>& args);

// The text printed for the command, ending in a newline.
std::string earlyCommandText(EarlyCommand command, const std::string& version);
