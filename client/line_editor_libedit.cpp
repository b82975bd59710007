// Line editing and history at a terminal, with libedit.
#include "client/line_editor.h"

#include "client/console_platform.h"
#include "client/texts.h"
#include "net/wait.h"

#include <histedit.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>

namespace cmdclient {

namespace {

constexpr int history_size = 1000;

// The longest common beginning of all `words`.
std::string common_prefix(const std::vector<std::string>& words) {
    std::string prefix = words.front();
    for (const auto& word : words) {
        std::size_t same = 0;
        while (same < prefix.size() && same < word.size() && prefix[same] == word[same]) {
            ++same;
        }
        prefix.resize(same);
    }
    return prefix;
}

bool is_folder(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// File names that begin with `word` (which may name folders on the way).
std::vector<std::string> file_names_starting(const std::string& word) {
    const auto slash = word.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : word.substr(0, slash + 1);
    const std::string start = slash == std::string::npos ? word : word.substr(slash + 1);
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) {
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || (name[0] == '.' && start.empty())) {
            continue;
        }
        if (name.compare(0, start.size(), start) == 0) {
            const std::string path = folder + name;
            names.push_back(is_folder(path) ? path + "/" : path);
        }
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

class LineEditor final : public LineSource {
  public:
    LineEditor(Console& console, HistoryFile history)
        : console_(console), history_file_(std::move(history)) {
        std::setlocale(LC_CTYPE, ""); // multibyte text is edited as characters
        history_ = ::history_init();
        HistEvent event;
        ::history(history_, &event, H_SETSIZE, history_size);
        ::history(history_, &event, H_SETUNIQUE, 1);
        load_history();

        editor_ = ::el_init("cmdclient", stdin, stdout, stderr);
        ::el_set(editor_, EL_CLIENTDATA, this);
        ::el_set(editor_, EL_EDITOR, "emacs");
        ::el_set(editor_, EL_HIST, ::history, history_);
        ::el_set(editor_, EL_PROMPT, &LineEditor::prompt_of);
        ::el_set(editor_, EL_GETCFN, &LineEditor::read_character);
        // The wide form keeps these names as given; the narrow one copies them
        // and never frees the copies.
        ::el_wset(editor_, EL_ADDFN, L"cmdclient-complete", L"Complete a file name or a word",
                  &LineEditor::complete_of);
        bind("^I", "cmdclient-complete");
        bind("^R", "em-inc-search-prev");
        bind("^W", "ed-delete-prev-word");
        bind("^U", "vi-kill-line-prev");
        for (const char* home : {"\\e[H", "\\eOH", "\\e[1~", "\\e[7~"}) {
            bind(home, "ed-move-to-beg");
        }
        for (const char* end : {"\\e[F", "\\eOF", "\\e[4~", "\\e[8~"}) {
            bind(end, "ed-move-to-end");
        }
        bind("\\e[3~", "ed-delete-next-char");
        ::el_source(editor_, nullptr); // the user's own ~/.editrc, if any
    }

    ~LineEditor() override {
        ::el_end(editor_);
        ::history_end(history_);
    }

    LineEditor(const LineEditor&) = delete;
    LineEditor& operator=(const LineEditor&) = delete;

    LineRead read(std::string& line) override {
        prompt_text_.clear();
        if (console_.take_pending_prompt()) {
            // Redraw a partial last line of the reply as part of the prompt, so
            // the editor knows where its line starts on the screen.
            bool known = false;
            const std::string tail = console_.line_tail(known);
            if (known && !tail.empty()) {
                console_.show("\r");
                prompt_text_ = tail;
            }
            prompt_text_ += texts::prompt;
        }
        console_.flush();
        ::el_resize(editor_);
        int count = 0;
        interrupted_ = false;
        const char* text = ::el_gets(editor_, &count);
        console_.at_line_start();
        if (interrupted_) {
            return LineRead::interrupted;
        }
        if (text == nullptr) {
            if (count < 0) {
                error_ = read_error_ != 0 ? read_error_ : EIO;
                return LineRead::failed;
            }
            return LineRead::end; // Ctrl-D on an empty line

        }
        line.assign(text, static_cast<std::size_t>(count));
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
        }
        return LineRead::line;
    }

    int error() const noexcept override { return error_; }

    void remember(const std::string& line) override {
        if (line.empty()) {
            return;
        }
        HistEvent event;
        ::history(history_, &event, H_ENTER, line.c_str());
        save_history();
    }

  private:
    void bind(const char* keys, const char* function) {
        ::el_set(editor_, EL_BIND, keys, function, nullptr);
    }

    void report_history_trouble(const char* what, int error) {
        if (history_reported_) {
            return;
        }
        history_reported_ = true;
        console_.report(std::string(texts::history_unusable) + " '" + history_file_.path +
                        "': " + what + ": " + platform::error_text(error));
    }

    void load_history() {
        if (history_file_.path.empty()) {
            return;
        }
        HistEvent event;
        errno = 0;
        if (::history(history_, &event, H_LOAD, history_file_.path.c_str()) < 0 &&
            errno != ENOENT) {
            report_history_trouble("cannot be read", errno != 0 ? errno : EINVAL);
        }
    }

    void save_history() {
        if (history_file_.path.empty()) {
            return;
        }
        if (history_file_.create_folder) {
            const std::string folder = folder_of(history_file_.path);
            if (!folder.empty()) {
                platform::make_private_folders(folder.c_str());
            }
        }
        HistEvent event;
        errno = 0;
        // Created for its owner alone before anything is written into it.
        if (!platform::make_private_file(history_file_.path.c_str()) ||
            ::history(history_, &event, H_SAVE, history_file_.path.c_str()) < 0) {
            report_history_trouble("cannot be written", errno != 0 ? errno : EIO);
        }
    }

    static LineEditor& of(EditLine* editor) {
        void* self = nullptr;
        ::el_get(editor, EL_CLIENTDATA, &self);
        return *static_cast<LineEditor*>(self);
    }

    static char* prompt_of(EditLine* editor) { return &of(editor).prompt_text_[0]; }

    static unsigned char complete_of(EditLine* editor, int) { return of(editor).complete(); }

    // Reads one character for the editor, waiting through the one wait. A stop
    // signal ends the line being read as Enter would, so the editor restores
    // the terminal and leaves the line on screen; the caller drops it and acts
    // on the signal.
    static int read_character(EditLine* editor, wchar_t* character) {
        LineEditor& self = of(editor);
        for (;;) {
            const net::WaitResult waited = net::wait_for(
                net::waitable_descriptor(platform::standard_input), net::Direction::readable, {});
            if (waited == net::WaitResult::stop_signal) {
                self.decoding_ = std::mbstate_t{};
                self.interrupted_ = true;
                *character = L'\n';
                return 1;
            }
            char byte = 0;
            const long count = platform::read_some(platform::standard_input, &byte, 1);
            if (count == 0) {
                return 0;
            }
            if (count < 0) {
                const int error = platform::last_error();
                if (platform::would_block(error) || platform::interrupted(error)) {
                    continue;
                }
                self.decoding_ = std::mbstate_t{};
                self.read_error_ = error;
                return -1;
            }
            wchar_t decoded = 0;
            const std::size_t used = std::mbrtowc(&decoded, &byte, 1, &self.decoding_);
            if (used == static_cast<std::size_t>(-2)) {
                continue; // more bytes of this character to come
            }
            if (used == static_cast<std::size_t>(-1)) {
                self.decoding_ = std::mbstate_t{};
                decoded = static_cast<unsigned char>(byte);
            }
            *character = decoded;
            return 1;
        }
    }

    // Tab: after a '>' completes the file name being typed; before it, a word
    // from earlier lines. One match is filled in; several are listed.
    unsigned char complete() {
        const LineInfo* info = ::el_line(editor_);
        const std::string before(info->buffer, info->cursor);
        std::string word;
        std::vector<std::string> matches;
        const auto arrow = before.find('>');
        if (arrow != std::string::npos) {
            const auto name = before.find_first_not_of(' ', arrow + 1);
            word = name == std::string::npos ? std::string() : before.substr(name);
            matches = file_names_starting(word);
        } else {
            const auto space = before.find_last_of(' ');
            word = space == std::string::npos ? before : before.substr(space + 1);
            matches = history_words_starting(word);
        }
        if (matches.empty()) {
            return CC_ERROR;
        }
        std::string addition = common_prefix(matches).substr(word.size());
        if (matches.size() == 1 && arrow == std::string::npos) {
            addition += ' ';
        }
        if (!addition.empty()) {
            ::el_insertstr(editor_, addition.c_str());
            return CC_REFRESH;
        }
        std::string listing = "\n";
        for (const auto& match : matches) {
            listing += match + "  ";
        }
        listing += "\n";
        std::fputs(listing.c_str(), stdout);
        std::fflush(stdout);
        return CC_REDISPLAY;
    }

    std::vector<std::string> history_words_starting(const std::string& start) {
        std::set<std::string> words;
        HistEvent event;
        for (int more = ::history(history_, &event, H_FIRST); more >= 0;
             more = ::history(history_, &event, H_NEXT)) {
            std::string line = event.str;
            line.erase(std::min(line.find('>'), line.size()));
            std::size_t at = 0;
            while ((at = line.find_first_not_of(" \t", at)) != std::string::npos) {
                const auto end = std::min(line.find_first_of(" \t", at), line.size());
                const std::string word = line.substr(at, end - at);
                if (word.size() > start.size() && word.compare(0, start.size(), start) == 0) {
                    words.insert(word);
                }
                at = end;
            }
        }
        return {words.begin(), words.end()};
    }

    Console& console_;
    HistoryFile history_file_;
    History* history_ = nullptr;
    EditLine* editor_ = nullptr;
    std::string prompt_text_ = texts::prompt;
    std::mbstate_t decoding_{};
    int read_error_ = 0;
    bool interrupted_ = false;
    int error_ = 0;
    bool history_reported_ = false;
};

} // namespace

bool line_editor_available() noexcept {
    return true;
}

std::unique_ptr<LineSource> make_line_editor(Console& console, HistoryFile history) {
    return std::make_unique<LineEditor>(console, std::move(history));
}

} // namespace cmdclient
