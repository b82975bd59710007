// The line editor at a terminal: libedit with the client's keys, prompt, history and
// completion, reading keys through the one wait so that signals reach the command loop.
#include "client/line_editor.h"

#include "client/completion.h"
#include "client/platform/files.h"
#include "client/platform/terminal.h"
#include "client/texts.h"
#include "net/wait.h"

#include <histedit.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include <wchar.h>

namespace cmdclient {

namespace {

class LineEditor final : public LineSource {
  public:
    LineEditor(Console& console, HistoryFile history)
        : console_(console), file_(std::move(history)) {
        if (const char* patterns = platform::environment("CMDCLIENT_HISTIGNORE")) {
            ignored_ = patterns;
        }
        std::setlocale(LC_CTYPE, ""); // multibyte text is edited as characters
        history_ = ::history_init();
        HistEvent event;
        ::history(history_, &event, H_SETSIZE, static_cast<int>(history_kept));
        ::history(history_, &event, H_SETUNIQUE, 1);
        load_history();

        // Drawing goes through draw(), not stdio; the terminal's settings stay on fd 0 and 1.
        const cookie_io_functions_t drawing{nullptr, &LineEditor::draw, nullptr, nullptr};
        screen_ = ::fopencookie(this, "w", drawing);
        if (screen_ == nullptr) {
            screen_ = stdout;
        }
        editor_ = ::el_init_fd("cmdclient", stdin, screen_, stderr, platform::standard_input,
                               platform::standard_output, platform::standard_error);
        ::el_set(editor_, EL_CLIENTDATA, this);
        ::el_set(editor_, EL_EDITOR, "emacs");
        ::el_set(editor_, EL_HIST, ::history, history_);
        ::el_set(editor_, EL_PROMPT, &LineEditor::prompt_of);
        ::el_set(editor_, EL_GETCFN, &LineEditor::next_character);
        // The wide form keeps these names as given; the narrow one copies them
        // and never frees the copies.
        ::el_wset(editor_, EL_ADDFN, L"cmdclient-complete", L"Complete a file name or a word",
                  &LineEditor::complete_of);
        ::el_wset(editor_, EL_ADDFN, L"cmdclient-delete-or-end",
                  L"Delete the character under the cursor, or end on an empty line",
                  &LineEditor::delete_or_end);
        bind("^I", "cmdclient-complete");
        bind("^D", "cmdclient-delete-or-end");
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
        if (screen_ != stdout) {
            std::fclose(screen_);
        }
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
            const std::string tail = console_.output().line_tail(known);
            if (known && !tail.empty()) {
                console_.output().write("\r"); // the editor's drawing: not for the log
                prompt_text_ = tail;
            }
            prompt_text_ += texts::prompt;
        }
        console_.flush();
        ::el_resize(editor_);
        int count = 0;
        interrupted_ = false;
        platform::catch_editor_signals();
        const char* text = ::el_gets(editor_, &count);
        platform::release_editor_signals();
        console_.output().at_line_start();
        if (interrupted_) {
            return LineRead::interrupted;
        }
        if (text == nullptr) { // a read error, or Ctrl-D on an empty line
            return count < 0 ? LineRead::failed : LineRead::end;
        }
        line.assign(text, static_cast<std::size_t>(count));
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
        }
        return LineRead::line;
    }

    int error() const noexcept override { return read_error_ != 0 ? read_error_ : EIO; }

    void remember(const std::string& line) override {
        if (line.empty() || ignored_by_history(ignored_, line)) {
            return;
        }
        HistEvent event;
        ::history(history_, &event, H_ENTER, line.c_str());
        if (file_.path.empty()) {
            return;
        }
        std::string reason;
        const HistoryResult saved = file_.append({line}, reason);
        // A stop signal is the loop's to act on; each line lost to a busy lock is said.
        if (saved != HistoryResult::done && saved != HistoryResult::stopped) {
            report_history_trouble(texts::cannot_write_history, reason,
                                   saved != HistoryResult::busy);
        }
    }

  private:
    void bind(const char* keys, const char* function) {
        ::el_set(editor_, EL_BIND, keys, function, nullptr);
    }

    // Told once a run (`once`): what follows would only say it again.
    void report_history_trouble(const char* what, const std::string& reason, bool once = true) {
        if (!once || !std::exchange(history_reported_, true)) {
            console_.report(std::string(what) + " '" + file_.path + "': " + reason);
        }
    }

    void load_history() {
        std::vector<std::string> lines;
        std::string reason;
        if (file_.path.empty()) {
            return;
        }
        const HistoryResult loaded = file_.load(lines, reason);
        // Not a regular file: this run keeps its history to itself (the null device silently).
        if (loaded != HistoryResult::done && !reason.empty()) {
            report_history_trouble(texts::cannot_read_history, reason);
        }
        if (loaded == HistoryResult::unusable) {
            file_ = {};
        }
        HistEvent event;
        for (const auto& line : lines) {
            ::history(history_, &event, H_ENTER, line.c_str());
        }
    }

