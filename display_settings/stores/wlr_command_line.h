#pragma once

#include <string>
#include <vector>

// The file a wlroots daemon's command line names with -c FILE, -cFILE,
// --config FILE or --config=FILE, read as getopt_long reads it: the last one
// counts, and "--" ends the options. Empty when it names none.
inline std::string ConfigOption(const std::vector<std::string>& args)
{
    std::string named;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") break;
        if ((arg == "-c" || arg == "--config") && i + 1 < args.size())
            named = args[++i];
        else if (arg.starts_with("--config="))
            named = arg.substr(9);
        else if (arg.starts_with("-c") && arg.size() > 2)
            named = arg.substr(2);
    }
    return named;
}
