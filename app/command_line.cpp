#include "app/command_line.h"

EarlyCommand findEarlyCommand(const std::vector<std::string>& args) {
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--")
            break;
        if (arg == "--version")
            return EarlyCommand::Version;
        if (arg == "--help" || arg == "-h")
            return EarlyCommand::Help;
    }
    return EarlyCommand::None;
}

std::string earlyCommandText(EarlyCommand command, const std::string& version) {
    switch (command) {
    case EarlyCommand::None:
        return {};
    case EarlyCommand::Version:
        return "stbmate " + version + "\n";
    case EarlyCommand::Help:
        return "Usage: stbmate [options]\n"
               "Set-up and rescue helper for a satellite receiver, over its serial console\n"
               "and the network.\n"
               "\n"
               "  --version          print the version and exit\n"
               "  -h, --help         print this help and exit\n"
               "\n"
               "Qt's own options work as usual, for example:\n"
               "  -platform NAME     window system plugin (xcb, wayland, offscreen)\n"
               "  -display DISPLAY   X display to use\n"
               "  -style NAME        widget style\n"
               "\n"
               "Settings: stbmate.ini beside the program when that folder holds one and is\n"
               "writable (portable), otherwise $XDG_CONFIG_HOME/stbmate/stbmate.ini (default\n"
               "~/.config), made from the installed default on first start. Session log:\n"
               "Logs/ beside that portable stbmate.ini, or $XDG_STATE_HOME/stbmate/Logs\n"
               "(default ~/.local/state).\n";
    }
    return {};
}
