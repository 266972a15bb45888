// SPDX-License-Identifier: BSD-3-Clause
// The one tokenizer of the configuration files: lines, the words of a line
// by the separators its format names, a split at a key's separator.
// Parsing only; reading the file is the caller's business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace base {

inline constexpr std::string_view kBlanks = " \t";
inline constexpr std::string_view kWhiteSpace = " \t\r\n\v\f";  // what std::isspace takes
inline constexpr char kCommentMark = '#';

// Returns the lines of `text`, split at '\n': a last line without one
// counts, an empty text has none (as std::getline reads them).
inline std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> out;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        out.push_back(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return out;
}

// Returns the words of `line`: the runs of bytes not in `separators`, at
// most `most` of them.
inline std::vector<std::string_view> words(std::string_view line, std::string_view separators,
                                           std::size_t most = SIZE_MAX) {
    std::vector<std::string_view> out;
    std::size_t pos = 0;
    while (out.size() < most && (pos = line.find_first_not_of(separators, pos)) != std::string_view::npos) {
        std::size_t end = line.find_first_of(separators, pos);
        out.push_back(line.substr(pos, end == std::string_view::npos ? end : end - pos));
        pos = end;
    }
    return out;
}

// Returns whether the words are a comment (the first starts with `mark`).
inline bool is_comment(const std::vector<std::string_view> &w, char mark = kCommentMark) {
    return !w.empty() && w.front().front() == mark;
}

// A line of a configuration file that holds a directive: its number (from
// 1), its text and its words.
struct directive {
    int number = 0;
    std::string_view line;
    std::vector<std::string> words;
};

// Returns the directives of `text`: the lines that are neither blank nor a
// comment, split at white space.
inline std::vector<directive> directives(std::string_view text) {
    std::vector<directive> out;
    int number = 0;
    for (std::string_view line : lines(text)) {
        ++number;
        auto w = words(line, kWhiteSpace);
        if (!w.empty() && !is_comment(w)) out.push_back({number, line, std::vector<std::string>(w.begin(), w.end())});
    }
    return out;
}

// Returns `what`, after the line of `d` it concerns, for a message.
inline std::string at_line(const directive &d, const std::string &what) {
    return "line " + std::to_string(d.number) + ": " + what;
}

// Returns `line` split at its first `separator`, or nothing without one.
inline std::optional<std::pair<std::string_view, std::string_view>> split_at(std::string_view line, char separator) {
    std::size_t at = line.find(separator);
    if (at == std::string_view::npos) return std::nullopt;
    return std::pair{line.substr(0, at), line.substr(at + 1)};
}

}  // namespace base
