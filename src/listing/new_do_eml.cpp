#include "listing/new_do_eml.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "INCLUDE_U/numbers.h"
#include "listing/eml_program.h"
#include "listing/line_reader.h"
#include "platform/platform.h"
#include "run/run_state.h"
#include "run/terminate.h"
#include "settings/run_settings.h"

namespace {

// Per-file state of the header scan.
struct scan_state {
  line_reader* reader;
  message_fields* fields;
  int from_count = 1;
  int to_count = 1;
  int cc_count = 1;
  int bcc_count = 1;
  int date_count = 1;
  int sent_count = 1;
  int subject_count = 1;
  int read_count = 1;        // both read-flag rules
  int attachment_count = 1;  // attachment marker and forwarded message
  int content_type_count = 1;
  int ip_count = 1;          // the Received and X-Originating-IP rules
  bool header_phase = true;  // until the first Subject line
  bool from_seen = false;
  bool to_seen = false;
  bool date_parsed = false;
  bool content_type_armed = false;
};

using rule_action = void (*)(scan_state& scan, message_line& line);

enum class rule_test { starts_any_case, starts_exact, contains, armed_content_type };

// A rule's literal with the place of its first ':' or '=' (its size when it has
// neither), worked out when the table is built.
struct rule_literal {
  std::string_view text;
  std::size_t mark = 0;
  constexpr rule_literal() = default;
  constexpr rule_literal(const char* literal) : text(literal), mark(0) {
    while (mark < text.size() && text[mark] != ':' && text[mark] != '=') ++mark;
  }
};

struct header_rule {
  rule_test test;
  std::array<rule_literal, 5> literals;
  rule_action action;
};

// Interrupts are looked at once per this many lines of a file.
constexpr unsigned k_interrupt_check_lines = 4096;

// The open message file and the three line buffers; kept for the whole run so
// that no file and no line allocates.
line_reader s_reader;
message_line s_line;
message_line s_second_line;
message_line s_look_ahead;
message_fields s_fields;

bool quoting() { return g_settings->quote_fields != 0; }

// Whether the listing and the progress lines are shown on a terminal, where text
// from the files must not reach the terminal as control characters.
bool listing_on_terminal(std::FILE* stream) {
  static std::FILE* checked = nullptr;
  static bool terminal = false;
  if (stream != checked) {
    checked = stream;
    terminal = g_platform.is_terminal(stream);
  }
  return terminal;
}

bool messages_on_terminal() {
  static const bool terminal = g_platform.is_terminal(stderr);
  return terminal;
}
bool doubling_quotes() { return quoting() && g_delimiter == ','; }

void replace_tabs(field_text& text) {
  char* p = text.data();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (p[i] == '\t') p[i] = ' ';
  }
}

// The character right after a header name's colon turns from the delimiter (or
// another given character) into a space, so that it cannot split the record.
void blank_after_colon(field_text& text, std::size_t position, char other) {
  if (position < text.size() && (text[position] == g_delimiter || text[position] == other)) {
    text[position] = ' ';
  }
}

// From `word` (or the line's start when it is absent) up to the first ';'.
std::string_view kept_text(std::string_view line, std::string_view word) {
  std::size_t start = find_text(line, word);
  if (start == std::string_view::npos) start = 0;
  std::size_t end = line.find(';', start);
  if (end == std::string_view::npos) end = line.size();
  return line.substr(start, end - start);
}

// The text cut where "charset" begins, when it holds one.
std::string_view before_charset(std::string_view text) {
  std::size_t at = find_text(text, "charset");
  return at == std::string_view::npos ? text : text.substr(0, at);
}

void take_address(scan_state& scan, message_line& line, field_text& field, int& counter,
                  std::size_t after_colon, bool body) {
  blank_after_colon(line.text, after_colon, g_delimiter);
  append_entry_head(field, counter, body);
  field.append(line.text.view());
  fold_continuations(*scan.reader, field);
  field.append("  ");
}

