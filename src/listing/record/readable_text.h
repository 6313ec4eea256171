// Header text made readable: RFC 2047 encoded words decoded and every other byte
// turned into UTF-8, for a listing that a person or a UTF-8 reader takes in.
//
// The charsets themselves are converted by the system (the platform table's
// convert_charset); this module only finds the words, decodes B and Q, and
// decides which charset a piece of text is taken in.
//
// Where a message's bytes fit no rule, the choices are:
//  - An encoded word whose charset the system does not know: its decoded bytes are
//    kept when they are valid UTF-8, else taken as windows-1252.
//  - Decoded bytes that are not valid in the word's charset: U+FFFD for each
//    sequence the conversion cannot take.
//  - Invalid base64 (a character outside the alphabet, data after '=' padding, more
//    '=' than the last group lacks, or a lone last character that makes no byte):
//    the word stays as it stands, undecoded. Missing '=' padding, all or part of
//    it, is accepted.
//  - Q: '_' is a space, =XX (either case) the byte XX; an '=' not followed by two
//    hex digits stays as it is.
//  - A word cut short (no closing "?=", as where a field reached its cap), an empty
//    charset or an encoding other than B or Q: left as it stands.
//  - A line break (CR or LF) decoded from a word becomes a space, so that a word
//    cannot end a record's line; a NUL, decoded or not, becomes U+FFFD.
//  - A C1 control (U+0080-U+009F) that a charset conversion gives becomes U+FFFD:
//    such bytes are windows-125x text under another label, or bytes one system's
//    table leaves undefined where the other's gives the control. Valid UTF-8 is
//    kept as it is.
//  - us-ascii and iso-8859-1 (with their aliases) are read as windows-1252, as mail
//    programs and the Windows MIME database do; iso-8859-9 as windows-1254.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/platform.h"

// What one scan's decoding works in between fields: the system's converters it
// opened and its scratch text. It belongs to the scan, not to a thread, so that
// what it takes is taken where the scan's other allocations are.
struct readable_work {
  charset_converters* converters = nullptr;
  std::string converted;
  std::string pending;

  readable_work() = default;
  readable_work(const readable_work&) = delete;
  readable_work& operator=(const readable_work&) = delete;
  ~readable_work() { g_platform.free_charset_converters(converters); }
};

// Appends `text` (the text of one entry of a field, as the scan kept its bytes) to
// `out` as UTF-8 for a listing a person reads:
//  - RFC 2047 encoded words =?charset?B|Q?payload?= (B and Q in any case, any charset
//    the system converts, an RFC 2231 language suffix "charset*lang" allowed) are
//    decoded; white space (spaces, tabs, and line breaks if any) between two adjacent
//    encoded words is dropped (RFC 2047 6.2). Encoded words that touch other text or
//    stand inside double quotes are decoded too, as mail readers do.
//  - the other bytes: when all of them (the entry's text outside encoded words) are
//    valid UTF-8 they stay as they are; otherwise they are converted from `charset`
//    (the message's Content-Type charset; empty when none), and failing that (empty,
//    unknown to the system) from windows-1252. What cannot be converted becomes U+FFFD.
//  - the result is always valid UTF-8 (no overlong forms, no surrogates, nothing above
//    U+10FFFF); a NUL never appears in it.
// The choices for broken words are at the top of this header. A conversion the
// system cannot set up for want of memory or descriptors is a failed allocation:
// the memory handler answers it, as it answers operator new.
void append_readable_text(std::string& out, std::string_view text, std::string_view charset,
                          readable_work& work);

// Appends `text` with every byte that does not start or belong to a valid UTF-8
// sequence replaced by U+FFFD (for file names and other text shown as it is). A NUL
// becomes U+FFFD too.
void append_valid_utf8(std::string& out, std::string_view text);

// The longest prefix of `text` no longer than `limit` bytes that does not split a
// UTF-8 character (text assumed valid UTF-8).
std::size_t utf8_prefix_length(std::string_view text, std::size_t limit);

// Whether `text` needs append_readable_text at all: false for text of printable ASCII,
// tabs and spaces without "=?" (the common case, which must stay cheap: it is asked for
// every field of every record).
bool needs_decoding(std::string_view text);

// The charset named by a Content-Type header text ("text/plain; charset="iso-8859-1"",
// charset= any case, quoted or not, up to ';', white space or end), empty when none.
std::string_view content_type_charset(std::string_view content_type_text);
