// The readable listing's extra facts: the first Message-ID of the header block,
// the first charset a Content-Type line names, the whole Date header for the sent
// time, and the unfolding of the entries header lines start.
#include "listing/scan/extra_facts.h"

#include <algorithm>
#include <cstdint>

#include "INCLUDE_U/text.h"
#include "listing/record/readable_text.h"
#include "listing/scan/header_values.h"

namespace {

// Where a Message-ID's value stands as it is read, line by line: comments are
// text in parentheses outside the angle brackets and quotes (they nest, and a
// backslash takes the next character as it is); a quoted local part keeps its
// parentheses.
struct message_id_place {
  int comment_depth = 0;
  bool in_angle = false;
  bool in_quotes = false;
  bool escaped = false;
};

// Appends `part` of a Message-ID's value to `id` without its white space and
// comments.
template <typename text>
void append_message_id_part(message_id_place& at, std::string_view part, text& id) {
  for (char c : part) {
    bool in_comment = at.comment_depth > 0;
    if (at.escaped) {
      at.escaped = false;
    } else if (c == '\\' && (in_comment || at.in_quotes)) {
      at.escaped = true;
    } else if (in_comment) {
      at.comment_depth += c == '(' ? 1 : c == ')' ? -1 : 0;
    } else if (c == '"') {
      at.in_quotes = !at.in_quotes;
    } else if (!at.in_quotes && c == '(' && !at.in_angle) {
      at.comment_depth = 1;
      in_comment = true;
    } else if (!at.in_quotes) {
      if (c == '<') at.in_angle = true;
      if (c == '>') at.in_angle = false;
    }
    if (!in_comment && !is_ascii_space(c)) id.push_back(c);
  }
}

}  // namespace

void note_header_end(scan_state& scan, const message_line& line) {
  if (scan.want_message_id && line.text.size() == 0 && line.line_end) scan.want_message_id = false;
}

std::size_t message_id_colon(std::string_view text) {
  if (!ascii_istarts_with(text, k_message_id_name)) return std::string_view::npos;
  std::size_t at = k_message_id_name.size();
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
  return at < text.size() && text[at] == ':' ? at : std::string_view::npos;
}

// The Message-ID's value with its folded continuation lines, without white
// space and comments.
void take_message_id(scan_state& scan, std::string_view value) {
  scan.want_message_id = false;
  auto& id = scan.fields->message_id;
  message_id_place at;
  auto append_part = [&](std::string_view part) { append_message_id_part(at, part, id); };
  append_part(value);
  for_each_fold(*scan.reader, *scan.look_ahead, append_part);
}

// The charset of a Content-Type line, or of its folded continuation when the line
// names none. `line` holds the line, so that the look at the next one keeps it.
void take_charset(scan_state& scan, const message_line& line) {
  std::string_view charset = content_type_charset(line.text.view());
  if (!charset.empty()) {
    scan.fields->charset.assign(charset);
    scan.want_charset = false;
    return;
  }
  message_line& next = *scan.look_ahead;
  if (!read_line(*scan.reader, next)) return;
  std::string_view more = next.text.view();
  if (!more.empty() && (more[0] == ' ' || more[0] == '\t')) charset = content_type_charset(more);
  if (!charset.empty()) {
    scan.fields->charset.assign(charset);
    scan.want_charset = false;
  }
  step_back(*scan.reader, next);
}

void want_extra_facts(scan_state& scan) {
  scan.want_message_id = scan.options->message_id;
  scan.want_charset = scan.options->utf;
  const scan_options& options = *scan.options;
  scan.want_sent_time = options.sent_utc || options.sent_after_set || options.sent_before_set;
  scan.unfold = scan.want_charset;
}

// Whether the line ends with an encoded word's "?=" (=?charset?encoding?text?=):
// its '=' is no soft line break.
bool ends_encoded_word(std::string_view text) {
  if (!text.ends_with("?=")) return false;
  std::size_t start = text.rfind("=?", text.size() - 2);
  if (start == std::string_view::npos) return false;
  std::string_view inside = text.substr(start + 2, text.size() - 2 - (start + 2));
  return std::count(inside.begin(), inside.end(), '?') >= 2;
}

// The readable listing takes the header's folded continuation lines into the
// entry just made (read_unfolded_line).
void unfold_into(scan_state& scan, field_text& field) {
  if (scan.unfold) scan.unfolding = &field;
}

// The first Date (or Sent) header's value for the sent time, its folded
// continuation lines joined as RFC 5322 unfolds them: the line break removed, the
// white space kept.
void take_sent_text(scan_state& scan, const message_line& line) {
  if (!scan.want_sent_time) return;
  auto& text = scan.fields->date_time.sent_text;
  // "Date:" and "Sent:" alike are five bytes.
  bool whole = text.append(line.text.view().substr(5));
  // The folds read here are the readable Date entry's too.
  field_text* unfolding = scan.unfolding;
  for_each_fold(*scan.reader, *scan.look_ahead, [&](std::string_view more) {
    whole = text.append(more) && whole;
    if (unfolding) join_continuation(*unfolding, more);
  });
  if (!whole) text.clear();
}
