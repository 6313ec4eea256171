#include "listing/scan/header_rules.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "INCLUDE_U/text.h"
#include "listing/sources/byte_search.h"
#include "listing/scan/header_values.h"
#include "listing/scan/extra_facts.h"
#include "listing/scan/matcher.h"

namespace {

using rule_action = void (*)(scan_state& scan, message_line& line);

enum class rule_test { starts_any_case, starts_exact, contains, armed_content_type };

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

void replace_tabs(field_text& text) { replace_byte(text, '\t', ' '); }

// The character right after a header name's colon turns from the delimiter (or
// another given character) into a space, so that it cannot split the record.
void blank_after_colon(const scan_state& scan, field_text& text, std::size_t position, char other) {
  char delimiter = scan.options->delimiter;
  if (position < text.size() && (text[position] == delimiter || text[position] == other)) {
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

void take_address(scan_state& scan, message_line& line, entry_field& field, int& counter,
                  std::size_t after_colon, bool body) {
  blank_after_colon(scan, line.text, after_colon, scan.options->delimiter);
  append_entry_head(field, counter, body);
  field.text.append(line.text.view());
  // The readable listing keeps the commas between folded addresses.
  fold_continuations(*scan.reader, field.text, *scan.continuation, scan.unfold);
  field.text.append("  ");
  // Short folds the address rule leaves (a line of white space) unfold as well.
  unfold_into(scan, field.text);
}

void take_from(scan_state& scan, message_line& line) {
  field_text& text = line.text;
  blank_after_colon(scan, text, 5, scan.options->delimiter);
  bool soft_break = text.back() == '=' && !(scan.unfold && ends_encoded_word(text.view()));
  if (soft_break || text.size() < 10) {
    // Only the "=" of a soft line break goes: a short line keeps its sender.
    if (soft_break) text.drop_last();
    if (read_line(*scan.reader, (*scan.second_line))) {
      note_header_end(scan, *scan.second_line);
      // A short line's address may go on in the next line, but a header there is
      // a line of its own, read again by the main loop.
      if (!soft_break && begins_header((*scan.second_line).text.view())) {
        step_back(*scan.reader, (*scan.second_line));
      } else {
        std::string_view next = (*scan.second_line).text.view();
        text.append(next);
        replace_tabs(text);
        // A Message-ID line with white space before its colon is taken as well.
        std::size_t colon = scan.want_message_id ? message_id_colon(next) : std::string_view::npos;
        if (colon != std::string_view::npos) take_message_id(scan, next.substr(colon + 1));
      }
    }
  }
  append_entry_head(scan.fields->from, scan.from_count, !scan.header_phase && scan.from_seen);
  scan.fields->from.text.append(text.view());
  scan.fields->from.text.append("  ");
  scan.from_seen = true;
  unfold_into(scan, scan.fields->from.text);
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
  blank_after_colon(scan, line.text, 5, '\t');
  std::size_t br = find_text(line.text.view(), "<BR>");
  if (br != std::string_view::npos) line.text.truncate(br);
  append_entry(scan.fields->date, scan.date_count, line.text.view());
  if (br == std::string_view::npos) unfold_into(scan, scan.fields->date.text);
  if (!scan.date_parsed) {
    parse_date_line(line.text.view(), scan.fields->date_time);
    scan.date_parsed = true;
    take_sent_text(scan, line);
  }
}

void take_sent(scan_state& scan, message_line& line) {
  append_entry(scan.fields->forward_date, scan.sent_count, line.text.view());
  if (!scan.date_parsed) {
    append_entry(scan.fields->date, scan.date_count, line.text.view());
    parse_date_line(line.text.view(), scan.fields->date_time);
    scan.date_parsed = true;
    take_sent_text(scan, line);
  }
}

void take_subject(scan_state& scan, message_line& line) {
  append_entry(scan.fields->subject, scan.subject_count, line.text.view());
  scan.header_phase = false;
  unfold_into(scan, scan.fields->subject.text);
}

void take_mapi_read_flag(scan_state& scan, message_line& line) {
  std::string_view text = line.text.view();
  entry_field& read = scan.fields->message_read;
  clear_entries(read);
  if (find_text(text, "(read") != std::string_view::npos ||
      find_text(text, " read") != std::string_view::npos) {
    append_entry_head(read, scan.read_count, false);
    read.text.append(" YES ");
  }
}

void take_mozilla_read_flag(scan_state& scan, message_line& line) {
  std::string_view text = line.text.view();
  int status = leading_int(text.substr(text.find(':') + 1));
  take_read_answer(scan, status % 2 != 0);
}

void append_attachment(scan_state& scan, int& counter, std::string_view text) {
  entry_field& info = scan.fields->attachment_info;
  append_entry_head(info, counter, false);
  info.text.append("Attachment info: ");
  info.text.append(text);
  info.text.append("  ");
}

void take_attachment_marker(scan_state& scan, message_line& line) {
  replace_tabs(line.text);
  append_attachment(scan, scan.attachment_count, kept_text(line.text.view(), "filename="));
}

void take_forwarded_message(scan_state& scan, message_line& line) {
  // The attachment's name is on the next line, which no rule sees.
  if (!read_line(*scan.reader, line)) return;
  note_header_end(scan, line);
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
  note_header_end(scan, line);
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

}  // namespace

const mark_filter& header_mark_filter() { return k_mark_filter; }

void scan_text(scan_state& scan, std::string_view text) {
  if ((scan.want_message_id || scan.want_charset) && !text.empty() &&
      (text[0] == 'M' || text[0] == 'm' || text[0] == 'C' || text[0] == 'c')) {
    std::size_t colon = scan.want_message_id ? message_id_colon(text) : std::string_view::npos;
    if (colon != std::string_view::npos) {
      take_message_id(scan, text.substr(colon + 1));
      return;
    }
    if (scan.want_charset && ascii_istarts_with(text, k_content_type_name)) {
      // Held first: the look at the next line may refill the chunk under `text`.
      hold_line(*scan.line, text);
      take_charset(scan, *scan.line);
      text = scan.line->text.view();
    }
  }
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
  // A rule that takes a continuation line may read on: the fold ends there.
  scan.unfolding = nullptr;
  k_header_rules[rule].action(scan, *scan.line);
}

void take_read_answer(scan_state& scan, bool read) {
  entry_field& flag = scan.fields->message_read;
  clear_entries(flag);
  append_entry_head(flag, scan.read_count, false);
  flag.text.append(read ? " YES " : " NO/Unknown ");
}

void take_attachment_name(scan_state& scan, std::string_view name) {
  // As a Content-Disposition line names it, so the entry is the one such a line gives.
  bounded_text<k_field_capacity> text;
  text.append("filename=\"");
  for (char c : name) {
    // The name is one entry of one record: a line end or tab inside it is a space.
    if (!text.push_back(c == '\n' || c == '\r' || c == '\t' ? ' ' : c)) break;
  }
  text.push_back('"');
  append_attachment(scan, scan.attachment_count, text.view());
}
