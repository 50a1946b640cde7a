// Section and order edits on a song text's lines (the page's tracker asks
// for them): where each part stands comes from the compiler's layout.
#include <algorithm>
#include <string>
#include <vector>

#include "compose/song_text.h"

namespace songtext {

namespace {

using Lines = std::vector<std::string>;

// The text's lines, split at '\n' only (a final newline gives a last empty
// line), so that joining them with '\n' gives the text back byte for byte.
Lines SplitLines(const std::string& text) {
    Lines lines;
    std::size_t start = 0;
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', start)) {
        lines.push_back(text.substr(start, at - start));
        start = at + 1;
    }
    lines.push_back(text.substr(start));
    return lines;
}

std::string JoinLines(const Lines& lines) {
    std::string text;
    for (std::size_t k = 0; k < lines.size(); ++k) {
        if (k > 0) text += '\n';
        text += lines[k];
    }
    return text;
}

// The text compiled for its layout; fails with its first mistake.
fenk::Result<CompileResult> Layout(const std::string& text) {
    CompileResult compiled = CompileSongText(text);
    if (!compiled.ok) {
        const std::string why = compiled.errors.empty()
                                    ? "the song text does not compile"
                                    : "line " + std::to_string(compiled.errors.front().line) + ": " +
                                          compiled.errors.front().text;
        return fenk::Failed<CompileResult>(fenk::Failure::Failed, why);
    }
    return fenk::Succeeded(std::move(compiled));
}

// The words of a line up to its comment ('#' at a word's start).
std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == '\r')) ++at;
        if (at >= line.size() || line[at] == '#') break;
        std::size_t end = at;
        while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '\r') ++end;
        words.push_back(line.substr(at, end - at));
        at = end;
    }
    return words;
}

// The section names of the order lines, in order.
std::vector<std::string> OrderNames(const CompileResult& compiled, const Lines& lines) {
    std::vector<std::string> names;
    for (int line : compiled.orderLines) {
        const std::vector<std::string> words = Words(lines[static_cast<std::size_t>(line - 1)]);
        // The first word is the keyword `order`.
        if (words.size() > 1) names.insert(names.end(), words.begin() + 1, words.end());
    }
    return names;
}

// `lines` with the order lines (1-based `orderLines`, ascending) written
// again as `names`, where the first of them stood (else at the end).
Lines RewriteOrder(Lines lines, std::vector<int> orderLines, const std::vector<std::string>& names) {
    Lines written;
    for (std::size_t at = 0; at < names.size(); at += kOrderNamesPerLine) {
        std::string line = "order";
        for (std::size_t k = at; k < names.size() && k < at + kOrderNamesPerLine; ++k) line += " " + names[k];
        written.push_back(line);
    }
    if (written.empty()) written.push_back("order");  // an order list that plays nothing
    std::sort(orderLines.begin(), orderLines.end());
    std::size_t place = lines.size();
    // A text ending in a newline keeps it: an order added at the end goes
    // before its last, empty line.
    if (place > 0 && lines.back().empty()) --place;
    if (!orderLines.empty()) place = static_cast<std::size_t>(orderLines.front() - 1);
    for (auto line = orderLines.rbegin(); line != orderLines.rend(); ++line) {
        lines.erase(lines.begin() + (*line - 1));
    }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(std::min(place, lines.size())), written.begin(),
                 written.end());
    return lines;
}

const SourceSection* FindSection(const CompileResult& compiled, const std::string& name) {
    for (const SourceSection& section : compiled.sourceSections) {
        if (section.name == name) return &section;
    }
    return nullptr;
}

// The last line a section takes: its `end`, else its last row, else its
// `section` line (1-based).
int LastLine(const SourceSection& section) {
    if (section.endLine > 0) return section.endLine;
    return section.rowLines.empty() ? section.line : section.rowLines.back();
}

}  // namespace

fenk::Result<std::string> WithOrder(const std::string& text, const std::vector<std::string>& names) {
    auto compiled = Layout(text);
    if (!compiled.ok()) return fenk::Failed<std::string>(fenk::Failure::Failed, compiled.reason);
    return fenk::Succeeded(JoinLines(RewriteOrder(SplitLines(text), compiled.value.orderLines, names)));
}