void take_from(scan_state& scan, message_line& line) {
  field_text& text = line.text;
  blank_after_colon(text, 5, g_delimiter);
  bool soft_break = text.back() == '=';
  if (soft_break || text.size() < 10) {
    // Only the "=" of a soft line break goes: a short line keeps its sender.
    if (soft_break) text.drop_last();
    if (read_line(*scan.reader, s_second_line)) {
      text.append(s_second_line.text.view());
      replace_tabs(text);
    }
  }
  append_entry_head(scan.fields->from, scan.from_count, !scan.header_phase && scan.from_seen);
  scan.fields->from.append(text.view());
  scan.fields->from.append("  ");
  scan.from_seen = true;
}

void take_to(scan_state& scan, message_line& line) {
  take_address(scan, line, scan.fields->to, scan.to_count, 3, !scan.header_phase && scan.to_seen);
  scan.to_seen = true;
}

void take_cc(scan_state& scan, message_line& line) {
  take_address(scan, line, scan.fields->cc, scan.cc_count, 3, !scan.header_phase);
}

void take_bcc(scan_state& scan, message_line& line) {
  take_address(scan, line, scan.fields->bcc, scan.bcc_count, 4, !scan.header_phase);
}

void take_date(scan_state& scan, message_line& line) {
  blank_after_colon(line.text, 5, '\t');
  std::size_t br = find_text(line.text.view(), "<BR>");
  if (br != std::string_view::npos) line.text.truncate(br);
  append_entry(scan.fields->date, scan.date_count, line.text.view());
  if (!scan.date_parsed) {
    parse_date_line(line.text.view(), scan.fields->date_time);
    scan.date_parsed = true;
  }
}

void take_sent(scan_state& scan, message_line& line) {
  append_entry(scan.fields->forward_date, scan.sent_count, line.text.view());
  if (!scan.date_parsed) {
    append_entry(scan.fields->date, scan.date_count, line.text.view());
    parse_date_line(line.text.view(), scan.fields->date_time);
    scan.date_parsed = true;
  }
}

void take_subject(scan_state& scan, message_line& line) {
  append_entry(scan.fields->subject, scan.subject_count, line.text.view());
  scan.header_phase = false;
}

void take_mapi_read_flag(scan_state& scan, message_line& line) {
  std::string_view text = line.text.view();
  field_text& read = scan.fields->message_read;
  read.clear();
  if (find_text(text, "(read") != std::string_view::npos ||
      find_text(text, " read") != std::string_view::npos) {
    append_entry_head(read, scan.read_count, false);
    read.append(" YES ");
  }
}

void take_mozilla_read_flag(scan_state& scan, message_line& line) {
  std::string_view text = line.text.view();
  int status = leading_int(text.substr(text.find(':') + 1));
  field_text& read = scan.fields->message_read;
  read.clear();
  append_entry_head(read, scan.read_count, false);
  read.append(status % 2 != 0 ? " YES " : " NO/Unknown ");
}

void append_attachment(scan_state& scan, int& counter, std::string_view text) {
  field_text& info = scan.fields->attachment_info;
  append_entry_head(info, counter, false);
  info.append("Attachment info: ");
  info.append(text);
  info.append("  ");
}

void take_attachment_marker(scan_state& scan, message_line& line) {
  replace_tabs(line.text);
  append_attachment(scan, scan.attachment_count, kept_text(line.text.view(), "filename="));
}

void take_forwarded_message(scan_state& scan, message_line& line) {
  // The attachment's name is on the next line, which no rule sees.
  if (!read_line(*scan.reader, line)) return;
  replace_tabs(line.text);
  append_attachment(scan, scan.attachment_count, kept_text(line.text.view(), "name="));
}

void apply_header_rules(scan_state& scan, message_line& line, std::size_t first_rule);
constexpr std::size_t k_first_recent_ip_rule = 12;

void take_content_type_name(scan_state& scan, message_line& line) {
  std::string_view text = line.text.view();
  std::size_t name = find_text(text, "name=");
  if (name != std::string_view::npos) {
    append_attachment(scan, scan.content_type_count, before_charset(text.substr(name)));
    return;
  }
  if (!read_line(*scan.reader, line)) return;
  if (find_text(line.text.view(), "name=") == std::string_view::npos) {
    apply_header_rules(scan, line, k_first_recent_ip_rule);
    return;
  }
  if (line.text[0] == '\t') line.text[0] = ' ';
  append_attachment(scan, scan.content_type_count, before_charset(line.text.view()));
}