    static LineEditor& of(EditLine* editor) {
        void* self = nullptr;
        ::el_get(editor, EL_CLIENTDATA, &self);
        return *static_cast<LineEditor*>(self);
    }

    static char* prompt_of(EditLine* editor) { return &of(editor).prompt_text_[0]; }

    static unsigned char complete_of(EditLine* editor, int) { return of(editor).complete(); }

    // Ctrl-D: the end of input on an empty line, with no "^D" after the prompt as
    // libedit's own shows; else it deletes the character under the cursor.
    static unsigned char delete_or_end(EditLine* editor, int) {
        const LineInfo* info = ::el_line(editor);
        if (info->buffer == info->lastchar) {
            return CC_EOF;
        }
        if (info->cursor == info->lastchar) {
            return CC_ERROR;
        }
        ::el_cursor(editor, 1);
        ::el_deletestr(editor, 1);
        return CC_REFRESH;
    }

    // The editor's next character. A stop signal ends the line (the client then acts on
    // it); Ctrl-Z and a resize, which the one wait hears too, are handled between keys.
    static int next_character(EditLine* editor, wchar_t* character) {
        LineEditor& self = of(editor);
        const net::Waitable terminal = net::waitable_descriptor(platform::standard_input);
        for (;;) {
            if (net::pending_stop_signal() != 0) {
                // End the line as Enter would, so the editor leaves it on
                // screen and moves on; the caller drops it and acts on the signal.
                self.decoding_ = std::mbstate_t{};
                self.interrupted_ = true;
                *character = L'\n';
                return 1;
            }
            switch (platform::take_editor_signal()) {
            case platform::EditorSignal::stop:
                self.suspend();
                continue;
            case platform::EditorSignal::continued:
                self.resume();
                continue;
            case platform::EditorSignal::resized:
                self.resized();
                continue;
            case platform::EditorSignal::none:
                break;
            }
            const net::WaitResult waited =
                net::wait_for(terminal, net::Direction::readable, {}, true);
            if (waited == net::WaitResult::stop_signal || waited == net::WaitResult::interrupted) {
                continue; // the signal is looked at above
            }
            char byte = 0;
            const long count = waited == net::WaitResult::failed
                                   ? -1
                                   : platform::read_some(platform::standard_input, &byte, 1);
            if (count == 0) {
                return 0;
            }
            if (count < 0) {
                const int error = platform::last_error();
                if (platform::interrupted(error) || platform::would_block(error)) {
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

    // Ctrl-Z: the terminal gets the shell's mode back while the client is stopped. A
    // shell may take the terminal first (under a script): the hand-back then stops
    // the client until `fg`, and it does not stop a second time.
    void suspend() {
        ::el_set(editor_, EL_PREP_TERM, 0);
        platform::stop_process();
        resume();
    }

    // Back from a stop: the terminal's mode is set again even where the editor thinks
    // it holds it (after a stop it did not see, the shell set its own), and the line
    // is redrawn where the shell left the cursor, on a line of its own.
    void resume() {
        ::el_set(editor_, EL_PREP_TERM, 0);
        ::el_set(editor_, EL_PREP_TERM, 1);
        redraw(0);
    }

    // A new window size: the terminal has rewrapped the prompt and the line, which so
    // starts as many rows up as the text before the cursor fills (end_of()). A cursor
    // after a line that fills its rows exactly stays on the last row, unless the editor
    // had put a blank cell after it at the old width, which rewraps with the line.
    void resized() {
        int drawn_columns = 0;
        ::el_get(editor_, EL_GETTC, "co", &drawn_columns); // before it learns the new size
        ::el_resize(editor_);
        int columns = 0;
        ::el_get(editor_, EL_GETTC, "co", &columns);
        if (columns <= 0) {
            redraw(0);
            return;
        }
        const LineInfoW* info = ::el_wline(editor_);
        std::wstring shown(prompt_text_.size(), L'\0'); // the prompt and the line, as characters
        const std::size_t converted = std::mbstowcs(&shown[0], prompt_text_.c_str(), shown.size());
        if (converted == static_cast<std::size_t>(-1)) {
            shown.assign(prompt_text_.begin(), prompt_text_.end());
        } else {
            shown.resize(converted);
        }
        const std::size_t before =
            shown.size() + static_cast<std::size_t>(info->cursor - info->buffer);
        shown.append(info->buffer, info->lastchar);
        const std::size_t width = static_cast<std::size_t>(columns);
        const std::size_t drawn = drawn_columns > 0 ? static_cast<std::size_t>(drawn_columns) : 0;
        const bool blank_after =
            drawn > 0 && end_of(shown, shown.size(), drawn, drawn).second == drawn;
        const auto [row, column] = end_of(shown, before, drawn, width);
        const bool stays = before == shown.size() && !blank_after;
        redraw(column == width && !stays ? row + 1 : row);
    }

    // The row (from 0) and column after the first `count` characters of `text`, drawn
    // by the editor `drawn` columns wide (0: not known) and rewrapped at `width`. A wide
    // character takes two columns and goes to the next row when one is left; the editor
    // starts that row with a newline of its own, which no rewrap undoes.
    static std::pair<std::size_t, std::size_t> end_of(const std::wstring& text, std::size_t count,
                                                      std::size_t drawn, std::size_t width) {
        std::size_t row = 0;
        std::size_t column = 0;
        std::size_t drawn_column = 0;
        for (std::size_t i = 0; i < count && i < text.size(); ++i) {
            const int shown = ::wcwidth(text[i]);
            // A control character is drawn as ^X.
            const std::size_t cells = shown >= 0 ? static_cast<std::size_t>(shown)
                                                 : (text[i] < 0x20 || text[i] == 0x7f ? 2 : 1);
            if (drawn > 0 && drawn_column + cells > drawn) {
                if (drawn_column < drawn) { // the editor's newline
                    ++row;
                    column = 0;
                }
                drawn_column = 0;
            }
            if (column + cells > width) {
                ++row;
                column = 0;
            }
            column += cells;
            drawn_column += cells;
        }
        return {row, column};
    }

    // Clears from the line's start, `rows_up` rows up, to the screen's end, and redraws.
    void redraw(std::size_t rows_up) {
        ::el_resize(editor_);
        const std::string up = rows_up > 0 ? "\x1b[" + std::to_string(rows_up) + "A" : "";
        draw_now("\r" + up + "\x1b[J");
        ::el_set(editor_, EL_REFRESH);
    }

    // Through standard output's Output, which writes again after a signal (stdio would
    // drop the rest: a key's echo), waits for a non-blocking terminal and fails standard
    // output on an error. A stop signal leaves the rest held; the editor acts on it next.
    static ssize_t draw(void* self, const char* data, std::size_t size) {
        Output& screen = static_cast<LineEditor*>(self)->console_.output();
        screen.write({data, size});
        screen.flush();
        return static_cast<ssize_t>(size);
    }

    // What the editor shows of its own goes the way of libedit's drawing.
    void draw_now(const std::string& text) {
        std::fputs(text.c_str(), screen_);
        std::fflush(screen_);
    }

    // Tab: one match is filled in; several have their common part filled in and are
    // listed in the same keypress, after a question when they are many.
    unsigned char complete() {
        const LineInfo* info = ::el_line(editor_);
        // A leading "~/" is listed in the home folder; the line keeps it as typed.
        const auto list_folder = [](const std::string& folder) {
            return platform::folder_entries(platform::expand_home(folder));
        };
        std::vector<std::string> lines; // of the history, oldest first
        HistEvent event;
        for (int more = ::history(history_, &event, H_LAST); more >= 0;
             more = ::history(history_, &event, H_PREV)) {
            lines.emplace_back(event.str);
        }
        const Completion found =
            cmdclient::complete(std::string(info->buffer, info->cursor), lines, list_folder);
        if (!found.insert.empty()) {
            ::el_insertstr(editor_, found.insert.c_str());
        }
        if (found.choices.empty()) {
            return found.insert.empty() ? CC_ERROR : CC_REFRESH;
        }
        const bool listed =
            found.choices.size() <= listed_without_asking || listing_wanted(found.choices.size());
        int columns = 0;
        ::el_get(editor_, EL_GETTC, "co", &columns);
        draw_now("\n" + (listed ? column_listing(found.choices, columns) : std::string()));
        return CC_REDISPLAY;
    }

    // Asks whether to list `count` names, as shells do: y (or a space) says
    // yes, n (or Backspace, Enter, a stop signal) no; other keys ask again.
    bool listing_wanted(std::size_t count) {
        draw_now(std::string("\n") + texts::listing_question_start + std::to_string(count) +
                 texts::listing_question_end);
        for (;;) {
            wchar_t answer = 0;
            if (::el_wgetc(editor_, &answer) != 1 || interrupted_) {
                return false;
            }
            if (answer == L'y' || answer == L'Y' || answer == L' ') {
                return true;
            }
            if (answer == L'n' || answer == L'N' || answer == L'\x7f' || answer == L'\b' ||
                answer == L'\n' || answer == L'\r') {
                return false;
            }
        }
    }

    Console& console_;
    HistoryFile file_;
    std::string ignored_; // $CMDCLIENT_HISTIGNORE: lines kept out of the history
    History* history_ = nullptr;
    EditLine* editor_ = nullptr;
    std::FILE* screen_ = nullptr;
    std::string prompt_text_ = texts::prompt;
    std::mbstate_t decoding_{};
    int read_error_ = 0;
    bool interrupted_ = false;
    bool history_reported_ = false;
};

} // namespace

// The module's one visible symbol; what it uses of the client is the program's.
extern "C" __attribute__((visibility("default"))) LineSource*
cmdclient_make_line_editor(Console& console, HistoryFile* history) {
    return new LineEditor(console, std::move(*history));
}

} // namespace cmdclient
