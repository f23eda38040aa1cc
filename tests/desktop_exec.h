// A reader for the Exec key of a desktop entry, written from the Desktop Entry
// Specification alone, to check what the writer produced.
#pragma once

#include <optional>
#include <string>
#include <vector>

// Undoes the string escapes of a value: \s \n \t \r \\.
inline std::string UnescapeDesktopString(const std::string& value)
{
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (value[++i]) {
        case 's': out += ' '; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case '\\': out += '\\'; break;
        default: out += '\\'; out += value[i];
        }
    }
    return out;
}

// Splits an unescaped Exec value into arguments; nothing when it breaks the
// quoting rules (a reserved character outside quotes, an unknown escape, an
// open quote, a lone '%').
inline std::optional<std::vector<std::string>> ParseDesktopExec(const std::string& value)
{
    const std::string line = UnescapeDesktopString(value);
    const std::string reserved = "\t\n\"'\\><~|&;$*?#()`";
    std::vector<std::string> args;
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ') { ++i; continue; }
        std::string arg;
        if (line[i] == '"') {
            for (++i;; ++i) {
                if (i == line.size()) return std::nullopt;
                if (line[i] == '"') { ++i; break; }
                if (line[i] == '\\') {
                    if (++i == line.size()) return std::nullopt;
                    if (std::string("\"`$\\").find(line[i]) == std::string::npos)
                        return std::nullopt;
                }
                arg += line[i];
            }
            if (i < line.size() && line[i] != ' ') return std::nullopt;
        } else {
            for (; i < line.size() && line[i] != ' '; ++i) {
                if (reserved.find(line[i]) != std::string::npos) return std::nullopt;
                arg += line[i];
            }
        }
        // Field codes: only the literal percent sign is expected here.
        std::string plain;
        for (size_t k = 0; k < arg.size(); ++k) {
            if (arg[k] != '%') { plain += arg[k]; continue; }
            if (k + 1 < arg.size() && arg[k + 1] == '%') { plain += '%'; ++k; continue; }
            return std::nullopt;
        }
        args.push_back(plain);
    }
    return args;
}

// The value of key in the [Desktop Entry] group of a file's text.
inline std::optional<std::string> DesktopEntryValue(const std::string& text, const std::string& key)
{
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(pos, end - pos);
        if (line.compare(0, key.size() + 1, key + "=") == 0) return line.substr(key.size() + 1);
        pos = end + 1;
    }
    return std::nullopt;
}