// Joins the bracketed part of the next line when it has one (a Received header
// folded before its address); otherwise that line is read again by the main loop.
void join_look_ahead(scan_state& scan, field_text& text) {
  if (!read_line(*scan.reader, s_look_ahead)) return;
  std::string_view next = s_look_ahead.text.view();
  std::size_t open = next.find('[');
  if (open == std::string_view::npos) {
    step_back(*scan.reader, s_look_ahead);
    return;
  }
  std::size_t close = next.find(']', open);
  std::size_t end = close == std::string_view::npos ? next.size() : close + 1;
  text.append(next.substr(open, end - open));
}

void take_received_from(scan_state& scan, message_line& line) {
  std::size_t open = line.text.view().find('[');
  if (open == std::string_view::npos) return;
  std::size_t close = line.text.view().find(']', open);
  if (close != std::string_view::npos) line.text.truncate(close + 1);
  join_look_ahead(scan, line.text);
  append_entry(scan.fields->recent_ip, scan.ip_count, line.text.view().substr(open));
}

void take_received_by(scan_state& scan, message_line& line) {
  std::string_view text = line.text.view();
  if (text.find('[') == std::string_view::npos) return;
  std::string_view host = text.substr(std::string_view("Received: by ").size());
  std::size_t space = host.find(' ', 1);
  if (space != std::string_view::npos) host = host.substr(0, space);
  append_entry(scan.fields->recent_ip, scan.ip_count, host);
}

// The header rules in the order they are tried; the first that matches takes the line.
constexpr header_rule k_header_rules[] = {
    {rule_test::starts_any_case, {"From:"}, take_from},
    {rule_test::starts_any_case, {"To:"}, take_to},
    {rule_test::starts_any_case, {"Cc:"}, take_cc},
    {rule_test::starts_any_case, {"Bcc:"}, take_bcc},
    {rule_test::starts_exact, {"Date:"}, take_date},
    {rule_test::starts_exact, {"Sent:"}, take_sent},
    {rule_test::starts_any_case, {"Subject:"}, take_subject},
    {rule_test::contains, {"Mapi-Message-Flags:"}, take_mapi_read_flag},
    {rule_test::starts_exact, {"X-Mozilla-Status:"}, take_mozilla_read_flag},
    {rule_test::contains,
     {"Attachment:", "name=Attach", "filename=\"", "Attachment Converted:", "X-Attachments:"},
     take_attachment_marker},
    {rule_test::contains, {"Content-Type: message"}, take_forwarded_message},
    {rule_test::armed_content_type, {"Content-Type:"}, take_content_type_name},
    {rule_test::starts_any_case, {"Received: from", "X-Originating-IP:"}, take_received_from},
    {rule_test::starts_any_case, {"Received: by "}, take_received_by},
};
static_assert(std::size(k_header_rules) == 14);

// Letters (upper-cased) that begin a starts-with literal; other lines only meet
// the contains-rules.
bool may_start_header(char first) {
  switch (ascii_upper(first)) {
    case 'B':
    case 'C':
    case 'D':
    case 'F':
    case 'R':
    case 'S':
    case 'T':
    case 'X':
      return true;
    default:
      return false;
  }
}

// Positions of the ':' and '=' of a line. Every contains-literal holds one of
// them, so a contains-test only compares at these few places; a line with more
// falls back to the full search.
struct line_marks {
  std::array<uint16_t, 16> at{};
  std::size_t count = 0;
  bool overflow = false;
};

void collect_marks(std::string_view text, char mark, line_marks& marks) {
  std::size_t from = 0;
  while (from < text.size()) {
    const void* hit = std::memchr(text.data() + from, mark, text.size() - from);
    if (!hit) return;
    if (marks.count == marks.at.size()) {
      marks.overflow = true;
      return;
    }
    std::size_t at = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
    marks.at[marks.count++] = static_cast<uint16_t>(at);
    from = at + 1;
  }
}

