#include "pipeline/make_rules.h"

#include <cctype>

#include "toolrun/platform_host.h"

namespace {

// How make reads a name back: a target and a prerequisite differ in '%', which makes a
// target a pattern, and '|', which begins a prerequisite list's order-only part.
enum class MakeRole { target, prerequisite };

// Make for Windows reads "C:\x" as a drive, whatever side of a rule it stands on.
bool is_drive_colon(const std::string& name, std::size_t at) {
  return directory_separator == '\\' && at == 1 &&
         std::isalpha(static_cast<unsigned char>(name[0]));
}

// What make reads specially in a name unless a backslash stands before it: a blank or a tab
// ends the name, '#' the line, ':' the targets.
bool needs_backslash(const std::string& name, std::size_t at, MakeRole role) {
  const char c = name[at];
  if (c == ' ' || c == '\t' || c == '#') return true;
  if (c == ':') return !is_drive_colon(name, at);
  return c == (role == MakeRole::target ? '%' : '|');
}

// A name holding '*', '?' or '[' is a pattern to make, matched against the files there, where
// a backslash escapes any character: each of these and every backslash gets one, so that the
// pattern matches the file of that name alone. On Windows a backslash is a separator, and a
// name goes as it is.
std::string as_pattern(const std::string& name) {
  if (directory_separator != '/' || name.find_first_of("*?[") == std::string::npos) return name;
  std::string pattern;
  for (const char c : name) {
    if (c == '\\' || c == '*' || c == '?' || c == '[') pattern += '\\';
    pattern += c;
  }
  return pattern;
}

// What no escaping gets past make: a line end ends the rule, ';' begins its recipe and '='
// makes it a variable's assignment; a backslash ending a name joins the next line where the
// name ends one, a '~' beginning it may be read as a home folder, "a(b)" is a member of an
// archive; in a target an escaped tab is read as a blank, and a last '&' begins a group of
// targets.
bool make_cannot_read(const std::string& name, MakeRole role) {
  if (name.empty() || name.find_first_of("\n\r;=") != std::string::npos) return true;
  if (name.back() == '\\' || name.front() == '~') return true;
  const std::size_t open = name.find('(');
  if (open != std::string::npos && open > 0 && name.back() == ')' && open + 2 < name.size()) {
    return true;
  }
  return role == MakeRole::target && (name.back() == '&' || name.find('\t') != std::string::npos);
}

// Written so that GNU make reads back exactly `name`. Make halves a run of backslashes
// before a character it reads specially, so that run is written twice, as a compiler's
// own dependency files do. Make counts bytes: on Windows the second byte 0x5C of a
// double-byte character is such a backslash to it too.
std::string escaped_for_make(const std::string& name, MakeRole role) {
  const std::string pattern = as_pattern(name);
  std::string text;
  std::size_t backslashes = 0;  // the run just copied
  for (std::size_t at = 0; at < pattern.size(); ++at) {
    const char c = pattern[at];
    if (needs_backslash(pattern, at, role)) text.append(backslashes + 1, '\\');
    if (c == '$') text += '$';
    backslashes = c == '\\' ? backslashes + 1 : 0;
    text += c;
  }
  return text;
}

}  // namespace

MakeRules make_rules(const std::vector<RuleTarget>& targets, const std::string& source,
                     const std::vector<std::string>& headers, bool header_rules) {
  std::string text;
  for (const RuleTarget& target : targets) {
    if (!target.escaped) {
      text += (text.empty() ? "" : " ") + target.name;
      continue;
    }
    if (make_cannot_read(target.name, MakeRole::target))
      return {.text = {}, .unreadable = target.name};
    text += (text.empty() ? "" : " ") + escaped_for_make(target.name, MakeRole::target);
  }
  if (make_cannot_read(source, MakeRole::prerequisite)) return {.text = {}, .unreadable = source};
  for (const std::string& header : headers) {
    if (make_cannot_read(header, MakeRole::prerequisite) ||
        (header_rules && make_cannot_read(header, MakeRole::target))) {
      return {.text = {}, .unreadable = header};
    }
  }
  text += ": " + escaped_for_make(source, MakeRole::prerequisite);
  for (const std::string& header : headers)
    text += " " + escaped_for_make(header, MakeRole::prerequisite);
  text += "\n";
  if (header_rules) {
    for (const std::string& header : headers)
      text += escaped_for_make(header, MakeRole::target) + ":\n";
  }
  return {.text = std::move(text), .unreadable = {}};
}
