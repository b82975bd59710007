// Writes the shell completions of cmdclient for bash, zsh and fish into the
// folder given, from the client's own table of options, so that they list
// exactly what --help lists.
#include "client/arguments.h"

#include <fstream>
#include <iostream>
#include <string>

namespace {

using cmdclient::Kind;
using cmdclient::OptionRow;

// A row's help on one line; a row shown beside the one before takes its text.
std::string help_of(const OptionRow& row) {
    const auto& table = cmdclient::option_table();
    const OptionRow* shown = &row;
    while (shown->help != nullptr && *shown->help == '\0' && shown != &table.front()) {
        --shown;
    }
    std::string help = shown->help != nullptr ? shown->help : "";
    for (char& c : help) {
        c = c == '\n' ? ' ' : c;
    }
    return help;
}

// `text` with each character of `special` after a backslash.
std::string escaped(const std::string& text, const std::string& special) {
    std::string out;
    for (const char c : text) {
        if (special.find(c) != std::string::npos) {
            out += '\\';
        }
        out += c;
    }
    return out;
}

// `text` for a shell's single quotes, which hold a quote only as '\''.
std::string single_quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

bool repeats(const OptionRow& row) {
    return std::holds_alternative<std::vector<std::string> cmdclient::Options::*>(row.field) ||
           std::holds_alternative<std::vector<cmdclient::CommandFile> cmdclient::Options::*>(
               row.field);
}

// The names of a row as typed: "-L", "--log-file".
std::vector<std::string> names(const OptionRow& row) {
    std::vector<std::string> typed;
    if (row.letter != 0) {
        typed.push_back(std::string("-") + row.letter);
    }
    if (row.name != nullptr) {
        typed.push_back(std::string("--") + row.name);
    }
    return typed;
}

void bash(std::ostream& out) {
    std::string all;
    std::string files;
    std::string values;
    for (const OptionRow& row : cmdclient::option_table()) {
        for (const std::string& name : names(row)) {
            all += (all.empty() ? "" : " ") + name;
            if (row.kind != Kind::flag) {
                (row.kind == Kind::file ? files : values) += "|" + name;
            }
        }
    }
    out << "# bash completion for cmdclient                           -*- shell-script -*-\n"
           "_cmdclient() {\n"
           "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} i\n"
           "    # After \"--\" come only the host and port.\n"
           "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
           "        [[ ${COMP_WORDS[i]} == -- ]] && return\n"
           "    done\n"
           "    # \"--log-file=FILE\" comes as \"--log-file\" \"=\" \"FILE\".\n"
           "    if [[ $cur == = ]]; then\n"
           "        cur=\n"
           "    elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then\n"
           "        prev=${COMP_WORDS[COMP_CWORD-2]}\n"
           "    fi\n"
           "    case $prev in\n"
           "    "
        << files.substr(1)
        << ")\n"
           "        compopt -o filenames 2>/dev/null\n"
           "        COMPREPLY=($(compgen -f -- \"$cur\"))\n"
           "        return ;;\n"
           "    "
        << values.substr(1)
        << ")\n"
           "        return ;;\n"
           "    esac\n"
           "    if [[ $cur == -* ]]; then\n"
           "        COMPREPLY=($(compgen -W \""
        << all
        << "\" -- \"$cur\"))\n"
           "    fi\n"
           "}\n"
           "complete -F _cmdclient cmdclient\n";
}

void zsh(std::ostream& out) {
    out << "#compdef cmdclient\n"
           "# zsh completion for cmdclient\n"
           "_arguments -S -s \\\n";
    for (const OptionRow& row : cmdclient::option_table()) {
        const std::string help = escaped(help_of(row), "[]\\");
        std::string value;
        if (row.kind != Kind::flag) {
            value = std::string(":") + row.value_name + ":" + (row.kind == Kind::file ? "_files" : " ");
        }
        for (const std::string& name : names(row)) {
            const std::string joined = row.kind == Kind::flag ? "" : name[1] == '-' ? "=" : "+";
            std::string described = (repeats(row) ? "*" : "") + name + joined +
                                    (help.empty() ? "" : "[" + help + "]") + value;
            out << "  " << single_quoted(described) << " \\\n";
        }
    }
    out << "  ':host or port: ' ':port: '\n";
}

void fish(std::ostream& out) {
    out << "# fish completion for cmdclient\n"
           "complete -c cmdclient -f\n";
    for (const OptionRow& row : cmdclient::option_table()) {
        out << "complete -c cmdclient";
        if (row.letter != 0) {
            out << " -s " << row.letter;
        }
        if (row.name != nullptr) {
            out << " -l " << row.name;
        }
        if (row.kind != Kind::flag) {
            out << (row.kind == Kind::file ? " -r -F" : " -x");
        }
        const std::string help = help_of(row);
        if (!help.empty()) {
            out << " -d '" << escaped(help, "'\\") << "'";
        }
        out << "\n";
    }
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::cerr << "usage: write_completions FOLDER\n";
        return 1;
    }
    const std::string folder = argv[1];
    std::ofstream bash_file(folder + "/cmdclient");
    std::ofstream zsh_file(folder + "/_cmdclient");
    std::ofstream fish_file(folder + "/cmdclient.fish");
    bash(bash_file);
    zsh(zsh_file);
    fish(fish_file);
    bash_file.close();
    zsh_file.close();
    fish_file.close();
    return bash_file && zsh_file && fish_file ? 0 : 1;
}
