#include "INCLUDE_U/unreadable.h"

#include <cstdio>

#include "INCLUDE_U/text.h"
#include "platform/platform.h"

int32_t g_unreadable_count = 0;
int64_t g_undated_count = 0;
int32_t g_changed_count = 0;

namespace {

// Set when a failure met memory or descriptors run out.
bool s_resources_ran_out = false;

}  // namespace

std::string_view display_name(std::string_view path) {
  for (std::size_t i = 0; i < 5 && i < path.size(); ++i) {
    if (path[i] != '\\' && path[i] != '?') return path.substr(i);
  }
  return path;
}

void report_unreadable(held_messages* held, std::string_view path, std::string_view reason) {
  std::string_view shown = display_name(path);
  if (shown.size() > 1 && shown.back() == k_path_separator) shown.remove_suffix(1);
  // Progress lines begin with their line end; this line does the same, so that
  // it never runs on behind one.
  write_message(held, "\nmailsift: cannot read ");
  write_untrusted_message(held, shown);
  write_message(held, ": ");
  write_message(held, reason);
  if (held_messages* to = held ? held : messages_held())
    ++to->unreadable;
  else
    ++g_unreadable_count;
}

void report_changed_while_read(held_messages* held, std::string_view path) {
  write_message(held, "\nmailsift: ");
  write_untrusted_message(held, display_name(path));
  write_message(held, " changed while it was read");
  if (held_messages* to = held ? held : messages_held())
    ++to->changed;
  else
    ++g_changed_count;
}

void report_unreadable(std::string_view path, std::string_view reason) {
  report_unreadable(nullptr, path, reason);
}

bool report_failure(held_messages* held, std::string_view path, bool missing_counts) {
  std::string reason;
  failure_kind kind = g_platform.last_failure(reason);
  return act_on_failure(held, path, kind, reason, missing_counts);
}

bool report_failure(std::string_view path, bool missing_counts) {
  return report_failure(nullptr, path, missing_counts);
}

bool act_on_failure(held_messages* held, std::string_view path, failure_kind kind,
                    std::string_view reason, bool missing_counts) {
  if (kind == failure_kind::none || (kind == failure_kind::not_found && !missing_counts)) {
    return false;
  }
  report_unreadable(held, path, reason);
  if (kind == failure_kind::no_resources) {
    if (held_messages* to = held ? held : messages_held())
      to->resources_ran_out = true;
    else
      s_resources_ran_out = true;
  }
  return true;
}

bool act_on_failure(std::string_view path, failure_kind kind, std::string_view reason,
                    bool missing_counts) {
  return act_on_failure(nullptr, path, kind, reason, missing_counts);
}

stop_reason failure_stop() {
  const held_messages* held = messages_held();
  bool ran_out = s_resources_ran_out || (held && held->resources_ran_out);
  return ran_out ? stop_reason::out_of_memory : stop_reason::go_on;
}

void release_held_messages(held_messages& held) {
  write_held_text(held);
  g_unreadable_count += held.unreadable;
  g_changed_count += held.changed;
  if (held.resources_ran_out) s_resources_ran_out = true;
  drop_held_messages(held);
}

std::string unreadable_count_text(int32_t count) {
  if (count == 0) return std::string();
  char text[64];
  int n = std::snprintf(text, sizeof text, "  %ld path%s could not be read\n",
                        static_cast<long>(count), count == 1 ? "" : "s");
  return std::string(text, n > 0 && static_cast<std::size_t>(n) < sizeof text ? n : 0);
}

std::string changed_count_text(int32_t count) {
  if (count == 0) return std::string();
  char text[64];
  int n = std::snprintf(text, sizeof text, "  %ld file%s changed while %s read\n",
                        static_cast<long>(count), count == 1 ? "" : "s",
                        count == 1 ? "it was" : "they were");
  return std::string(text, n > 0 && static_cast<std::size_t>(n) < sizeof text ? n : 0);
}

std::string undated_count_text(int64_t count) {
  if (count == 0) return std::string();
  char text[96];
  int n = std::snprintf(text, sizeof text, "  %lld message%s left out: no date could be read\n",
                        static_cast<long long>(count), count == 1 ? "" : "s");
  return std::string(text, n > 0 && static_cast<std::size_t>(n) < sizeof text ? n : 0);
}
