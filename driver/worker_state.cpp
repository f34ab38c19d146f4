#include "driver/worker_state.h"

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace {

constexpr char magic[] = "vexa worker state 2";

// Every field of DriverState a chain may read, in one list that packing and unpacking both
// walk: the worker is the same program, so a plain field goes as its bytes and a growing list
// as its text. The launcher's text is handed beside the fields; the compiled source is set
// only while a stage runs, never where a chain begins. A field added to DriverState is added
// here too.
template <class State, class Visit>
void visit_fields(State& s, Visit&& visit) {
  visit(s.delete_temps), visit(s.sjis_mode), visit(s.stage_limit), visit(s.warnings_are_errors);
  visit(s.link_startup), visit(s.link_default_libs), visit(s.make_command_file);
  visit(s.start_address), visit(s.debug_info), visit(s.verbose), visit(s.dry_run);
  visit(s.dependency_files), visit(s.header_rules), visit(s.plus_state);
  visit(s.plus_option_names_program), visit(s.file_count), visit(s.status);
  visit(s.warning_count), visit(s.escaped_name_length), visit(s.include_dir);
  visit(s.passed_include_dir), visit(s.lib_dir), visit(s.compilation_database);
  visit(s.program_name), visit(s.dependency_file), visit(s.dependency_targets);
  visit(s.output_file), visit(s.compiler_options), visit(s.extend_options);
  visit(s.linker_options), visit(s.command_file_options), visit(s.object_list);
  visit(s.library_list), visit(s.default_libraries), visit(s.command_text), visit(s.slots);
}

void put_text(std::string& bytes, std::string_view text) {
  const auto length = static_cast<std::uint32_t>(text.size());
  bytes.append(reinterpret_cast<const char*>(&length), sizeof length).append(text);
}

bool take(std::string_view& bytes, void* into, std::size_t count) {
  if (bytes.size() < count) return false;
  std::memcpy(into, bytes.data(), count);
  bytes.remove_prefix(count);
  return true;
}

bool take_text(std::string_view& bytes, std::string& text) {
  std::uint32_t length = 0;
  if (!take(bytes, &length, sizeof length) || bytes.size() < length) return false;
  text.assign(bytes.substr(0, length));
  bytes.remove_prefix(length);
  return true;
}

struct PutField {
  std::string& bytes;
  void operator()(const TextList& list) const { put_text(bytes, list.c_str()); }
  template <class Field>
  void operator()(const Field& field) const {
    static_assert(std::is_trivially_copyable_v<Field>);
    bytes.append(reinterpret_cast<const char*>(&field), sizeof field);
  }
};

struct TakeField {
  std::string_view& bytes;
  bool& ok;
  void operator()(TextList& list) const {
    std::string text;
    ok = ok && take_text(bytes, text) && list.assign(text.c_str());
  }
  template <class Field>
  void operator()(Field& field) const {
    ok = ok && take(bytes, &field, sizeof field);
  }
};

}  // namespace

std::string pack_worker_state(const DriverState& before, const char* word) {
  std::string bytes(magic, sizeof magic);
  visit_fields(before, PutField{bytes});
  bytes.push_back(before.launcher != nullptr ? 1 : 0);
  put_text(bytes, before.launcher != nullptr ? before.launcher : "");
  put_text(bytes, word);
  return bytes;
}

bool unpack_worker_state(std::string_view bytes, DriverState& state, std::string& launcher,
                         std::string& word) {
  char mark[sizeof magic];
  char has_launcher = 0;
  bool ok = take(bytes, mark, sizeof mark) && std::memcmp(mark, magic, sizeof magic) == 0;
  visit_fields(state, TakeField{bytes, ok});
  if (!ok || !take(bytes, &has_launcher, 1) || !take_text(bytes, launcher) ||
      !take_text(bytes, word) || !bytes.empty()) {
    return false;
  }
  state.launcher = has_launcher ? launcher.c_str() : nullptr;
  return true;
}
