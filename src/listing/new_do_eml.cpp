#include "listing/new_do_eml.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <utility>

#include "INCLUDE_U/numbers.h"
#include "INCLUDE_U/stops.h"
#include "INCLUDE_U/unreadable.h"
#include "listing/eml_program.h"
#include "listing/file_hashes.h"
#include "listing/line_reader.h"
#include "platform/platform.h"
#include "settings/run_settings.h"

namespace {

// Per-file state of the header scan.
struct scan_state {
  line_reader* reader;
  message_fields* fields;
  message_line* line;         // the line a rule takes
  message_line* second_line;  // the line after a short From line
  message_line* look_ahead;   // the line after a Received line
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

// A literal laid out for comparing 8 bytes at a time, ignoring case: three
// 8-byte loads at `at` (the last one ending at the literal's end, or all at 0
// for a literal shorter than 8), each with `fold` ORed in, which sets bit 5 of
// the letters' bytes so that A-Z meets a-z, then compared with `folded`, the
// literal so treated, in the bytes `care` covers. A literal that needs fewer
// loads repeats its last one.
struct literal_words {
  std::array<std::size_t, 3> at{};
  std::array<uint64_t, 3> folded{};
  std::array<uint64_t, 3> fold{};
  std::array<uint64_t, 3> care{};
};
constexpr std::size_t k_longest_literal = 24;

constexpr literal_words words_of(std::string_view text) {
  literal_words words;
  std::size_t size = text.size();
  for (std::size_t k = 0; k < 3; ++k) {
    std::size_t at = size <= 8 ? 0 : std::min<std::size_t>(8 * k, size - 8);
    words.at[k] = at;
    for (std::size_t j = 0; j < 8 && at + j < size; ++j) {
      auto c = static_cast<unsigned char>(text[at + j]);
      uint64_t letter_bit = is_ascii_letter(static_cast<char>(c)) ? 0x20 : 0;
      // The bytes as one load puts them in a register.
      std::size_t shift = std::endian::native == std::endian::little ? 8 * j : 8 * (7 - j);
      words.folded[k] |= (c | letter_bit) << shift;
      words.fold[k] |= letter_bit << shift;
      words.care[k] |= uint64_t{0xFF} << shift;
    }
  }
  return words;
}

// A rule's literal with the place of its first ':' or '=' (its size when it has
// neither), worked out when the table is built.
struct rule_literal {
  std::string_view text;
  std::size_t mark = 0;
  literal_words words;
  constexpr rule_literal() = default;
  constexpr rule_literal(const char* literal) : text(literal), mark(0), words(words_of(literal)) {
    while (mark < text.size() && text[mark] != ':' && text[mark] != '=') ++mark;
  }
};

// The header rules by name, in the order they are tried.
enum class rule_name {
  from,
  to,
  cc,
  bcc,
  date,
  sent,
  subject,
  mapi_read_flag,
  mozilla_read_flag,
  attachment_marker,
  forwarded_message,
  content_type_name,
  received_from,
  received_by,
};

struct header_rule {
  rule_name name;
  rule_test test;
  std::array<rule_literal, 5> literals;
  rule_action action;
};

bool messages_on_terminal() {
  static const bool terminal = g_platform.is_terminal(stderr);
  return terminal;
}
void replace_tabs(field_text& text) { replace_byte(text, '\t', ' '); }

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

// Whether the line begins like a header: a printable character other than a
// space, then one or more characters up to a ':', none of them white space.
bool begins_header(std::string_view text) {
  if (text.empty() || text[0] <= ' ' || text[0] > '~') return false;
  std::size_t i = 1;
  while (i < text.size() && text[i] != ':' && text[i] != ' ' && text[i] != '\t') ++i;
  return i > 1 && i < text.size() && text[i] == ':';
}

void take_from(scan_state& scan, message_line& line) {
  field_text& text = line.text;
  blank_after_colon(text, 5, g_delimiter);
  bool soft_break = text.back() == '=';
  if (soft_break || text.size() < 10) {
    // Only the "=" of a soft line break goes: a short line keeps its sender.
    if (soft_break) text.drop_last();
    if (read_line(*scan.reader, (*scan.second_line))) {
      // A short line's address may go on in the next line, but a header there is
      // a line of its own, read again by the main loop.
      if (!soft_break && begins_header((*scan.second_line).text.view())) {
        step_back(*scan.reader, (*scan.second_line));
      } else {
        text.append((*scan.second_line).text.view());
        replace_tabs(text);
      }
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

void apply_header_rules(scan_state& scan, message_line& line, rule_name first_rule);

void take_content_type_name(scan_state& scan, message_line& line) {
  std::string_view text = line.text.view();
  std::size_t name = find_text(text, "name=");
  if (name != std::string_view::npos) {
    append_attachment(scan, scan.content_type_count, before_charset(text.substr(name)));
    return;
  }
  if (!read_line(*scan.reader, line)) return;
  if (find_text(line.text.view(), "name=") == std::string_view::npos) {
    // A continuation without a name may still be a Recent IP line.
    apply_header_rules(scan, line, rule_name::received_from);
    return;
  }
  if (line.text[0] == '\t') line.text[0] = ' ';
  append_attachment(scan, scan.content_type_count, before_charset(line.text.view()));
}

// Joins the bracketed part of the next line when it is a continuation with one
// (a Received header folded before its address); otherwise that line is read
// again by the main loop.
void join_look_ahead(scan_state& scan, field_text& text) {
  if (!read_line(*scan.reader, (*scan.look_ahead))) return;
  std::string_view next = (*scan.look_ahead).text.view();
  std::size_t open = next.find('[');
  bool continuation = !next.empty() && (next[0] == ' ' || next[0] == '\t');
  if (open == std::string_view::npos || !continuation) {
    step_back(*scan.reader, (*scan.look_ahead));
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
    {rule_name::from, rule_test::starts_any_case, {"From:"}, take_from},
    {rule_name::to, rule_test::starts_any_case, {"To:"}, take_to},
    {rule_name::cc, rule_test::starts_any_case, {"Cc:"}, take_cc},
    {rule_name::bcc, rule_test::starts_any_case, {"Bcc:"}, take_bcc},
    {rule_name::date, rule_test::starts_exact, {"Date:"}, take_date},
    {rule_name::sent, rule_test::starts_exact, {"Sent:"}, take_sent},
    {rule_name::subject, rule_test::starts_any_case, {"Subject:"}, take_subject},
    {rule_name::mapi_read_flag, rule_test::contains, {"Mapi-Message-Flags:"}, take_mapi_read_flag},
    {rule_name::mozilla_read_flag,
     rule_test::starts_exact,
     {"X-Mozilla-Status:"},
     take_mozilla_read_flag},
    {rule_name::attachment_marker,
     rule_test::contains,
     {"Attachment:", "name=Attach", "filename=\"", "Attachment Converted:", "X-Attachments:"},
     take_attachment_marker},
    {rule_name::forwarded_message,
     rule_test::contains,
     {"Content-Type: message"},
     take_forwarded_message},
    {rule_name::content_type_name,
     rule_test::armed_content_type,
     {"Content-Type:"},
     take_content_type_name},
    {rule_name::received_from,
     rule_test::starts_any_case,
     {"Received: from", "X-Originating-IP:"},
     take_received_from},
    {rule_name::received_by, rule_test::starts_any_case, {"Received: by "}, take_received_by},
};
static_assert(std::size(k_header_rules) == 14);

// Each rule stands at its name's place, so that a name finds its rule.
constexpr bool every_rule_at_its_name() {
  for (std::size_t i = 0; i < std::size(k_header_rules); ++i) {
    if (static_cast<std::size_t>(k_header_rules[i].name) != i) return false;
  }
  return true;
}
static_assert(every_rule_at_its_name());

constexpr uint32_t k_hasattach_bit = uint32_t{1} << std::size(k_header_rules);
constexpr rule_literal k_hasattach("Mapi-Hasattach:");

constexpr bool tests_contains(rule_test test) {
  return test == rule_test::contains || test == rule_test::armed_content_type;
}

// Every literal is found through its first ':' or '=', its mark, and the two
// bytes before the mark, which the line reader looks at only when they are
// letters: so every literal needs a mark after two letters.
constexpr bool has_mark_after_two_letters(const rule_literal& literal) {
  return literal.mark >= 2 && literal.mark < literal.text.size() &&
         is_ascii_letter(literal.text[literal.mark - 2]) &&
         is_ascii_letter(literal.text[literal.mark - 1]);
}

constexpr bool every_literal_has_a_mark_after_two_letters() {
  for (const header_rule& rule : k_header_rules) {
    for (const rule_literal& literal : rule.literals) {
      if (literal.text.empty()) break;
      if (!has_mark_after_two_letters(literal)) return false;
    }
  }
  return has_mark_after_two_letters(k_hasattach);
}
static_assert(every_literal_has_a_mark_after_two_letters());

constexpr bool every_literal_fits_three_loads() {
  for (const header_rule& rule : k_header_rules) {
    for (const rule_literal& literal : rule.literals) {
      if (literal.text.size() > k_longest_literal) return false;
    }
  }
  return k_hasattach.text.size() <= k_longest_literal;
}
static_assert(every_literal_fits_three_loads());

// The marks worth a look: those after the two bytes that come before the mark
// of some literal. A line matches a rule only through such a mark, and the
// Content-Type rule is armed only through one.
constexpr void admit_literal(mark_filter& filter, const rule_literal& literal) {
  filter.admit(literal.text[literal.mark], literal.text[literal.mark - 2],
               literal.text[literal.mark - 1]);
}

constexpr mark_filter collect_mark_filter() {
  mark_filter out;
  for (const header_rule& rule : k_header_rules) {
    for (const rule_literal& literal : rule.literals) {
      if (literal.text.empty()) break;
      admit_literal(out, literal);
    }
  }
  admit_literal(out, k_hasattach);
  return out;
}
constexpr mark_filter k_mark_filter = collect_mark_filter();

// The contains-literals of the rule table, each with the bit of its rule (bit i
// for rule i), and the literal that arms the Content-Type rule with a bit of its
// own. Each carries the key of the two bytes before its mark, so that it is
// compared only where they agree.
struct contains_check {
  rule_literal pattern;
  uint32_t rule_bit = 0;
  unsigned pair_key = 0;
};
struct contains_checks {
  std::array<contains_check, 15> checks{};
  std::size_t count = 0;
};

constexpr contains_check check_of(const rule_literal& literal, uint32_t rule_bit) {
  return {literal, rule_bit,
          pair_key(literal.text[literal.mark - 2], literal.text[literal.mark - 1])};
}

constexpr contains_checks collect_contains_checks() {
  contains_checks out;
  for (std::size_t r = 0; r < std::size(k_header_rules); ++r) {
    if (!tests_contains(k_header_rules[r].test)) continue;
    for (const rule_literal& literal : k_header_rules[r].literals) {
      if (literal.text.empty()) break;
      out.checks[out.count++] = check_of(literal, uint32_t{1} << r);
    }
  }
  out.checks[out.count++] = check_of(k_hasattach, k_hasattach_bit);
  return out;
}
constexpr contains_checks k_contains_checks = collect_contains_checks();

// For each mark and each key of the two bytes before it, the contains-checks
// (bit i for check i) whose literal could have its mark there, and bit 15 when
// some literal at all could: the filter's answer and the checks in one look.
constexpr unsigned k_any_literal = 1u << 15;
struct mark_candidates {
  std::array<uint16_t, 1024> colon{};
  std::array<uint16_t, 1024> equals{};
};

constexpr mark_candidates collect_mark_candidates() {
  mark_candidates out;
  for (unsigned key = 0; key < 1024; ++key) {
    if (key % 32 > 26 || key / 32 > 26) continue;
    // A byte of each key: a letter, or a space for all other bytes, which stand
    // in no literal's pair.
    char first = key / 32 == 0 ? ' ' : static_cast<char>('a' + key / 32 - 1);
    char second = key % 32 == 0 ? ' ' : static_cast<char>('a' + key % 32 - 1);
    if (k_mark_filter.admits(':', first, second)) out.colon[key] |= k_any_literal;
    if (k_mark_filter.admits('=', first, second)) out.equals[key] |= k_any_literal;
  }
  for (std::size_t i = 0; i < k_contains_checks.count; ++i) {
    const contains_check& check = k_contains_checks.checks[i];
    auto& table = check.pattern.text[check.pattern.mark] == ':' ? out.colon : out.equals;
    table[check.pair_key] |= static_cast<uint16_t>(1u << i);
  }
  return out;
}
constexpr mark_candidates k_mark_candidates = collect_mark_candidates();

// Whether `text`, which holds at least as many bytes as `literal`, begins with
// it, ignoring the case of A-Z: a few loads and no branch on where they part,
// which the processor could not foresee.
bool begins_ignoring_case(std::string_view text, const rule_literal& literal) {
  // A load may not reach past the text.
  if (text.size() < 8) return ascii_istarts_with(text, literal.text);
  const literal_words& words = literal.words;
  uint64_t differ = 0;
  for (std::size_t k = 0; k < 3; ++k) {
    uint64_t word;
    std::memcpy(&word, text.data() + words.at[k], sizeof word);
    differ |= ((word | words.fold[k]) ^ words.folded[k]) & words.care[k];
  }
  return differ == 0;
}

// Bits of the rules whose contains-literals among `candidates` match with their
// mark at `at`, as find_text would find them: never ending at the line's end.
uint32_t literals_marked_at(std::string_view text, std::size_t at, unsigned candidates) {
  uint32_t found = 0;
  for (candidates &= ~k_any_literal; candidates != 0; candidates &= candidates - 1) {
    const contains_check& check = k_contains_checks.checks[std::countr_zero(candidates)];
    std::string_view literal = check.pattern.text;
    std::size_t anchor = check.pattern.mark;
    if (at < anchor) continue;
    std::size_t start = at - anchor;
    if (start + literal.size() >= text.size()) continue;
    if (begins_ignoring_case(text.substr(start), check.pattern)) found |= check.rule_bit;
  }
  return found;
}

// What the rules need to know of a line before they are tried: whether it holds
// a mark the filter admits at all (a line without one matches no rule), and which
// rules' contains-literals it holds. One look at each of its marks answers both.
struct line_facts {
  bool has_mark = false;
  uint32_t contained = 0;
};

// One look at the mark at `at` of `text` for the facts.
void add_facts_of_mark(line_facts& facts, std::string_view text, std::size_t at) {
  if (at < 2) return;
  unsigned key = pair_key(text[at - 2], text[at - 1]);
  unsigned candidates =
      text[at] == ':' ? k_mark_candidates.colon[key] : k_mark_candidates.equals[key];
  if (candidates == 0) return;
  facts.has_mark = true;
  if (candidates != k_any_literal) facts.contained |= literals_marked_at(text, at, candidates);
}

// The facts of a line read whole: every ':' and '=' is looked at.
line_facts facts_of(std::string_view text) {
  line_facts facts;
  std::size_t i = 0;
  for (; i + 16 <= text.size(); i += 16) {
    for (uint32_t marks = mark_bits16(text.data() + i); marks != 0; marks &= marks - 1) {
      add_facts_of_mark(facts, text, i + static_cast<std::size_t>(std::countr_zero(marks)));
    }
  }
  for (; i < text.size(); ++i) {
    if (text[i] == ':' || text[i] == '=') add_facts_of_mark(facts, text, i);
  }
  return facts;
}

// The facts of a line that lies in the reader's chunk, whose admitted marks are
// known: the others have no candidates, so only they are looked at.
line_facts facts_of_chunk_line(const line_reader& reader, std::string_view text) {
  line_facts facts;
  for_each_admitted_mark(reader, text, [&](std::size_t at) { add_facts_of_mark(facts, text, at); });
  return facts;
}

// Both cases of an ASCII letter (any other byte twice), for the tables below.
constexpr std::array<char, 2> both_cases(char c) {
  if (c >= 'a' && c <= 'z') return {c, static_cast<char>(c - 32)};
  if (c >= 'A' && c <= 'Z') return {c, static_cast<char>(c + 32)};
  return {c, c};
}

bool starts_with_literal(std::string_view text, const rule_literal& literal, bool any_case) {
  // The first byte decides for almost every line; the rest is compared only then.
  if (text.empty() || ascii_upper(text[0]) != ascii_upper(literal.text[0])) return false;
  if (text.size() < literal.text.size()) return false;
  return any_case ? begins_ignoring_case(text, literal) : text.starts_with(literal.text);
}

bool rule_matches(std::size_t index, const scan_state& scan, std::string_view text,
                  const line_facts& facts) {
  const header_rule& rule = k_header_rules[index];
  bool contained = (facts.contained & (uint32_t{1} << index)) != 0;
  switch (rule.test) {
    case rule_test::contains:
      return contained;
    case rule_test::armed_content_type:
      return contained && scan.content_type_armed &&
             starts_with_literal(text, rule.literals[0], false);
    case rule_test::starts_any_case:
    case rule_test::starts_exact:
      for (const rule_literal& literal : rule.literals) {
        if (literal.text.empty()) break;
        if (starts_with_literal(text, literal, rule.test == rule_test::starts_any_case))
          return true;
      }
      return false;
  }
  return false;
}

// For each byte, the rules (bit i for rule i) with a starts-with literal that
// begins with it in either case; only they, and the rules whose contains-literals
// the line holds, can take a line.
constexpr std::array<uint16_t, 256> k_rules_by_first_byte = [] {
  std::array<uint16_t, 256> out{};
  for (std::size_t r = 0; r < std::size(k_header_rules); ++r) {
    const header_rule& rule = k_header_rules[r];
    if (rule.test == rule_test::contains) continue;
    for (const rule_literal& literal : rule.literals) {
      if (literal.text.empty()) break;
      for (char c : both_cases(literal.text[0])) {
        out[static_cast<unsigned char>(c)] |= static_cast<uint16_t>(1u << r);
      }
    }
  }
  return out;
}();
constexpr uint32_t k_all_rules = (uint32_t{1} << std::size(k_header_rules)) - 1;

// The first rule from `first_rule` on that matches, or none (the table's size).
std::size_t first_matching_rule(const scan_state& scan, std::string_view text,
                                const line_facts& facts, std::size_t first_rule) {
  uint32_t candidates = facts.contained & k_all_rules;
  if (!text.empty()) candidates |= k_rules_by_first_byte[static_cast<unsigned char>(text[0])];
  candidates &= k_all_rules & ~((uint32_t{1} << first_rule) - 1);
  for (; candidates != 0; candidates &= candidates - 1) {
    std::size_t i = static_cast<std::size_t>(std::countr_zero(candidates));
    if (rule_matches(i, scan, text, facts)) return i;
  }
  return std::size(k_header_rules);
}

void apply_header_rules(scan_state& scan, message_line& line, rule_name first_rule) {
  std::size_t rule = first_matching_rule(scan, line.text.view(), facts_of(line.text.view()),
                                         static_cast<std::size_t>(first_rule));
  if (rule < std::size(k_header_rules)) k_header_rules[rule].action(scan, line);
}

// Makes `line` hold `text`, which may already lie inside it.
void hold_line(message_line& line, std::string_view text) {
  std::memmove(line.text.data(), text.data(), text.size());
  line.text.length = text.size();
  line.text[text.size()] = '\0';
  line.line_end = true;
}

// Tests one line against the rules. `text` lies in the reader's buffer or in
// the scan's line; it is copied into that line only when a rule takes it, since the rules
// change the line and read further lines.
void scan_text(scan_state& scan, std::string_view text) {
  text.remove_prefix(quote_marks_length(text));
  line_facts facts =
      lies_in_chunk(*scan.reader, text) ? facts_of_chunk_line(*scan.reader, text) : facts_of(text);
  if (!facts.has_mark) return;
  if (facts.contained == 0 && k_rules_by_first_byte[static_cast<unsigned char>(text[0])] == 0)
    return;
  if (!scan.content_type_armed && (facts.contained & k_hasattach_bit) &&
      text.find("True") == std::string_view::npos) {
    scan.content_type_armed = true;
  }
  std::size_t rule = first_matching_rule(scan, text, facts, 0);
  if (rule == std::size(k_header_rules)) return;
  hold_line(*scan.line, text);
  k_header_rules[rule].action(scan, *scan.line);
}

// The hash columns as the settings ask for them: MD5 (hash), SHA-1, SHA-256.
void choose_hash_columns_from_settings(file_hashes& hashes) {
  choose_hash_columns(hashes, g_settings->hash != 0, g_settings->sha1 != 0, g_settings->sha2 != 0);
}

// "\n" name "   " size with comma groups, right-aligned in 11, " Bytes".
void write_progress_line(std::string_view name, int64_t size) {
  std::string_view digits = format_thousands64(size);
  bounded_text<64> tail;
  tail.append("   ");
  for (std::size_t width = digits.size(); width < 11; ++width) tail.push_back(' ');
  tail.append(digits);
  tail.append(" Bytes");
  // One write per file where nobody watches: the line is gathered first, when
  // the name leaves room for it.
  static bounded_text<4096> line;
  if (!messages_on_terminal() && name.size() + tail.size() < line.capacity) {
    line.clear();
    line.push_back('\n');
    line.append(name);
    line.append(tail.view());
    write_text(stderr, line.view());
    return;
  }
  std::fputc('\n', stderr);
  write_untrusted_text(stderr, name, messages_on_terminal());
  write_text(stderr, tail.view());
}

// Reads the attached file to its end against the header rules into `fields`,
// then closes it.
scan_result read_attached_fields(message_scan& ms, message_fields& fields) {
  line_reader& reader = ms.reader;
  scan_state scan{&reader, &fields, &ms.line, &ms.second_line, &ms.look_ahead};
  scan_result result = scan_result::done;
  std::string_view text;
  // Interrupts are looked at once per chunk after the first, so a long file
  // stops soon and a short one is read whole.
  uint64_t chunks_checked = 1;
  for (;;) {
    marked_read got = read_marked_line(reader, k_mark_filter, ms.line, text);
    if (got == marked_read::end) break;
    if (reader.chunks_read > chunks_checked) {
      chunks_checked = reader.chunks_read;
      if (interrupt_pending()) {
        result = scan_result::interrupted;
        break;
      }
    }
    if (got == marked_read::line) scan_text(scan, text);
  }
  if (reader.hashes) finish_file_hashes(*reader.hashes, read_to_end(reader));
  close_line_reader(reader);
  return result;
}

// The scan of the walk's files and of the callers that bring none; kept for the
// whole run so that no file and no line allocates.
message_scan& run_scan() {
  static message_scan scan;
  return scan;
}

}  // namespace

scan_result read_message_fields(const std::string& path, message_fields& fields) {
  message_scan& scan = run_scan();
  if (!open_line_reader(scan.reader, path)) return scan_result::not_opened;
  return read_attached_fields(scan, fields);
}

stop_reason scan_message(const std::string& path, int64_t size, const file_dates& dates) {
  return scan_opened_message(run_scan(), path, g_platform.open_for_reading(path), size, dates);
}

stop_reason scan_opened_message(const std::string& path, read_handle file, int64_t size,
                                const file_dates& dates) {
  return scan_opened_message(run_scan(), path, file, size, dates);
}

stop_reason scan_opened_message(message_scan& scan, const std::string& path, read_handle file,
                                int64_t size, const file_dates& dates) {
  reset_message_fields(scan.fields);
  std::string_view name = display_name(path);
  write_record_prefix(scan.record, g_out_file, name, size, dates.write_time);
  write_progress_line(name, size);
  // A file that cannot be opened keeps the start values, so its record is whole.
  attach_line_reader(scan.reader, file, size);
  choose_hash_columns_from_settings(scan.hashes);
  if (scan.hashes.count != 0) {
    start_file_hashes(scan.hashes);
    scan.reader.hashes = &scan.hashes;
  }
  scan_result result = read_attached_fields(scan, scan.fields);
  write_record_end(scan.record, g_out_file, scan.fields, scan.hashes);
  note_whole_record();
  scan.fields.date_time = parsed_date{};
  // The record holds what was read before the failure; the message tells it
  // apart from a message that really ends there.
  if (scan.reader.read_failed) report_failure(path, true);
  if (failure_stop() != stop_reason::go_on) return failure_stop();
  if (listing_write_failed()) return stop_reason::write_failed;
  if (result == scan_result::interrupted || interrupt_pending()) return stop_reason::interrupted;
  return stop_reason::go_on;
}
