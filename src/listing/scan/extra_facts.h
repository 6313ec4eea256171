// What the readable listing asks of the scan beyond the rules: the first
// Message-ID of the header block (read line by line while it is looked for), the
// first charset a Content-Type line names, the first Date (or Sent)
// header's whole value for the sent time, and the unfolding of the entries that
// header lines start.
#pragma once

#include <cstdint>
#include <string_view>

#include "listing/scan/scan_state.h"

// The readable listing's extra facts come from lines that begin with these.
inline constexpr std::string_view k_message_id_name = "Message-ID";
inline constexpr std::string_view k_content_type_name = "Content-Type:";

// Which of the extra facts the scan's options ask for; the scan of each message
// starts with them.
void want_extra_facts(scan_state& scan);
// A Message-ID is looked for in the header block alone: called for every line
// read while one is (read whole), by whichever routine read it, so that the
// empty line that ends the block ends the search.
void note_header_end(scan_state& scan, const message_line& line);
// Where the colon of a Message-ID header line stands (white space may come
// between the name and it), or npos for any other line.
std::size_t message_id_colon(std::string_view text);
// The Message-ID's `value` (what follows the colon of the line read just now)
// with its folded continuation lines, without white space and comments; looked
// for no more.
void take_message_id(scan_state& scan, std::string_view value);
// The charset of a Content-Type line, or of its folded continuation when the line
// names none. `line` holds the line, so that the look at the next one keeps it.
void take_charset(scan_state& scan, const message_line& line);
// The first Date (or Sent) header's value for the sent time, its folded
// continuation lines joined as RFC 5322 unfolds them (the line break removed, the
// white space kept), when the options ask for the sent time; the folds are the
// readable Date entry's too.
void take_sent_text(scan_state& scan, const message_line& line);
// The readable listing takes the header's folded continuation lines into the
// entry just made in `field` (read_unfolded_line).
void unfold_into(scan_state& scan, field_text& field);
// Whether the line ends with an encoded word's "?=" (=?charset?encoding?text?=):
// its '=' is no soft line break.
bool ends_encoded_word(std::string_view text);