// find_text(text, literal) != npos, answered from the line's marks.
bool contains_literal(std::string_view text, const line_marks& marks, rule_literal pattern) {
  std::string_view literal = pattern.text;
  std::size_t anchor = pattern.mark;
  if (marks.overflow || anchor == literal.size()) {
    return find_text(text, literal) != std::string_view::npos;
  }
  if (text.size() <= literal.size()) return false;
  // As in find_text, a match may not end at the end of the line.
  std::size_t start_limit = text.size() - literal.size();
  for (std::size_t i = 0; i < marks.count; ++i) {
    std::size_t at = marks.at[i];
    if (text[at] != literal[anchor] || at < anchor || at - anchor >= start_limit) continue;
    if (ascii_iequal(text.substr(at - anchor, literal.size()), literal)) return true;
  }
  return false;
}

bool rule_matches(const header_rule& rule, const scan_state& scan, std::string_view text,
                  const line_marks& marks, bool may_start) {
  for (const rule_literal& pattern : rule.literals) {
    std::string_view literal = pattern.text;
    if (literal.empty()) break;
    switch (rule.test) {
      case rule_test::starts_any_case:
        if (may_start && ascii_istarts_with(text, literal)) return true;
        break;
      case rule_test::starts_exact:
        if (may_start && text.starts_with(literal)) return true;
        break;
      case rule_test::contains:
        if (contains_literal(text, marks, pattern)) return true;
        break;
      case rule_test::armed_content_type:
        if (scan.content_type_armed && may_start && text.starts_with(literal) &&
            contains_literal(text, marks, pattern)) {
          return true;
        }
        break;
    }
  }
  return false;
}

void apply_rules_with_marks(scan_state& scan, message_line& line, const line_marks& marks,
                            std::size_t first_rule) {
  std::string_view text = line.text.view();
  bool may_start = !text.empty() && may_start_header(text[0]);
  for (std::size_t i = first_rule; i < std::size(k_header_rules); ++i) {
    if (rule_matches(k_header_rules[i], scan, text, marks, may_start)) {
      k_header_rules[i].action(scan, line);
      return;
    }
  }
}

void apply_header_rules(scan_state& scan, message_line& line, std::size_t first_rule) {
  line_marks marks;
  collect_marks(line.text.view(), ':', marks);
  collect_marks(line.text.view(), '=', marks);
  apply_rules_with_marks(scan, line, marks, first_rule);
}

constexpr rule_literal k_hasattach("Mapi-Hasattach:");

void scan_line(scan_state& scan, message_line& line) {
  field_text& text = line.text;
  if (!text.empty() && (text[0] == '*' || text[0] == '>')) strip_quote_marks(text);
  line_marks marks;
  collect_marks(text.view(), ':', marks);
  collect_marks(text.view(), '=', marks);
  // Every literal of every rule holds a ':' or an '=': most body lines hold
  // neither and so skip the rules.
  if (marks.count == 0) return;
  if (!scan.content_type_armed && contains_literal(text.view(), marks, k_hasattach) &&
      text.view().find("True") == std::string_view::npos) {
    scan.content_type_armed = true;
  }
  apply_rules_with_marks(scan, line, marks, 0);
}

// Writes `text` as one field, in double quotes when quoting.
void write_field(std::FILE* stream, std::string_view text, bool quoted) {
  if (quoted) std::fputc('"', stream);
  write_untrusted_text(stream, text, listing_on_terminal(stream));
  if (quoted) std::fputc('"', stream);
}

template <std::size_t N>
void append_doubling_quotes(bounded_text<N>& out, std::string_view text, bool doubled) {
  for (char c : text) {
    if (c == '"' && doubled) out.push_back('"');
    out.push_back(c);
  }
}

void write_delimiter(std::FILE* stream) { std::fputc(g_delimiter, stream); }

void write_date_time(std::FILE* stream, const parsed_date& date) {
  bounded_text<96> text;
  // The year is zero-padded in plain mode and space-padded in quoted mode.
  append_format(text, quoting() ? "'%4d-%02d-%02d " : "'%04d-%02d-%02d ", date.year, date.month,
                date.day);
  append_doubling_quotes(text, date.time_text.view(), doubling_quotes());
  write_field(stream, text.view(), quoting());
}

void write_progress_line(std::string_view name, int64_t size) {
  std::fputc('\n', stderr);
  write_untrusted_text(stderr, name, messages_on_terminal());
  std::fprintf(stderr, "   %11s Bytes", format_thousands64(size));
}

}  // namespace