fenk::Result<std::string> WithSectionAdded(const std::string& text, const std::string& after,
                                           const std::string& name, const std::vector<std::string>& rows) {
    auto compiled = Layout(text);
    if (!compiled.ok()) return fenk::Failed<std::string>(fenk::Failure::Failed, compiled.reason);
    const CompileResult& layout = compiled.value;
    if (!IsSectionName(name)) {
        return fenk::Failed<std::string>(fenk::Failure::Failed,
                                         "'" + name + "' cannot name a section: use letters, digits, '_' and '-'");
    }
    if (FindSection(layout, name)) {
        return fenk::Failed<std::string>(fenk::Failure::Failed, "there is a section named '" + name + "' already");
    }
    Lines lines = SplitLines(text);
    const std::vector<std::string> order = OrderNames(layout, lines);
    // 0-based: the new lines go before line `at`.
    std::size_t at = !lines.empty() && lines.back().empty() ? lines.size() - 1 : lines.size();
    if (const SourceSection* shown = FindSection(layout, after)) {
        at = static_cast<std::size_t>(LastLine(*shown));
    } else if (!layout.orderLines.empty()) {
        at = static_cast<std::size_t>(layout.orderLines.front() - 1);
    }
    Lines added = {"", "section " + name};
    added.insert(added.end(), rows.begin(), rows.end());
    added.push_back("end");
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), added.begin(), added.end());
    // The order lines after it moved down.
    std::vector<int> orderLines = layout.orderLines;
    for (int& line : orderLines) {
        if (static_cast<std::size_t>(line) > at) line += static_cast<int>(added.size());
    }
    std::vector<std::string> names = order;
    names.push_back(name);
    return fenk::Succeeded(JoinLines(RewriteOrder(std::move(lines), orderLines, names)));
}

fenk::Result<std::string> WithSectionRenamed(const std::string& text, const std::string& name,
                                             const std::string& to) {
    auto compiled = Layout(text);
    if (!compiled.ok()) return fenk::Failed<std::string>(fenk::Failure::Failed, compiled.reason);
    const CompileResult& layout = compiled.value;
    const SourceSection* section = FindSection(layout, name);
    if (!section) return fenk::Failed<std::string>(fenk::Failure::Failed, "there is no section '" + name + "'");
    if (name == to) return fenk::Succeeded(text);
    if (!IsSectionName(to)) {
        return fenk::Failed<std::string>(fenk::Failure::Failed,
                                         "'" + to + "' cannot name a section: use letters, digits, '_' and '-'");
    }
    if (FindSection(layout, to)) {
        return fenk::Failed<std::string>(fenk::Failure::Failed, "there is a section named '" + to + "' already");
    }
    Lines lines = SplitLines(text);
    std::vector<std::string> order = OrderNames(layout, lines);
    std::replace(order.begin(), order.end(), name, to);
    // The `section` line: its name word replaced, anything after it kept.
    std::string& line = lines[static_cast<std::size_t>(section->line - 1)];
    const std::size_t keyword = line.find("section");
    const std::size_t word = line.find(name, keyword == std::string::npos ? 0 : keyword + 7);
    if (word == std::string::npos) {
        return fenk::Failed<std::string>(fenk::Failure::Failed, "the section line of '" + name + "' is not plain");
    }
    line.replace(word, name.size(), to);
    return fenk::Succeeded(JoinLines(RewriteOrder(std::move(lines), layout.orderLines, order)));
}

fenk::Result<std::string> WithSectionDeleted(const std::string& text, const std::string& name) {
    auto compiled = Layout(text);
    if (!compiled.ok()) return fenk::Failed<std::string>(fenk::Failure::Failed, compiled.reason);
    const CompileResult& layout = compiled.value;
    const SourceSection* section = FindSection(layout, name);
    if (!section) return fenk::Failed<std::string>(fenk::Failure::Failed, "there is no section '" + name + "'");
    if (layout.sourceSections.size() == 1) {
        return fenk::Failed<std::string>(fenk::Failure::Failed, "a song keeps at least one section");
    }
    Lines lines = SplitLines(text);
    std::vector<std::string> order = OrderNames(layout, lines);
    order.erase(std::remove(order.begin(), order.end(), name), order.end());
    // 0-based [first, last): the empty line before it goes with it, as an
    // added section writes one.
    std::size_t first = static_cast<std::size_t>(section->line - 1);
    const std::size_t last = static_cast<std::size_t>(LastLine(*section));
    const bool before = first > 0 && Words(lines[first - 1]).empty() &&
                        lines[first - 1].find('#') == std::string::npos;
    if (before) --first;
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(first), lines.begin() + static_cast<std::ptrdiff_t>(last));
    std::vector<int> orderLines = layout.orderLines;
    const int removed = static_cast<int>(last - first);
    for (int& line : orderLines) {
        if (static_cast<std::size_t>(line) > last) line -= removed;
    }
    return fenk::Succeeded(JoinLines(RewriteOrder(std::move(lines), orderLines, order)));
}

}  // namespace songtext