std::string_view display_name(std::string_view path) {
  for (std::size_t i = 0; i < 5 && i < path.size(); ++i) {
    if (path[i] != '\\' && path[i] != '?') return path.substr(i);
  }
  return path;
}

void reset_message_fields(message_fields& fields) {
  for (field_text* field :
       {&fields.from, &fields.to, &fields.cc, &fields.bcc, &fields.date, &fields.forward_date,
        &fields.subject, &fields.attachment_info, &fields.recent_ip}) {
    field->clear();
  }
  fields.message_read.assign(" Unknown  ");
  fields.date_time = parsed_date{};
}

scan_result read_message_fields(const std::string& path, message_fields& fields) {
  if (!open_line_reader(s_reader, path)) return scan_result::not_opened;
  scan_state scan{&s_reader, &fields};
  scan_result result = scan_result::done;
  unsigned lines = 0;
  while (read_line(s_reader, s_line)) {
    if (++lines % k_interrupt_check_lines == 0 && interrupt_pending()) {
      result = scan_result::interrupted;
      break;
    }
    scan_line(scan, s_line);
  }
  close_line_reader(s_reader);
  return result;
}

void write_listing_header(std::FILE* stream) {
  static constexpr const char* k_columns[] = {"Filename",
                                              "Size",
                                              "File-(MOD)Date",
                                              "From",
                                              "To",
                                              "CC",
                                              "Bcc",
                                              "Date",
                                              "Date-Time",
                                              "Forward Date",
                                              "Subject",
                                              "Message Read",
                                              "Attachment Info",
                                              "Recent IP"};
  bool first = true;
  for (const char* column : k_columns) {
    if (!first) write_delimiter(stream);
    write_field(stream, column, quoting());
    first = false;
  }
}

void write_record_prefix(std::FILE* stream, std::string_view path, int64_t size,
                         const date_parts& written) {
  bool quoted = quoting();
  std::fputc('\n', stream);
  if (doubling_quotes() && path.find('"') != std::string_view::npos) {
    static field_text doubled;
    doubled.clear();
    append_doubling_quotes(doubled, path, true);
    write_field(stream, doubled.view(), quoted);
  } else {
    write_field(stream, path, quoted);
  }
  write_delimiter(stream);
  std::fprintf(stream, quoted ? "\"%lld\"%c" : "%lld%c", static_cast<long long>(size), g_delimiter);
  std::fprintf(stream, quoted ? "\"'%4d-%02d-%02d %02d:%02d\"%c" : "'%4d-%02d-%02d %02d:%02d%c",
               written.year, written.month, written.day, written.hour, written.minute, g_delimiter);
}

void write_record_end(std::FILE* stream, message_fields& fields) {
  bool quoted = quoting();
  if (doubling_quotes()) {
    for (field_text* field :
         {&fields.from, &fields.to, &fields.cc, &fields.bcc, &fields.date, &fields.forward_date,
          &fields.subject, &fields.message_read, &fields.attachment_info, &fields.recent_ip}) {
      double_quotes(*field);
    }
  }
  for (const field_text* field :
       {&fields.from, &fields.to, &fields.cc, &fields.bcc, &fields.date}) {
    write_field(stream, field->view(), quoted);
    write_delimiter(stream);
  }
  write_date_time(stream, fields.date_time);
  for (const field_text* field : {&fields.forward_date, &fields.subject, &fields.message_read,
                                  &fields.attachment_info, &fields.recent_ip}) {
    write_delimiter(stream);
    write_field(stream, field->view(), quoted);
  }
}

void scan_message(const std::string& path, int64_t size, const file_dates& dates) {
  reset_message_fields(s_fields);
  std::string_view name = display_name(path);
  write_record_prefix(g_out_file, name, size, dates.write_time);
  write_progress_line(name, size);
  // A file that cannot be opened keeps the start values, so its record is whole.
  scan_result result = read_message_fields(path, s_fields);
  write_record_end(g_out_file, s_fields);
  s_fields.date_time = parsed_date{};
  if (listing_write_failed()) terminate_run(k_exit_write_error);
  if (result == scan_result::interrupted || interrupt_pending()) terminate_run(k_exit_user_aborted);
}
